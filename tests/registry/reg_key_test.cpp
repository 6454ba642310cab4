// The key object over the real registry API: the stand-in natively, Wine's
// advapi32 in the Windows build. Each test works below its own fresh key
// HKEY_CURRENT_USER\<TestKeyPath()>.
#include "registry/reg_key.h"
#include "support/conformance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include "support/host_files.h"
#include <win32sim/machine.h>
#endif

namespace {

class RegKeyTest : public hmtest::ConformanceTest {
protected:
    void CreateKey(const std::string& relative) {
        RegCloseKey(hmtest::CreateSubkey(TestKey(), relative));
    }
    void SetValue(const std::string& name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(TestKey(), name.c_str(), 0, type,
                                                static_cast<const BYTE*>(data), size));
    }
    void SetString(const std::string& name, const std::string& text, DWORD type = REG_SZ) {
        SetValue(name, type, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }
    std::string TestKeyText() const { return "HKEY_CURRENT_USER\\" + TestKeyPath(); }

    RegKey OpenTestKey(REGSAM access = kReadWrite64) {
        RegKey key;
        EXPECT_EQ(ERROR_SUCCESS, key.OpenByText(TestKeyText(), access));
        return key;
    }

    static std::vector<std::string> ChildLeaves(RegKey& parent) {
        std::vector<std::string> leaves;
        RegKey child;
        for (LONG status = parent.BeginSubkeys(child); status == ERROR_SUCCESS;
             status = parent.NextSubkey(child))
            leaves.push_back(child.LeafName());
        return leaves;
    }
};

TEST_F(RegKeyTest, OpenByTextMatchesRootNamesInAnyCaseAndRemembersTheOpen) {
    for (const char* root : {"HKEY_CURRENT_USER", "hkey_current_user", "Hkey_Current_User"}) {
        SCOPED_TRACE(root);
        RegKey key;
        ASSERT_EQ(ERROR_SUCCESS,
                  key.OpenByText(std::string("\\\\") + root + "\\" + TestKeyPath(), KEY_READ));
        EXPECT_NE(nullptr, key.Handle());
        EXPECT_EQ(TestKeyText(), key.KeyPathText());
    }
}

TEST_F(RegKeyTest, OpenByTextOfABareRootOpensTheRootWithAnEmptyPath) {
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.OpenByText("HKEY_USERS", kRead64));
    EXPECT_EQ("HKEY_USERS\\", key.KeyPathText());
    // Its children are named without a leading backslash.
    RegKey child;
    ASSERT_EQ(ERROR_SUCCESS, key.BeginSubkeys(child));
    const std::string leaf = child.LeafName();
    EXPECT_FALSE(leaf.empty());
    EXPECT_EQ(std::string::npos, leaf.find('\\')) << leaf;
    EXPECT_EQ("HKEY_USERS\\" + leaf, child.KeyPathText());
}

TEST_F(RegKeyTest, OpenByTextRefusesUnknownRootsAndLeavesTheKeyAlone) {
    RegKey key = OpenTestKey();
    HKEY before = key.Handle();
    for (const char* text : {"HKEY_CURRENT_CONFIG\\Software", "HKEY_CURRENT_CONFIG",
                             "HKCU\\Software", "HKEY_USERSX", "", "\\"}) {
        SCOPED_TRACE(text);
        EXPECT_NE(ERROR_SUCCESS, key.OpenByText(text, kRead64));
        EXPECT_EQ(before, key.Handle());
        EXPECT_EQ(TestKeyText(), key.KeyPathText());
    }
    RegKey missing;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, missing.OpenByText(TestKeyText() + "\\nope", kRead64));
    EXPECT_EQ(nullptr, missing.Handle());
}

// A key object opened again takes all of the new open, or on failure none
// of it: its path names the problems found in it, its access opens its
// children and decides whether a fix may write to it.
TEST_F(RegKeyTest, AKeyOpenedAgainTakesAllOfTheNewOpenOrNothing) {
    CreateKey("sub");
    RegKey key = OpenTestKey(kReadWrite64);
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, TestKeyPath() + "\\sub", KEY_READ));
    EXPECT_EQ(TestKeyText() + "\\sub", key.KeyPathText());
    EXPECT_EQ(static_cast<REGSAM>(KEY_READ), key.Access());
    const HKEY opened = key.Handle();
    const RegKey parent = OpenTestKey(kReadWrite64);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, parent.OpenChild("nope", key));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_CURRENT_USER, TestKeyPath() + "\\nope", kRead64));
    EXPECT_EQ(opened, key.Handle());
    EXPECT_EQ(TestKeyText() + "\\sub", key.KeyPathText());
    EXPECT_EQ(static_cast<REGSAM>(KEY_READ), key.Access());
}

