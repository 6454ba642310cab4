#include "host/chosen_problems.h"
#include "host/report_format.h"

#include <gtest/gtest.h>

namespace {

using host::Report;

Report MustParse(const std::string& text) {
    Report report;
    std::string error;
    EXPECT_TRUE(host::ParseReport(text, &report, &error)) << error << "\n" << text;
    return report;
}

// The engine escapes quotes but not backslashes, so \" is ambiguous; what
// follows it decides.
TEST(ReportFormat, TellsEscapedQuotesFromValuesEndingInABackslash) {
    struct Case {
        const char* encoded;
        const char* value;
    } cases[] = {
        {"\"C:\\\\Program Files\\\\App\\\\\"", "C:\\\\Program Files\\\\App\\\\"},
        {"\"C:\\Dir\\\"", "C:\\Dir\\"},
        {"\"\\\"C:\\App\\app.exe\\\" /run\"", "\"C:\\App\\app.exe\" /run"},
        {"\"say \\\"hi\\\"\"", "say \"hi\""},
        {"\"\"", ""},
    };
    for (const auto& c : cases) {
        const std::string text =
            std::string("{\"finished\": \"scan\", \"problems\": [{\"new value\": ") + c.encoded +
            ", \"key path\": \"K\", \"id\": \"0\", \"section\": \"1\"}]}\n";
        const Report report = MustParse(text);
        ASSERT_EQ(1u, report.entries.size()) << text;
        EXPECT_EQ(c.value, host::Member(report.entries[0], "new value")) << text;
        EXPECT_EQ("0", host::Member(report.entries[0], "id")) << text;
    }
}

// Names may hold what looks like the end of a member (a text starting with
// "[" is written bare): each problem is read exactly where the bytes allow
// one reading, and marked unreadable where they allow more.
TEST(ReportFormat, MarksOnlyTheProblemsThatReadMoreThanOneWay) {
    const std::string next = "{\"key path\": \"L\", \"id\": \"1\", \"section\": \"1\"}]}\n";
    struct Case {
        const char* first; // the members before "key path" of problem 0
        const char* valueName; // empty: unreadable
    } cases[] = {
        {"\"value name\": [a\", \"b, ", "[a\", \"b"},
        {"\"value name\": \"a\\\", \\\"key path\\\": \\\"b\", ", "a\", \"key path\": \"b"},
        {"\"value name\": \"x\\\", ", "x\\"},
        {"\"value name\": [a, \"user name\": \"Bob\", ", ""},
        // Problems are numbered in order: a second problem 0 is no reading.
        {"\"value name\": [a, \"key path\": \"K\", \"id\": \"0\", \"section\": \"1\"},{\"value name\": [b, ",
         "[a, \"key path\": \"K\", \"id\": \"0\", \"section\": \"1\"},{\"value name\": [b"},
    };
    for (const auto& c : cases) {
        const std::string text = std::string("{\"finished\": \"scan\", \"problems\": [{") + c.first +
                                 "\"key path\": \"K\", \"id\": \"0\", \"section\": \"1\"}," + next;
        const Report report = MustParse(text);
        ASSERT_EQ(2u, report.entries.size()) << text;
        EXPECT_EQ(*c.valueName == '\0', host::IsUnreadable(report.entries[0])) << text;
        EXPECT_EQ(c.valueName, host::Member(report.entries[0], "value name")) << text;
        EXPECT_EQ("L", host::Member(report.entries[1], "key path")) << text;
    }
}

TEST(ReportFormat, RejectsWhatIsNotAReport) {
    for (const char* text : {"", "{", "{\"finished\": }", "{\"a\": \"b\"", "[1,2]",
                             "{\"problems\": [{\"id\": \"0\"}", "{\"a\": \"b\"} trailing"}) {
        Report report;
        std::string error;
        EXPECT_FALSE(host::ParseReport(text, &report, &error)) << text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(ReportFormat, StrictJsonEscapesEverythingJsonRequires) {
    Report report;
    report.members = {{"finished", "fix"}};
    report.arrayName = "fixes";
    report.entries = {{{"key path", "HKLM\\A \"q\""}, {"new value", "tab\there\x01"}}};
    EXPECT_EQ("{\"finished\": \"fix\", \"fixes\": [{\"key path\": \"HKLM\\\\A \\\"q\\\"\", "
              "\"new value\": \"tab\\there\\u0001\"}]}\n",
              host::ToStrictJson(report));
}

// A chosen problem is found again by what it is; a problem reported twice
// alike keeps its rank, and one gone from the fresh scan refuses the lot.
TEST(ChosenProblems, AreFoundAgainByWhatTheyAreNotWhereTheyStood) {
    auto problems = [](std::vector<std::pair<std::string, std::string>> rows) {
        Report report;
        for (const auto& [key, value] : rows)
            report.entries.push_back({{"key path", key}, {"value name", value},
                                      {"id", std::to_string(report.entries.size())},
                                      {"section", "2"}});
        return report;
    };
    const Report seen = problems({{"A", ""}, {"B", "v"}, {"B", "v"}, {"C", ""}});
    const Report fresh = problems({{"0", ""}, {"B", "v"}, {"C", ""}, {"B", "v"}, {"B", "w"}});
    std::vector<int> ids;
    std::string missing;
    ASSERT_TRUE(host::MatchChosen(seen, {1, 2, 3}, fresh, &ids, &missing));
    EXPECT_EQ((std::vector<int>{1, 3, 2}), ids);
    EXPECT_FALSE(host::MatchChosen(seen, {3, 0}, fresh, &ids, &missing));
    EXPECT_EQ("problem 0 (A)", missing);
    EXPECT_TRUE(ids.empty());
    EXPECT_FALSE(host::MatchChosen(seen, {9}, fresh, &ids, &missing));
}

} // namespace
