#include "host/report_table.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using host::Members;
using host::Report;

const char kAliceSid[] = "S-1-5-21-1004336348-1177238915-682003330-1001";

Report ScanReport() {
    Report report;
    report.members = {{"finished", "scan"}};
    report.arrayName = "problems";
    report.entries = {
        {{"id", "0"},
         {"section", "4"},
         {"key path", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run"},
         {"value name", "Skyracer Launcher"}},
        {{"id", "1"},
         {"section", "0"},
         {"key path", std::string("HKEY_USERS\\") + kAliceSid +
                          "\\Software\\Northwind\\Player\\Skins\\Classic"},
         {"value name", "Skins"},
         {"new value", "C:\\Program Files (x86)\\Northwind\\Player\\skins\\classic.dll"},
         {"user name", "Björn"}},
        {{"id", "2"},
         {"section", "4"},
         {"key path", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
         {"value name", "ContosoFirstRun"}},
    };
    return report;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

size_t WidestLine(const std::string& table) {
    size_t widest = 0;
    for (const std::string& line : Lines(table))
        widest = std::max(widest, host::DisplayWidth(line));
    return widest;
}

TEST(ReportTable, FitsEveryLineToTheScreenAndShortensOnlyWhatMustBe) {
    const size_t natural = WidestLine(host::ToTable(ScanReport(), {1000, false, {}}));
    for (size_t width : {size_t{40}, size_t{60}, size_t{80}, natural - 1, natural, size_t{200}}) {
        const std::string table = host::ToTable(ScanReport(), {width, false, {}});
        EXPECT_LE(WidestLine(table), width) << width << ":\n" << table;
        const bool shortened = table.find("\xE2\x80\xA6") != std::string::npos;
        EXPECT_EQ(width < natural, shortened) << width << ":\n" << table;
        EXPECT_EQ(width >= 80, table.find("HKU\\Björn\\") != std::string::npos) << table;
        EXPECT_EQ(std::string::npos, table.find(kAliceSid)) << table;
    }
}

TEST(ReportTable, GroupsBySectionWithCountsAndKeepsFullPathsWithoutAWidth) {
    const std::vector<std::string> lines = Lines(host::ToTable(ScanReport(), {0, false, {}}));
    ASSERT_EQ(7u, lines.size());
    EXPECT_EQ("user software (1)", lines[1]);
    EXPECT_EQ(0u, lines[2].find("1   HKEY_USERS\\S-1-5-21-")) << lines[2];
    EXPECT_NE(std::string::npos, lines[2].find("Björn")) << lines[2];
    EXPECT_EQ("startup (2)", lines[3]);
    EXPECT_EQ('0', lines[4][0]);
    EXPECT_EQ('2', lines[5][0]);
    EXPECT_EQ("3 problems in 2 sections", lines[6]);
}

// Colour is the only command the table sends a terminal: control
// characters of registry names are shown escaped.
TEST(ReportTable, ColoursOnlyWhenAskedAndPutsNotesBelowTheirRow) {
    Report named = ScanReport();
    named.entries[0][3].second = "Sky\x1B]0;x\x07racer\xC2\x9B""2J";
    const std::string plain = host::ToTable(named, {0, false, {}});
    EXPECT_EQ(std::string::npos, plain.find_first_of("\x1B\x07\x9B")) << plain;
    EXPECT_NE(std::string::npos, plain.find("Sky\\x1B]0;x\\x07racer\\x9B2J")) << plain;
    EXPECT_NE(std::string::npos,
              host::ToTable(ScanReport(), {80, true, {}}).find("\x1B[1;36mstartup (2)\x1B[0m"));
    const std::vector<std::string> lines =
        Lines(host::ToTable(ScanReport(), {0, false, {{"2", {"data: x", "file: y (missing)"}}}}));
    ASSERT_EQ(9u, lines.size());
    EXPECT_EQ('2', lines[5][0]);
    EXPECT_EQ("    data: x", lines[6]);
    EXPECT_EQ("    file: y (missing)", lines[7]);
}

TEST(ReportTable, FixTablesCountWhatWasFixed) {
    Report report;
    report.members = {{"finished", "fix"}, {"error", "Cannot create the undo file (error 5)"}};
    report.arrayName = "fixes";
    report.entries = {{{"id", "0"}, {"section", "9"}, {"fixed", "true"}},
                      {{"id", "1"}, {"section", "42"}, {"fixed", "false"}}};
    const std::vector<std::string> lines = Lines(host::ToTable(report, {0, false, {}}));
    EXPECT_EQ("shared DLLs (1)", lines[1]);
    EXPECT_EQ("42 (1)", lines[3]);
    EXPECT_EQ("2 selected, 1 fixed (Cannot create the undo file (error 5))", lines.back());
}

TEST(ReportTable, ShortensInTheMiddleByCharactersAndAtABackslashWhenOneIsNear) {
    struct Case {
        const char* text;
        size_t width;
        const char* shortened;
    } cases[] = {
        {"abcdefghij", 10, "abcdefghij"},
        {"abcdefghij", 7, "ab…ghij"},
        {"Björn\\Software", 7, "Bj…ware"},
        {"abc", 1, "…"},
        {"HKLM\\SOFTWARE\\Microsoft\\Windows\\Run", 24, "HKLM\\SO…\\Windows\\Run"},
        {"C:\\Program Files\\Northwind\\skins\\classic.dll", 20, "C:\\Pro…\\classic.dll"},
        {"abc", 0, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shortened, host::ShortenMiddle(c.text, c.width)) << c.text << " " << c.width;
}

TEST(ReportTable, AbbreviatesRootsAndNamesUsersInsteadOfSids) {
    const std::string sid = kAliceSid;
    struct Case {
        std::string keyPath, user, shortPath;
    } cases[] = {
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\X", "", "HKLM\\SOFTWARE\\X"},
        {"HKEY_CLASSES_ROOT\\CLSID", "", "HKCR\\CLSID"},
        {"HKEY_USERS\\" + sid + "\\Software", "Alice", "HKU\\Alice\\Software"},
        {"HKEY_USERS\\" + sid + "_Classes\\Applications", "Alice",
         "HKU\\Alice_Classes\\Applications"},
        {"HKEY_USERS\\" + sid + "\\Software", "", "HKU\\" + sid + "\\Software"},
        {"HKEY_USERS\\.DEFAULT\\Software", "Alice", "HKU\\.DEFAULT\\Software"},
        {"HKEY_LOCAL_MACHINEX\\Y", "", "HKEY_LOCAL_MACHINEX\\Y"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.shortPath, host::ShortKeyPath(c.keyPath, c.user)) << c.keyPath;
}

} // namespace
