#include "host/exclusion_file.h"

#include <gtest/gtest.h>

namespace {

using host::ExclusionFile;

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Fabrikam\\Sync";

std::string Utf16Le(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii)
        bytes += std::string{c, '\0'};
    return bytes;
}

// Adding a key keeps every byte of the file and the editor's line ends and
// encoding; removing it again gives the file back as it was.
TEST(ExclusionFile, AddAndRemoveKeepTheFilesOwnEncodingAndLineEnds) {
    const std::string key = kKey;
    struct Case {
        std::string before, added, removed;
    } cases[] = {
        {"; list\r\n[Excluded keys]\r\nHKEY_USERS\\*\\A\r\n",
         "; list\r\n[Excluded keys]\r\nHKEY_USERS\\*\\A\r\n" + key + "\r\n", ""},
        {"HKEY_USERS\\*\\A\n", "HKEY_USERS\\*\\A\n" + key + "\n", ""},
        {"HKEY_USERS\\*\\A\rB\r", "HKEY_USERS\\*\\A\rB\r" + key + "\r", ""},
        {"HKEY_USERS\\*\\A", "HKEY_USERS\\*\\A\r\n" + key + "\r\n", "HKEY_USERS\\*\\A\r\n"},
        {"", key + "\r\n", ""},
        {"\xEF\xBB\xBF"
         "A\n",
         "\xEF\xBB\xBF"
         "A\n" +
             key + "\n",
         ""},
        {Utf16Le("A\n"), Utf16Le("A\n" + key + "\n"), ""},
    };
    for (const Case& c : cases) {
        ExclusionFile file = host::ParseExclusionFile(c.before);
        EXPECT_EQ(c.before, host::SerializeExclusionFile(file));
        ASSERT_TRUE(host::AddExclusion(&file, kKey));
        EXPECT_EQ(c.added, host::SerializeExclusionFile(file));
        file = host::ParseExclusionFile(c.added);
        EXPECT_EQ(kKey, host::ExcludedKeys(file).back());
        ASSERT_TRUE(host::RemoveExclusion(&file, kKey));
        EXPECT_EQ(c.removed.empty() ? c.before : c.removed, host::SerializeExclusionFile(file));
    }
}

TEST(ExclusionFile, MatchesKeysAsTheEngineDoes) {
    ExclusionFile file = host::ParseExclusionFile(
        "; HKEY_LOCAL_MACHINE\\SOFTWARE\\Commented\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Header]\r\n"
        "hkey_local_machine\\software\\fabrikam\\sync\\=LOCKED\r\n");
    EXPECT_EQ(std::vector<std::string>{"hkey_local_machine\\software\\fabrikam\\sync\\=LOCKED"},
              host::ExcludedKeys(file));
    EXPECT_FALSE(host::AddExclusion(&file, kKey));
    EXPECT_FALSE(host::RemoveExclusion(&file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Commented"));
    EXPECT_FALSE(host::RemoveExclusion(&file, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Header"));
    EXPECT_TRUE(host::RemoveExclusion(&file, kKey));
    EXPECT_TRUE(host::ExcludedKeys(file).empty());
}

TEST(ExclusionFile, TakesLongAndShortRootNamesOfTheEnginesRoots) {
    struct Case {
        const char* typed;
        const char* stored; // empty: refused
    } cases[] = {
        {"HKLM\\SOFTWARE\\X\\", "HKEY_LOCAL_MACHINE\\SOFTWARE\\X"},
        {"hku\\S-1-5-18", "HKEY_USERS\\S-1-5-18"},
        {"HKEY_CLASSES_ROOT\\CLSID", "HKEY_CLASSES_ROOT\\CLSID"},
        {"HKCU\\Software", "HKEY_CURRENT_USER\\Software"},
        {"HKEY_CURRENT_CONFIG\\System", ""},
        {"SOFTWARE\\X", ""},
        {"HKLM\\A\nHKLM\\B", ""},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(c.stored, host::ExclusionKeyPath(c.typed, &error)) << c.typed;
        EXPECT_EQ(*c.stored == '\0', !error.empty()) << c.typed;
    }
}

} // namespace
