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

TEST(JsonWriter, ArraysJoinElementsWithBareCommas) {
    JsonObjectArray array;
    JsonObject empty;
    SetArray(empty, "problems", array);
    EXPECT_EQ("{\"problems\": []}\n", Serialize(empty));

    JsonObject element;
    SetString(element, "id", "0");
    array.Add(element);
    SetString(element, "id", "1");
    array.Add(element);
    JsonObject two;
    SetArray(two, "problems", array);
    EXPECT_EQ("{\"problems\": [{\"id\": \"0\"},{\"id\": \"1\"}]}\n", Serialize(two));
}

struct Problem {
    int section;
    const char* keyPath;
    const char* valueName;
    const char* newValue;
    const char* userName;
    bool fixed;
};

const Problem kExampleProblems[] = {
    {4, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "Demo", "", "",
     true},
    {6, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo", "", "",
     "", false},
};

// Builds a scan report, or a fix report, in the order the reports set their
// members: the order of insertion decides the bytes within a bucket.
std::string Report(const Problem* problems, size_t count, bool fix) {
    JsonObjectArray array;
    for (size_t i = 0; i < count; ++i) {
        const Problem& p = problems[i];
        JsonObject item;
        SetInt64(item, "id", static_cast<LONGLONG>(i));
        SetInt64(item, "section", p.section);
        if (fix)
            SetString(item, "key path", p.keyPath);
        if (*p.userName)
            SetString(item, "user name", p.userName);
        if (!fix)
            SetString(item, "key path", p.keyPath);
        if (*p.valueName) {
            SetString(item, "value name", p.valueName);
            if (*p.newValue)
                SetString(item, "new value", p.newValue);
        }
        if (fix)
            SetString(item, "fixed", p.fixed ? "true" : "false");
        array.Add(item);
    }
    JsonObject document;
    SetString(document, "finished", fix ? "fix" : "scan");
    SetArray(document, fix ? "fixes" : "problems", array);
    if (fix && count == 0)
        SetString(document, "error", "Empty problems array");
    return Serialize(document);
}

TEST(JsonReports, ScanReportBytes) {
    EXPECT_EQ(
        R"({"finished": "scan", "problems": [{"value name": "Demo", "key path": "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run", "id": "0", "section": "4"},{"key path": "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Demo", "id": "1", "section": "6"}]})"
        "\n",
        Report(kExampleProblems, 2, false));
    EXPECT_EQ("{\"finished\": \"scan\", \"problems\": []}\n", Report(nullptr, 0, false));
}

TEST(JsonReports, ProblemMembersComeOutInTableOrder) {
    const Problem full[] = {
        {1, "HKEY_USERS\\S-1-5-21\\Software\\X", " Val\"ue ", "a;b", "Ann", false}};
    EXPECT_EQ(
        R"({"finished": "scan", "problems": [{"value name": "Val\"ue", "user name": "Ann", "new value": "a;b", "key path": "HKEY_USERS\S-1-5-21\Software\X", "id": "0", "section": "1"}]})"
        "\n",
        Report(full, 1, false));
}

TEST(JsonReports, FixReportBytes) {
    EXPECT_EQ(
        R"({"fixes": [{"value name": "Demo", "key path": "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run", "id": "0", "fixed": "true", "section": "4"},{"key path": "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Demo", "id": "1", "fixed": "false", "section": "6"}], "finished": "fix"})"
        "\n",
        Report(kExampleProblems, 2, true));
    EXPECT_EQ("{\"error\": \"Empty problems array\", \"fixes\": [], \"finished\": \"fix\"}\n",
              Report(nullptr, 0, true));
}

// The stand-in's code page functions may not be in place yet; the
// conversion is only checked where the platform converts at all.
bool PlatformConvertsText() {
    WCHAR probe[2] = {};
    return MultiByteToWideChar(CP_THREAD_ACP, 0, "a", -1, probe, 2) == 2 && probe[0] == 'a';
}

TEST(ReportToWide, ConvertsWithTheThreadCodePageKeepingTheLineFeed) {
    EXPECT_TRUE(ReportToWide("").empty());
    if (!PlatformConvertsText())
        GTEST_SKIP() << "MultiByteToWideChar does not convert on this platform yet";

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
