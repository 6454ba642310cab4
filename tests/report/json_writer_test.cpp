#include "report/json_writer.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string SerializeOneString(const std::string& value) {
    JsonObject object;
    SetString(object, "v", value);
    return Serialize(object);
}

TEST(JsonWriter, StringValuesAreQuotedTrimmedAndOnlyQuotesEscaped) {
    const struct {
        const char* value;
        const char* written;
    } cases[] = {
        {"plain", R"({"v": "plain"})"},
        {R"(two "quoted" words)", R"({"v": "two \"quoted\" words"})"},
        {R"(a\"b)", R"({"v": "a\\"b"})"},
        {R"("")", R"({"v": "\"\""})"},
        {R"(HKEY_LOCAL_MACHINE\SOFTWARE\x)", R"({"v": "HKEY_LOCAL_MACHINE\SOFTWARE\x"})"},
        {"   ", R"({"v": ""})"},
        {"", R"({"v": ""})"},
        {" \t\r\n\v\f inner  space \f\v\n\r\t ", R"({"v": "inner  space"})"},
        {"ctl\x01\x1f byte\xE9\x80", "{\"v\": \"ctl\x01\x1f byte\xE9\x80\"}"},
        {"[not an array", R"({"v": [not an array})"},
        {"  [x]", R"({"v": [x]})"},
        {"x[", R"({"v": "x["})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::string(c.written) + "\n", SerializeOneString(c.value)) << c.value;
}

TEST(JsonWriter, NumbersAreDecimalTextInQuotes) {
    const struct {
        LONGLONG number;
        const char* written;
    } cases[] = {
        {0, R"({"n": "0"})"},
        {7, R"({"n": "7"})"},
        {-12, R"({"n": "-12"})"},
        {4294967295LL, R"({"n": "4294967295"})"},
        {LLONG_MAX, R"({"n": "9223372036854775807"})"},
        {LLONG_MIN, R"({"n": "-9223372036854775808"})"},
    };
    for (const auto& c : cases) {
        JsonObject object;
        SetInt64(object, "n", c.number);
        EXPECT_EQ(std::string(c.written) + "\n", Serialize(object)) << c.number;
    }
}

TEST(JsonWriter, EmptyObjectIsEmptyText) {
    EXPECT_EQ("", Serialize(JsonObject()));
}

TEST(JsonWriter, NamesAreWrittenAsTheyAre) {
    JsonObject object;
    SetString(object, "a \"b\"\\", "v");
    EXPECT_EQ("{\"a \"b\"\\\": \"v\"}\n", Serialize(object));
}

TEST(ReportToWide, ConvertsWithTheThreadCodePageKeepingTheLineFeed) {
    EXPECT_TRUE(ReportToWide("").empty());
    const WideText wide = ReportToWide("{\"v\": \"a\\b\"}\n");
    const char expected[] = "{\"v\": \"a\\b\"}\n";
    ASSERT_EQ(sizeof expected - 1, wide.size());
    for (size_t i = 0; i < wide.size(); ++i)
        EXPECT_EQ(static_cast<WCHAR>(expected[i]), wide[i]) << "at " << i;

    if (GetACP() == 1252) {
        const WideText high = ReportToWide("\x80\xE9\n");
        ASSERT_EQ(3u, high.size());
        EXPECT_EQ(0x20AC, high[0]);
        EXPECT_EQ(0x00E9, high[1]);
        EXPECT_EQ(0x000A, high[2]);
    }
}

} // namespace