TEST_F(RegKeyTest, SubkeysComeInRegistryOrder) {
    {
        RegKey empty = OpenTestKey();
        RegKey child;
        EXPECT_EQ(ERROR_NO_MORE_ITEMS, empty.BeginSubkeys(child));
        EXPECT_EQ(nullptr, child.Handle());
    }
    for (const char* name : {"b", "A", "c", "B2"})
        CreateKey(name);
    RegKey parent = OpenTestKey();
    EXPECT_EQ((std::vector<std::string>{"A", "b", "B2", "c"}), ChildLeaves(parent));
    RegKey child;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, parent.NextSubkey(child)) << "the end stays the end";
}

TEST_F(RegKeyTest, UnreadableChildIsSkipped) {
    SKIP_ON_WINE("a key the current user may not open");
#ifndef _WIN32
    for (const char* name : {"a", "b", "c"})
        CreateKey(name);
    win32sim::DenyKey({TestKeyText() + "\\b", win32sim::Denial::Open});
    RegKey parent = OpenTestKey();
    EXPECT_EQ((std::vector<std::string>{"a", "c"}), ChildLeaves(parent));
    win32sim::DenyKey({TestKeyText() + "\\c", win32sim::Denial::Open});
    EXPECT_EQ((std::vector<std::string>{"a"}), ChildLeaves(parent));
#endif
}

TEST_F(RegKeyTest, StringValuesAreListedAsStoredAndOtherTypesSkipped) {
    const DWORD number = 7;
    // Names in creation order are also in name order: Wine 8.0 sorts values.
    SetString("a_sz", "%SystemRoot%\\a.exe");
    SetValue("b_dword", REG_DWORD, &number, sizeof(number));
    SetString("c_expand", "%TEMP%\\c", REG_EXPAND_SZ);
    SetValue("d_binary", REG_BINARY, "\1\2\3", 3);
    SetValue("e_unterminated", REG_SZ, "xyz", 3);
    SetValue("f_multi", REG_MULTI_SZ, "m\0n\0", 5);
    RegKey key = OpenTestKey();
    std::vector<std::pair<std::string, std::string>> seen;
    std::string name = "marker";
    std::string data = "marker";
    for (LONG status = key.BeginValues(name, data); status == ERROR_SUCCESS;
         status = key.NextStringValue(name, data))
        seen.emplace_back(name, data);
    EXPECT_EQ((std::vector<std::pair<std::string, std::string>>{{"a_sz", "%SystemRoot%\\a.exe"},
                                                                {"c_expand", "%TEMP%\\c"},
                                                                {"e_unterminated", "xyz"}}),
              seen);
    EXPECT_EQ("", name) << "outputs are emptied even when the enumeration ends";
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, key.NextStringValue(name, data));
}

TEST_F(RegKeyTest, ValueNamesOfEveryTypeShareTheCounters) {
    const DWORD number = 7;
    SetString("", "default");
    SetValue("n", REG_DWORD, &number, sizeof(number));
    SetString("s", "text");
    RegKey key = OpenTestKey();
    ASSERT_EQ(ERROR_SUCCESS, key.CountValues());
    std::vector<std::string> names;
    std::string name;
    while (key.NextValueName(name) == ERROR_SUCCESS)
        names.push_back(name);
    EXPECT_EQ((std::vector<std::string>{"", "n", "s"}), names);
}

