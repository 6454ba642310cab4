// Random and truncated requests: the reader must finish on any bytes, never
// reading outside the text (each input sits in a buffer of exactly its size,
// without a terminator, so the sanitizer build sees any overrun), and what it
// stores must still be a well-formed member.
#include "report/json_reader.h"
#include "report/json_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

namespace {

// xorshift32: the same inputs on every run and platform.
class Random {
public:
    explicit Random(uint32_t seed) : m_state(seed) {}
    uint32_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    uint32_t Below(uint32_t bound) { return Next() % bound; }

private:
    uint32_t m_state;
};

bool IsRequestSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void ExpectWellFormed(const JsonObject& request, const std::string& input) {
    request.ForEach([&request, &input](const JsonMember& m) {
        ASSERT_FALSE(m.name.empty()) << input;
        EXPECT_EQ(std::string::npos, m.name.find_first_of("{}\",")) << m.name << " from " << input;
        EXPECT_FALSE(IsRequestSpace(m.name.front()) || IsRequestSpace(m.name.back())) << input;
        if (!m.value.empty()) {
            EXPECT_FALSE(IsRequestSpace(m.value.front()) || IsRequestSpace(m.value.back()));
        }
        EXPECT_EQ(&m, request.Lookup(m.name)) << "names are unique";
    });
}

void ParseExactBuffer(const std::string& input) {
    const std::unique_ptr<char[]> exact(new char[input.size() + 1]);
    std::copy(input.begin(), input.end(), exact.get());
    JsonObject request;
    ParseRequest(std::string_view(exact.get(), input.size()), request);
    ExpectWellFormed(request, input);
    Serialize(request);
}

std::string RandomRequest(Random& random) {
    // Mostly the characters the reader reacts to, some arbitrary bytes.
    static const char kAlphabet[] = "{}[]\":,\\ \t\r\n01fix";
    std::string text(random.Below(40), '\0');
    for (char& c : text) {
        c = random.Below(8) == 0 ? static_cast<char>(random.Next())
                                 : kAlphabet[random.Below(sizeof kAlphabet - 1)];
    }
    return text;
}

TEST(RequestSweep, RandomTextNeverBreaksTheReader) {
    Random random(0x1234567u);
    for (int i = 0; i < 20000; ++i)
        ParseExactBuffer(RandomRequest(random));
}

TEST(RequestSweep, EveryTruncationOfValidRequests) {
    const std::string requests[] = {
        R"({"0": "fix", "1": "Fix", "2": "fix"})",
        R"({"fixes": ["0", "1"], "3": "a\"b", "x": "[y]"})",
        R"({"a": [["x"], "y"], "b": {"c": "d"}, "e": 5, "f": true})",
        "{\r\n\t\"0\" : \"fix\" ,\r\n\t\"10\" : \"fix\\\\\"\r\n}",
    };
    for (const std::string& request : requests) {
        for (size_t length = 0; length <= request.size(); ++length)
            ParseExactBuffer(request.substr(0, length));
    }
}

// A request of plain names and values comes back unchanged through the
// writer and the reader: what the host echoes, the engine reads.
TEST(RequestSweep, WrittenObjectsReadBackUnchanged) {
    static const char kPlain[] = "abcXYZ019 _-.;:\\/";
    Random random(0xBADC0DEu);
    for (int round = 0; round < 2000; ++round) {
        JsonObject written;
        const uint32_t members = random.Below(6);
        for (uint32_t i = 0; i < members; ++i) {
            std::string name = std::to_string(random.Below(50)) + "n";
            std::string value(random.Below(12), 'v');
            for (char& c : value)
                c = kPlain[random.Below(sizeof kPlain - 1)];
            if (!value.empty())
                value += 'w'; // a final backslash would hide the closing quote
            SetString(written, name, value);
        }
        JsonObject read;
        const std::string text = Serialize(written);
        ParseRequest(text, read);
        ASSERT_EQ(written.Count(), read.Count()) << text;
        written.ForEach([&read, &text](const JsonMember& m) {
            const JsonMember* back = read.Lookup(m.name);
            ASSERT_NE(nullptr, back) << m.name << " in " << text;
            EXPECT_EQ(m.value, back->value) << text;
        });
    }
}

} // namespace
