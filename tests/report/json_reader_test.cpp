#include "report/json_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

// The members as (name, value), sorted by name so that the table's order
// does not blur what was read.
Members Parse(const std::string& text) {
    JsonObject request;
    ParseRequest(text, request);
    Members members;
    request.ForEach([&members](const JsonMember& m) { members.emplace_back(m.name, m.value); });
    std::sort(members.begin(), members.end());
    return members;
}

TEST(ParseRequest, Requests) {
    const struct {
        const char* what;
        std::string text;
        Members members;
    } cases[] = {
        {"fix request", R"({"0": "fix", "1": "Fix"})", {{"0", "fix"}, {"1", "Fix"}}},
        {"compact", R"({"0":"fix","1":"fix"})", {{"0", "fix"}, {"1", "fix"}}},
        {"line breaks",
         "{\r\n\t\"0\" :\n \"fix\" ,\r\n \"1\":\"fix\"\n}\n",
         {{"0", "fix"}, {"1", "fix"}}},
        {"escaped quote kept", R"({"0": "a\"b"})", {{"0", R"(a\"b)"}}},
        {"array value", R"({"fixes": ["0", "1"]})", {{"fixes", R"(["0", "1"])"}}},
        {"bare number", R"({"0": 5})", {{"0", ""}, {"5", ""}}},
        {"bare word takes next quoted text",
         R"({"0": true, "1": "fix"})",
         {{"0", "1"}, {"fix", ""}}},
        {"values trimmed", R"({"3": "  fix "})", {{"3", "fix"}}},
        {"colon in value", R"({"0": "C:\x", "1": "fix"})", {{"0", R"(C:\x)"}, {"1", "fix"}}},
        {"colon in name", R"({"a:b": "fix"})", {{"a", ":"}, {"fix", ""}}},
        {"nested object", R"({"outer": {"0": "fix"}})", {{"fix", ""}, {"outer", "0"}}},
        {"inner array ends array",
         R"({"a": [["x"], "y"], "b": "fix"})",
         {{"a", R"([["x"])"}, {"y] b", "fix"}}},
        {"bracket inside quotes", R"({"a": ["x]y"], "b": "c"})", {{"a", R"(["x]y"])"}, {"b", "c"}}},
        {"unterminated array", R"({"a": ["x", "b": "fix"})", {{"a", "[]"}}},
        {"empty array", R"({"a": [], "b": "c"})", {{"a", "[]"}, {"b", "c"}}},
        {"unterminated string", R"({"0": "fix)", {{"0", ""}}},
        {"unterminated after members", R"({"0": "fix", "1": "fix)", {{"0", "fix"}, {"1", ""}}},
        {"unterminated after white space", "  \t{\"0\": \"fix", {{"0", ""}}},
        {"empty", "", {}},
        {"blank", " \t\r\n", {}},
        {"braces only", "{}", {}},
        {"colons only", ":::", {}},
        {"name without value", R"({"0")", {{"0", ""}}},
        {"empty name dropped", R"({"": "fix", "1": "x"})", {{"1", "x"}}},
        {"text after the last value", R"({"0": "fix"} trailing)", {{"0", "fix"}, {"trailing", ""}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.members, Parse(c.text)) << c.what << ": " << c.text;
}

TEST(ParseRequest, RepeatedNameKeepsFirstPlace) {
    JsonObject request;
    ParseRequest(R"({"user name": "a", "new value": "b", "user name": "c"})", request);
    std::vector<std::string> order;
    request.ForEach([&order](const JsonMember& m) { order.push_back(m.name + "=" + m.value); });
    EXPECT_EQ((std::vector<std::string>{"new value=b", "user name=c"}), order);
}

TEST(ParseRequest, StopsAtTheEndOfTheGivenText) {
    const std::string buffer = R"({"0": "fix", "1": "fix"})";
    JsonObject request;
    ParseRequest(std::string_view(buffer).substr(0, 14), request); // {"0": "fix", "
    EXPECT_EQ(1u, request.Count());
    EXPECT_EQ("fix", request.Lookup("0")->value);
}

TEST(RequestTextFromWide, ConvertsWithTheThreadCodePage) {
    EXPECT_EQ("", RequestTextFromWide(nullptr));
    const WCHAR empty[] = {0};
    EXPECT_EQ("", RequestTextFromWide(empty));
    const WCHAR request[] = {'{', '"', '0', '"', ':', ' ', '"', 'f', 'i', 'x', '"', '}', 0};
    EXPECT_EQ(R"({"0": "fix"})", RequestTextFromWide(request));
    if (GetACP() == 1252) {
        const WCHAR high[] = {0x20AC, 0x00E9, 0};
        EXPECT_EQ("\x80\xE9", RequestTextFromWide(high));
    }
}

} // namespace