TEST_F(RegKeyTest, QueryStringValueExpandsStringsAndRefusesEverythingElse) {
    ASSERT_TRUE(SetEnvironmentVariableA("HM_REGKEY_TEST", "C:\\Expanded"));
    const DWORD number = 7;
    SetString("sz", "%HM_REGKEY_TEST%\\a.dll");
    SetString("expand", "%HM_REGKEY_TEST%\\b.dll", REG_EXPAND_SZ);
    SetString("undefined", "%HM_NOT_DEFINED_ANYWHERE%\\c.dll");
    SetValue("embedded", REG_SZ, "ab\0cd", 6);
    SetValue("dword", REG_DWORD, &number, sizeof(number));
    SetValue("multi", REG_MULTI_SZ, "m\0n\0", 5);
    SetValue("binary", REG_BINARY, "ab", 2);
    RegKey key = OpenTestKey(kRead64);
    struct Case {
        const char* name;
        LONG status;
        const char* expected;
    } cases[] = {
        {"sz", ERROR_SUCCESS, "C:\\Expanded\\a.dll"},
        {"expand", ERROR_SUCCESS, "C:\\Expanded\\b.dll"},
        {"undefined", ERROR_SUCCESS, "%HM_NOT_DEFINED_ANYWHERE%\\c.dll"},
        {"embedded", ERROR_SUCCESS, "ab"},
        {"dword", ERROR_INVALID_DATA, "marker"},
        {"multi", ERROR_INVALID_DATA, "marker"},
        {"binary", ERROR_INVALID_DATA, "marker"},
        {"missing", ERROR_INVALID_DATA, "marker"},
    };
    for (const Case& c : cases) {
        std::string out = "marker";
        EXPECT_EQ(c.status, key.QueryStringValue(c.name, out)) << c.name;
        EXPECT_EQ(c.expected, out) << c.name;
    }
    SetEnvironmentVariableA("HM_REGKEY_TEST", nullptr);
}

TEST_F(RegKeyTest, QueryStringValueIsCappedAt8192Bytes) {
    const std::string fits(kMaxStringValueBytes - 2, 'x');     // expands within the cap
    const std::string readOnly(kMaxStringValueBytes - 1, 'r'); // read fits, expansion not
    const std::string tooLong(kMaxStringValueBytes, 'y');      // 8193 bytes stored
    SetString("fits", fits);
    SetString("edge", readOnly);
    SetString("long", tooLong);
    RegKey key = OpenTestKey(kRead64);
    std::string out = "marker";
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue("fits", out));
    EXPECT_EQ(fits, out);
    out = "marker";
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue("edge", out));
    // Windows' ExpandEnvironmentStringsA asks for two bytes beyond the text
    // and writes nothing when given less.
    EXPECT_WINDOWS(out.empty(), "8191 characters expand to nothing within 8192 bytes");
    out = "marker";
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryStringValue("long", out));
    EXPECT_EQ("marker", out);
}

TEST_F(RegKeyTest, WritableUnlessTheUserIsDeniedWriting) {
    EXPECT_TRUE(OpenTestKey(kReadWrite64).IsKeyWritable());
    RegKey readOnly = OpenTestKey(kRead64);
    EXPECT_TRUE(readOnly.IsKeyWritable()) << "the current user may write its own test key";
#ifndef _WIN32
    win32sim::DenyKey({TestKeyText(), win32sim::Denial::Write});
    EXPECT_FALSE(readOnly.IsKeyWritable());
#endif
}

TEST_F(RegKeyTest, AdministratorFollowsTheCallersToken) {
#ifndef _WIN32
    EXPECT_TRUE(IsAdministrator());
    win32sim::MachineConfig user;
    user.administrator = false;
    win32sim::ResetMachine(user, hmtest::FreshHostFolder("hm-registry-admin").string());
    EXPECT_FALSE(IsAdministrator());
#else
    std::printf("IsAdministrator under this Win32: %d\n", IsAdministrator() ? 1 : 0);
    EXPECT_TRUE(IsAdministrator()) << "Wine's user belongs to BUILTIN\\Administrators";
#endif
    HANDLE token = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token))
        << "the check reverts its impersonation";
}

#ifndef _WIN32
// Whichever step of the check fails, the answer is "no" and the thread is
// left as it was, not impersonating.
TEST_F(RegKeyTest, AFailingStepOfTheAdministratorCheckEndsTheImpersonation) {
    const win32sim::SecurityFault faults[] = {
        win32sim::SecurityFault::OpenThreadToken,
        win32sim::SecurityFault::AllocateAndInitializeSid,
        win32sim::SecurityFault::AccessCheck,
    };
    for (win32sim::SecurityFault fault : faults) {
        SCOPED_TRACE(static_cast<int>(fault));
        win32sim::SetSecurityFault(fault);
        const bool administrator = IsAdministrator();
        win32sim::SetSecurityFault(win32sim::SecurityFault::None);
        EXPECT_FALSE(administrator);
        HANDLE token = nullptr;
        SetLastError(0xdeadbeef);
        EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &token));
        EXPECT_EQ(unsigned(ERROR_NO_TOKEN), GetLastError());
        RevertToSelf(); // the next case starts clean even after a failure
    }
}
#endif

} // namespace
