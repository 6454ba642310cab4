// regkeys.txt beside the plug-in, the exclusion test and the software walks'
// filter. The file is written where the engine looks for it and removed
// again by the machine builder.
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "base/text.h"
#include "scan/scan_driver.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

namespace {

using Entries = std::set<std::string, std::less<>>;

constexpr char kBuiltIn[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\WOW6432NODE\\WOW6432NODE\\WOW6432NODE\\";

// Machine areas that sections own, which the machine software walk leaves.
constexpr const char* kOwnedAreas[] = {
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths",
};
const SectionScan kOwningSections[] = {{SectionFonts, nullptr, false, kOwnedAreas}};

class ExclusionListTest : public ::testing::Test {
protected:
    // A fresh machine whose plug-in folder holds regkeys.txt with `text`
    // (none at all for a null text); false when the build failed or skipped.
    bool BuildWithFile(const char* text) {
        if (text != nullptr)
            m_machine.File(ExclusionFilePath(), text);
        m_machine.Build();
        if (text == nullptr)
            DeleteFileA(ExclusionFilePath().c_str());
        return !HasFatalFailure() && !IsSkipped();
    }

    Entries LoadedEntries() {
        EXPECT_TRUE(LoadExclusionList(m_engine));
        return m_engine.m_exclusions.Entries();
    }

    hmtest::MachineBuilder m_machine;
    CEngineState m_engine{kOwningSections};
};

TEST_F(ExclusionListTest, FileLinesBecomeUpperCaseEntriesWithABackslash) {
    if (!BuildWithFile("; a comment\r\n"
                       "[Keys]\r\n"
                       " HKEY_LOCAL_MACHINE\\SOFTWARE\\Indented\r\n"
                       "\r\n"
                       "hkey_local_machine\\software\\foo=blocked\r\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Bar=Locked and the rest\r\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Both=BLOCKED=LOCKED\r\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Slashed\\\\\n"
                       "HKEY_CLASSES_ROOT\r\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\Trailing \r\n"
                       "HKEY_LOCAL_MACHINE\\SOFTWARE\\NoLineFeed"))
        return;
    const Entries expected = {
        kBuiltIn,
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\FOO\\",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\BAR\\",
        // "=LOCKED" is looked for first, wherever it stands.
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\BOTH=BLOCKED\\",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\SLASHED\\",
        "HKEY_CLASSES_ROOT\\",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\TRAILING \\",
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\NOLINEFEED\\",
    };
    EXPECT_EQ(expected, LoadedEntries());
}

TEST_F(ExclusionListTest, AccentedLettersAreUpperCasedInTheAnsiCodePage) {
    if (!BuildWithFile("HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xe9\r\n"))
        return;
    EXPECT_WINDOWS(LoadedEntries().count("HKEY_LOCAL_MACHINE\\SOFTWARE\\CAF\xc9\\") == 1,
                   "Wine's _mbsupr_s leaves letters above 0x7F alone");
    EXPECT_TRUE(IsExcluded(m_engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xe9"));
}

TEST_F(ExclusionListTest, AnOverlongLineIsCutAndTheLinesAfterItStillCount) {
    const std::string prefix = "HKEY_LOCAL_MACHINE\\SOFTWARE\\";
    const std::string fits = prefix + std::string(1023 - prefix.size(), 'F');
    const std::string overlong = prefix + std::string(1100 - prefix.size(), 'L');
    const std::string text =
        fits + "\r\n" + overlong + "\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\AfterTheLongLine\r\n";
    if (!BuildWithFile(text.c_str()))
        return;
    const Entries expected = {kBuiltIn, fits + "\\", overlong.substr(0, 1023) + "\\",
                              "HKEY_LOCAL_MACHINE\\SOFTWARE\\AFTERTHELONGLINE\\"};
    EXPECT_EQ(expected, LoadedEntries());
}

// The same three entries (one with an e-acute) in every encoding and with
// every line end a Windows editor saves. Notepad's "Unicode" is UTF-16LE.
TEST_F(ExclusionListTest, EveryEncodingAndLineEndExcludesWhatItLists) {
    if (!BuildWithFile(""))
        return;
    const std::string crlf = "; mine\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\First=LOCKED\r\n"
                             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9\r\n"
                             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Last";
    const std::string utf8 = "\xEF\xBB\xBF; mine\nHKEY_LOCAL_MACHINE\\SOFTWARE\\First=LOCKED\n"
                             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xC3\xA9\n"
                             "HKEY_LOCAL_MACHINE\\SOFTWARE\\Last\n";
    auto withLineEnd = [&](const std::string& end) {
        std::string text = crlf;
        for (size_t at = text.find("\r\n"); at != std::string::npos;
             at = text.find("\r\n", at + end.size()))
            text.replace(at, 2, end);
        return text;
    };
    const struct {
        const char* what;
        std::string bytes;
    } files[] = {
        {"ANSI, CR LF", crlf},
        {"ANSI, LF", withLineEnd("\n")},
        {"ANSI, CR", withLineEnd("\r")},
        {"ANSI, mixed",
         "; mine\nHKEY_LOCAL_MACHINE\\SOFTWARE\\First=LOCKED\r"
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Caf\xE9\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Last\n"},
        {"UTF-8 with BOM", utf8},
        {"UTF-16LE with BOM, CR LF", hmtest::Utf16WithBom(crlf)},
        {"UTF-16LE with BOM, CR", hmtest::Utf16WithBom(withLineEnd("\r"))},
        {"UTF-16BE with BOM", hmtest::Utf16WithBom(crlf, u"", true)},
    };
    for (const auto& file : files) {
        ASSERT_TRUE(hmtest::WriteWholeFile(ExclusionFilePath(), file.bytes));
        ClearExclusionList(m_engine);
        for (const char* key : {"First", "Caf\xE9", "Last"})
            EXPECT_TRUE(IsExcluded(m_engine, std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\") + key))
                << file.what << ": " << key;
        EXPECT_EQ(4u, m_engine.m_exclusions.Entries().size()) << file.what;
    }
}

TEST_F(ExclusionListTest, AFolderNamedLikeTheFileAddsNothing) {
    m_machine.Folder(ExclusionFilePath());
    if (!BuildWithFile(nullptr))
        return;
    EXPECT_EQ(Entries{kBuiltIn}, LoadedEntries());
}

// Without the plug-in's folder the file is not looked for at all, least of
// all in the folder the host happens to run in (the system drive's root).
TEST_F(ExclusionListTest, APluginPathTooLongToReadReadsNoFile) {
    std::string folder = "C:";
    for (int i = 0; i < 3; ++i)
        folder += "\\" + std::string(90, 'p');
    m_machine.PluginPath(folder + "\\hivemender.dll")
        .File("C:\\regkeys.txt", "HKEY_LOCAL_MACHINE\\SOFTWARE\\FromTheCurrentFolder\r\n");
    if (!BuildWithFile(nullptr))
        return;
    EXPECT_EQ("", ExclusionFilePath());
    EXPECT_EQ(Entries{kBuiltIn}, LoadedEntries());
    // The other tests name the file before they build: leave the usual path.
    hmtest::MachineBuilder usual;
    usual.Build();
}

// On a double-byte system the last character of an entry may end in the
// byte 0x5C: it is no backslash, and one must still be appended.
TEST_F(ExclusionListTest, AnEntryEndingInATrailByte0x5CGetsItsBackslash) {
    const std::string kanji = "\x95\x5C";
    if (!BuildWithFile(("HKEY_LOCAL_MACHINE\\SOFTWARE\\" + kanji + "\r\n").c_str()))
        return;
    hmtest::MultibyteCodePage japanese(932);
    EXPECT_EQ(1u, LoadedEntries().count("HKEY_LOCAL_MACHINE\\SOFTWARE\\" + kanji + "\\"));
    EXPECT_TRUE(IsExcluded(m_engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\" + kanji));
}

// A line keeps its key and the key's whole subtree out; the classes root
// alone is the same key however many backslashes follow it.
TEST_F(ExclusionListTest, AnEntryExcludesItsKeyAndSubtreeInAnyLetterCase) {
    if (!BuildWithFile("hkey_local_machine\\software\\foo=blocked\r\n"))
        return;
    const struct {
        const char* line; // added to the file's
        const char* key;
        bool excluded;
    } cases[] = {
        {"", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Foo", true},
        {"", "hkey_local_machine\\software\\FOO\\Bar\\Baz", true},
        {"", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Fo", false},
        {"", "HKEY_LOCAL_MACHINE\\SOFTWARE\\FooBar", false},
        {"", "HKEY_LOCAL_MACHINE\\SOFTWARE", false},
        {"HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT\\CLSID\\{X}", true},
        {"HKEY_CLASSES_ROOT\\", "HKEY_CLASSES_ROOT\\", true},
        {"HKEY_CLASSES_ROOT\\\\", "HKEY_CLASSES_ROOT\\.txt", true},
        {"HKEY_CLASSES_ROOT\\\\", "HKEY_CLASSES_ROOTS\\.txt", false},
    };
    for (const auto& c : cases) {
        ClearExclusionList(m_engine);
        LoadExclusionList(m_engine);
        AddExclusionLine(m_engine, c.line);
        EXPECT_EQ(c.excluded, IsExcluded(m_engine, c.key)) << c.line << " / " << c.key;
    }
}

TEST_F(ExclusionListTest, EachScanReadsTheFileAfresh) {
    if (!BuildWithFile("HKEY_LOCAL_MACHINE\\SOFTWARE\\First\r\n"))
        return;
    EXPECT_TRUE(IsExcluded(m_engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\First"));
    ASSERT_TRUE(
        hmtest::WriteWholeFile(ExclusionFilePath(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\Second\r\n"));
    // Within a scan the list is kept ...
    EXPECT_TRUE(IsExcluded(m_engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\First"));
    // ... and a new scan reads the edited file.
    RunScan(m_engine, {});
    EXPECT_FALSE(IsExcluded(m_engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\First"));
    EXPECT_TRUE(IsExcluded(m_engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Second"));
}

// A user's own hive; under Wine the builder does not know it, so the first
// user SID below HKEY_USERS stands in.
std::string UserHive(const hmtest::MachineBuilder& machine) {
    std::string sid = machine.CurrentUserSid();
    for (const auto& name : hmtest::SubkeyList(HKEY_USERS))
        if (sid.empty() && name.rfind("S-1-5-21-", 0) == 0)
            sid = name;
    return sid;
}

TEST_F(ExclusionListTest, TheUserWildcardGivesOneEntryPerHiveHoldingTheKey) {
    const std::string sid = UserHive(m_machine);
    ASSERT_FALSE(sid.empty());
    m_machine.Key("HKEY_USERS\\.DEFAULT\\Software\\HmWild")
        .Key("HKEY_USERS\\" + sid + "\\Software\\HmWild")
        .Key("HKEY_USERS\\.DEFAULT\\Software\\HmWildDefaultOnly");
    if (!BuildWithFile("HKEY_USERS\\*\\Software\\HmWild=LOCKED\r\n"
                       "HKEY_USERS\\*\\Software\\HmWildDefaultOnly\r\n"
                       "HKEY_USERS\\*\\Software\\HmWildNowhere\r\n"))
        return;
    Entries entries = LoadedEntries();
    const Entries expected = {
        kBuiltIn,
        "HKEY_USERS\\.DEFAULT\\SOFTWARE\\HMWILD\\",
        "HKEY_USERS\\" + base::ToUpperMb(sid) + "\\SOFTWARE\\HMWILD\\",
        "HKEY_USERS\\.DEFAULT\\SOFTWARE\\HMWILDDEFAULTONLY\\",
    };
    EXPECT_EQ(expected, entries);
    EXPECT_TRUE(IsExcluded(m_engine, "HKEY_USERS\\" + sid + "\\Software\\HmWild"));
}

TEST_F(ExclusionListTest, ShouldWalkKeyKeepsEachWalkInItsArea) {
    if (!BuildWithFile("HKEY_LOCAL_MACHINE\\SOFTWARE\\Excluded\r\n"
                       "HKEY_USERS\\S-1-5-18\\Software\\Excluded\r\n"))
        return;
    const struct {
        HKEY root;
        const char* path;
        int mode;
        bool walk;
    } cases[] = {
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", 1, false},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", 1, true},
        // The area paths are prefixes: a sibling whose name starts alike goes too.
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunAnything", 1, false},
        {HKEY_LOCAL_MACHINE, "software\\microsoft\\windows\\currentversion\\app paths\\x.exe", 1,
         false},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\Shell", 1, true},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 1, true},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Excluded", 1, false},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Excluded\\Below", 1, false},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Wow6432Node\\Wow6432Node", 1, false},
        {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", 1, false},
        {HKEY_USERS, "S-1-5-18\\Software\\Vendor", 1, false},
        {HKEY_USERS, "S-1-5-18\\AppEvents\\Schemes\\Apps", 0, false},
        {HKEY_USERS, "S-1-5-18\\appevents\\schemes\\apps\\.Default\\Close", 0, false},
        {HKEY_USERS, "S-1-5-18\\AppEvents\\Schemes", 0, true},
        {HKEY_USERS, "S-1-5-18", 0, true},
        {HKEY_USERS, "S-1-5-18\\Software\\Vendor", 0, true},
        {HKEY_USERS, "S-1-5-18\\Software\\Excluded", 0, false},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, false},
        {HKEY_USERS, "S-1-5-18\\Software\\Vendor", 2, false},
        {HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 2, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.walk, ShouldWalkKey(c.root, c.path, m_engine, c.mode))
            << KeyPathText(c.root, c.path) << " in mode " << c.mode;
    }
}

// Each engine keeps its own list, so engines scanning side by side neither
// see each other's entries nor race on one shared list.
TEST_F(ExclusionListTest, TwoEnginesScanAtOnce) {
    if (!BuildWithFile("HKEY_LOCAL_MACHINE\\SOFTWARE\\Shared\r\n"))
        return;
    static std::atomic<int> wrongAnswers{0};
    struct Worker {
        static void ProbeList(CEngineState& engine) {
            for (int i = 0; i < 50; ++i) {
                if (!IsExcluded(engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Shared") ||
                    IsExcluded(engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Other"))
                    ++wrongAnswers;
                AddExclusionLine(engine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Added" + std::to_string(i));
            }
        }
    };
    static const SectionScan table[] = {{SectionMachineSoftware, Worker::ProbeList, false}};
    auto scanRepeatedly = [](CEngineState& engine) {
        for (int scan = 0; scan < 40; ++scan) {
            RunScan(engine, table);
            // The built-in entry, the file's and this scan's own fifty.
            if (engine.m_exclusions.Entries().size() != 52)
                ++wrongAnswers;
        }
    };
    CEngineState other;
    std::thread first([&] { scanRepeatedly(m_engine); });
    std::thread second([&] { scanRepeatedly(other); });
    first.join();
    second.join();
    EXPECT_EQ(0, wrongAnswers.load());
}

} // namespace
