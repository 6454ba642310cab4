#include "host/exclusion_file.h"
#include "support/text.h"

#include <gtest/gtest.h>

namespace {

using hmtest::Utf16WithBom;

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Fabrikam\\Sync";

// Adding a key keeps every byte of the file and the editor's line ends and
// encoding, writing the key as the engine will read it; removing it again
// gives the file back as it was.
TEST(ExclusionFile, AddAndRemoveKeepTheFilesOwnEncodingAndLineEnds) {
    const std::string key = kKey, cafe = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9";
    struct Case {
        std::string line, before, added, removed;
    } cases[] = {
        {key, "; list\r\n[Excluded keys]\r\nHKEY_USERS\\*\\A\r\n",
         "; list\r\n[Excluded keys]\r\nHKEY_USERS\\*\\A\r\n" + key + "\r\n", ""},
        {key, "HKEY_USERS\\*\\A\n", "HKEY_USERS\\*\\A\n" + key + "\n", ""},
        {key, "HKEY_USERS\\*\\A\rB\r", "HKEY_USERS\\*\\A\rB\r" + key + "\r", ""},
        {key, "HKEY_USERS\\*\\A", "HKEY_USERS\\*\\A\r\n" + key + "\r\n", "HKEY_USERS\\*\\A\r\n"},
        {key, "", key + "\r\n", ""},
        {cafe, "", cafe + "\r\n", ""},
        {cafe, "\xEF\xBB\xBF" "A\n", "\xEF\xBB\xBF" "A\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9\n", ""},
        {cafe, Utf16WithBom("A\n"), Utf16WithBom("A\n" + cafe + "\n"), ""},
        {cafe, Utf16WithBom("A\r\n", u"", true),
         Utf16WithBom("A\r\n" + cafe + "\r\n", u"", true), ""},
    };
    for (const Case& c : cases) {
        ExclusionFile file = ParseExclusionFile(c.before);
        EXPECT_EQ(c.before, SerializeExclusionFile(file));
        host::AppendLine(&file, c.line);
        EXPECT_EQ(c.added, SerializeExclusionFile(file));
        file = ParseExclusionFile(c.added);
        EXPECT_EQ(c.line, EngineLine(file, file.lines.size() - 1));
        ASSERT_EQ(1u, host::RemoveLines(&file, c.line));
        EXPECT_EQ(c.removed.empty() ? c.before : c.removed, SerializeExclusionFile(file));
    }
}

// Whatever spelling makes the engine leave a key out is found for it, and a
// line that keeps out an ancestor covers the key without naming it.
TEST(ExclusionFile, FindsTheLinesTheEngineObeys) {
    ExclusionFile file = ParseExclusionFile(
        "; HKEY_LOCAL_MACHINE\\SOFTWARE\\Commented\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Header]\r\n"
        "hkey_local_machine\\software\\fabrikam\\sync\\\\=LOCKED\r\nHKEY_CLASSES_ROOT\\Hm\r\n");
    EXPECT_EQ((std::vector<std::string>{"hkey_local_machine\\software\\fabrikam\\sync\\\\=LOCKED",
                                        "HKEY_CLASSES_ROOT\\Hm"}),
              host::ExcludedKeys(file));
    EXPECT_EQ(2u, host::CoveringLine(file, kKey));
    EXPECT_EQ(3u, host::CoveringLine(file, "HKEY_CLASSES_ROOT\\HM\\CLSID"));
    EXPECT_EQ(4u, host::CoveringLine(file, "HKEY_CLASSES_ROOT\\HmX"));
    EXPECT_EQ(0u, host::RemoveLines(&file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Commented"));
    EXPECT_EQ(0u, host::RemoveLines(&file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Header"));
    EXPECT_EQ(0u, host::RemoveLines(&file, "HKEY_CLASSES_ROOT\\Hm\\CLSID"));
    EXPECT_EQ(1u, host::RemoveLines(&file, kKey));
}

TEST(ExclusionFile, WritesOnlyLinesTheEngineReadsBackAsTheKey) {
    const std::string sid = "S-1-5-21-1-2-3-1001";
    const std::string longKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + std::string(995, 'L');
    struct Case {
        std::string typed;
        std::string line; // empty: refused
    } cases[] = {
        {"HKLM\\SOFTWARE\\X\\", "HKEY_LOCAL_MACHINE\\SOFTWARE\\X"},
        {"hku\\S-1-5-18", "HKEY_USERS\\S-1-5-18"},
        {"HKCU\\Software\\X", "HKEY_USERS\\" + sid + "\\Software\\X"},
        {"HKCU", "HKEY_USERS\\" + sid},
        {"HKLM\\SOFTWARE\\Caf\xC3\xA9", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9"},
        {longKey, longKey},
        {longKey + "L", ""},
        {"HKLM\\SOFTWARE\\A=Locked", ""},
        {"HKLM\\SOFTWARE\\A=BLOCKEDB", ""},
        {"HKLM\\SOFTWARE\\\xE5\x90\x8D\xE5\x89\x8D", ""},
        {"HKEY_CURRENT_CONFIG\\System", ""},
        {"SOFTWARE\\X", ""},
        {"HKLM\\A\nHKLM\\B", ""},
    };
    for (const Case& c : cases) {
        std::string error;
        std::string path = host::ExclusionKeyPath(c.typed, &error);
        if (!path.empty())
            path = host::ExclusionLine(path, sid, &error);
        EXPECT_EQ(c.line, path) << c.typed;
        EXPECT_EQ(c.line.empty(), !error.empty()) << c.typed;
    }
}

} // namespace
