#include "report/json_writer.h"
#include "support/text.h"

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
    const std::string report = "{\"v\": \"a\\b\"}\n";
    EXPECT_EQ(hmtest::Wide(report), ReportToWide(report));
    if (GetACP() == 1252) {
        EXPECT_EQ((WideText{0x20AC, 0x00E9, 0x000A}), ReportToWide("\x80\xE9\n"));
    }
}

} // namespace
