// Which user a hive belongs to, as the reports name him.
#include "report/user_profiles.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kProfileList =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
const std::string kSystemSid = "S-1-5-21-4242-4242-4242-500";
const std::string kBareSid = "S-1-5-21-4242-4242-4242-501";
const std::string kSlashSid = "S-1-5-21-4242-4242-4242-502";
const std::string kLaterSid = "S-1-5-21-4242-4242-4242-503";
const std::string kKanjiSid = "S-1-5-21-4242-4242-4242-504";
const std::string kKanjiSlashSid = "S-1-5-21-4242-4242-4242-505";
// One kanji of code page 932 whose trail byte is 0x5C, the backslash's byte.
const std::string kKanji = "\x95\x5C";

class UserNameTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_machine
            .String(kProfileList + kSystemSid, "ProfileImagePath",
                    "%SystemRoot%\\system32\\config\\systemprofile", REG_EXPAND_SZ)
            .Dword(kProfileList + kBareSid, "Flags", 0)
            .String(kProfileList + kSlashSid, "ProfileImagePath", "C:\\Users\\Ann\\\\")
            .String(kProfileList + kKanjiSid, "ProfileImagePath", "C:\\Users\\" + kKanji)
            .String(kProfileList + kKanjiSlashSid, "ProfileImagePath",
                    "C:\\Users\\A" + kKanji + "\\");
        m_machine.Build(); // a failed or skipped build ends the test before its body
    }
    std::string NameOf(const std::string& keyPath) { return m_names.NameForKeyPath(keyPath); }

    hmtest::MachineBuilder m_machine;
    CUserNameCache m_names;
};

TEST_F(UserNameTest, HivesAreNamedByTheirProfileFolder) {
    struct Case {
        std::string keyPath, name;
    } cases[] = {
        {"HKEY_USERS\\" + kSystemSid + "\\Software\\Demo", "systemprofile"},
        {"hkey_users\\" + kSystemSid, "systemprofile"},
        {"\\HKEY_USERS\\" + kSystemSid + "_Classes\\CLSID", "systemprofile"},
        {"HKEY_USERS\\" + kBareSid + "\\Software", kBareSid}, // no profile folder named
        {"HKEY_USERS\\" + kSlashSid + "\\Software", "Ann"},
        {"HKEY_USERS\\.DEFAULT\\Software", ""}, // no profile at all
        {"HKEY_USERS", ""},
        {"HKEY_LOCAL_MACHINE\\SOFTWARE\\" + kSystemSid, ""},
        {"HKEY_CURRENT_USER\\Software", ""},
        {"HKEY_USERSX\\" + kSystemSid, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.name, NameOf(c.keyPath)) << c.keyPath;
}

TEST_F(UserNameTest, ADoubleByteNameIsNotCutInsideACharacter) {
    hmtest::MultibyteCodePage japanese(932);
    EXPECT_EQ(kKanji, NameOf("HKEY_USERS\\" + kKanjiSid));
    EXPECT_EQ("A" + kKanji, NameOf("HKEY_USERS\\" + kKanjiSlashSid));
}

TEST_F(UserNameTest, AFoundNameIsKeptAndAMissingProfileIsAskedForAgain) {
    EXPECT_EQ("", NameOf("HKEY_USERS\\" + kLaterSid));
    EXPECT_EQ("systemprofile", NameOf("HKEY_USERS\\" + kSystemSid));

    const std::string later = kProfileList.substr(kProfileList.find('\\') + 1) + kLaterSid;
    hmtest::OwnedKey key(hmtest::CreateSubkey(HKEY_LOCAL_MACHINE, later));
    const char path[] = "C:\\Users\\Late";
    RegSetValueExA(key.get(), "ProfileImagePath", 0, REG_SZ, reinterpret_cast<const BYTE*>(path),
                   sizeof(path));
    const std::string system = kProfileList.substr(kProfileList.find('\\') + 1) + kSystemSid;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, system.c_str(), 0, KEY_ALL_ACCESS, key.out()));
    RegDeleteValueA(key.get(), "ProfileImagePath");

    EXPECT_EQ("Late", NameOf("HKEY_USERS\\" + kLaterSid));
    EXPECT_EQ("systemprofile", NameOf("HKEY_USERS\\" + kSystemSid)) << "found once, kept";
    // Another engine's cache asks the registry afresh.
    CUserNameCache other;
    EXPECT_EQ(kSystemSid, other.NameForKeyPath("HKEY_USERS\\" + kSystemSid));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, later.c_str());
}

} // namespace
