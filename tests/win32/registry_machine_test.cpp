// What only the simulated machine can stage: keys the user may not open,
// read or write, and the roots that are views onto other keys. They need the
// machine's control surface, so the Windows build has only a skipped marker.
#include "support/conformance.h"

#ifndef _WIN32
#include <win32sim/machine.h>
#endif

#include <string>

namespace {

using hmtest::OwnedKey;

class RegistryMachine : public hmtest::ConformanceTest {
protected:
    HKEY MakeKey(const std::string& relative) { return hmtest::CreateSubkey(TestKey(), relative); }
    std::string FullPath(const std::string& relative) const {
        return "HKEY_CURRENT_USER\\" + TestKeyPath() + "\\" + relative;
    }
    LONG Open(const std::string& relative, REGSAM sam) {
        HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0xdeadbeef));
        const LONG status = RegOpenKeyExA(TestKey(), relative.c_str(), 0, sam, &key);
        if (status == ERROR_SUCCESS)
            RegCloseKey(key);
        else
            EXPECT_EQ(nullptr, key) << relative;
        return status;
    }
#ifndef _WIN32
    void Deny(const std::string& relative, win32sim::Denial denial) {
        win32sim::DenyKey(win32sim::DeniedKey{FullPath(relative), denial});
    }
#endif
};

#ifndef _WIN32

TEST_F(RegistryMachine, OpenDenialRefusesEveryOpen) {
    RegCloseKey(MakeKey("locked\\inner"));
    Deny("locked", win32sim::Denial::Open);
    EXPECT_EQ(ERROR_ACCESS_DENIED, Open("locked", KEY_READ));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Open("locked", 0));
    EXPECT_EQ(ERROR_SUCCESS, Open("locked\\inner", KEY_READ))
        << "a path through a denied key still reaches the keys below it";
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(TestKey(), "locked\\inner"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(TestKey(), "locked"));
}

TEST_F(RegistryMachine, ReadDenialRefusesReadingRights) {
    RegCloseKey(MakeKey("secret"));
    Deny("secret", win32sim::Denial::Read);
    struct Case {
        REGSAM sam;
        LONG status;
    } cases[] = {
        {KEY_READ, ERROR_ACCESS_DENIED},
        {KEY_QUERY_VALUE, ERROR_ACCESS_DENIED},
        {KEY_ENUMERATE_SUB_KEYS, ERROR_ACCESS_DENIED},
        {KEY_SET_VALUE, ERROR_SUCCESS},
        {KEY_WRITE, ERROR_SUCCESS},
        {GENERIC_READ, ERROR_ACCESS_DENIED},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.status, Open("secret", c.sam)) << "access 0x" << std::hex << c.sam;
}

TEST_F(RegistryMachine, WriteDenialRefusesWritingRightsAndDeletion) {
    RegCloseKey(MakeKey("frozen"));
    Deny("frozen", win32sim::Denial::Write);
    EXPECT_EQ(ERROR_SUCCESS, Open("frozen", KEY_READ));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Open("frozen", KEY_SET_VALUE));
    EXPECT_EQ(ERROR_ACCESS_DENIED, Open("frozen", KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(TestKey(), "frozen"));

    HKEY key = nullptr;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(TestKey(), "frozen", 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &key, nullptr))
        << "creating an existing key is opening it";
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(TestKey(), "frozen\\new", 0, nullptr, 0,
                                                   KEY_READ, nullptr, &key, nullptr))
        << "no subkey may be added to it";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Open("frozen\\new", KEY_READ));
}

TEST_F(RegistryMachine, PrivilegeLiftsDenialsAndNests) {
    RegCloseKey(MakeKey("locked"));
    Deny("locked", win32sim::Denial::Open);
    {
        win32sim::PrivilegedScope outer;
        {
            win32sim::PrivilegedScope inner;
            EXPECT_EQ(ERROR_SUCCESS, Open("locked", KEY_ALL_ACCESS));
        }
        EXPECT_EQ(ERROR_SUCCESS, Open("locked", KEY_ALL_ACCESS));
    }
    EXPECT_EQ(ERROR_ACCESS_DENIED, Open("locked", KEY_READ));
}

TEST_F(RegistryMachine, HandleOpenedWithPrivilegeKeepsItsRights) {
    const OwnedKey key(MakeKey("frozen"));
    Deny("frozen", win32sim::Denial::Write);
    const BYTE data[] = "1";
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "v", 0, REG_SZ, data, 2))
        << "access is decided when a key is opened";
}

TEST_F(RegistryMachine, DenialPathsIgnoreCaseAndRootSpelling) {
    RegCloseKey(MakeKey("Locked"));
    const std::string path = "HKEY_USERS\\" + win32sim::CurrentConfig().currentUserSid + "\\" +
                             TestKeyPath() + "\\LOCKED";
    win32sim::DenyKey(win32sim::DeniedKey{path, win32sim::Denial::Open});
    EXPECT_EQ(ERROR_ACCESS_DENIED, Open("locked", KEY_READ));
}

TEST_F(RegistryMachine, ResetClearsKeysAndDenials) {
    RegCloseKey(MakeKey("locked"));
    Deny("locked", win32sim::Denial::Open);
    win32sim::ResetMachine(win32sim::MachineConfig{}, ::testing::TempDir() + "hm-reset");
    OwnedKey key;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(TestKey(), "", 0, KEY_READ, key.out()))
        << "handles of the old machine are gone";
    for (const char* standard : {"SOFTWARE", "SOFTWARE\\Classes", "SYSTEM"}) {
        EXPECT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, standard, 0, KEY_READ, key.out()))
            << standard;
    }
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, ".DEFAULT", 0, KEY_READ, key.out()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegOpenKeyExA(HKEY_CURRENT_USER, TestKeyPath().c_str(), 0, KEY_READ, key.out()));
    // Put the fixture's key back so that TearDown finds what it expects.
    RegCloseKey(hmtest::CreateSubkey(HKEY_CURRENT_USER, TestKeyPath()));
}

TEST_F(RegistryMachine, CurrentUserIsAViewOfTheUsersHive) {
    OwnedKey key(MakeKey("viewed"));
    const BYTE data[] = "seen";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "v", 0, REG_SZ, data, 5));
    const std::string viaUsers =
        win32sim::CurrentConfig().currentUserSid + "\\" + TestKeyPath() + "\\viewed";
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, viaUsers.c_str(), 0, KEY_READ, key.out()));
    char text[8] = {};
    DWORD size = sizeof(text);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key.get(), "v", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(text), &size));
    EXPECT_STREQ("seen", text);
}

TEST_F(RegistryMachine, ClassesRootIsAViewOfMachineClasses) {
    RegCloseKey(hmtest::CreateSubkey(HKEY_CLASSES_ROOT, ".hmtest"));
    OwnedKey key;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.HMTEST", 0,
                                           KEY_READ, key.out()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\classes\\.hmtest"));
}

TEST_F(RegistryMachine, KeyHandlesNeverLookLikeRoots) {
    for (int i = 0; i < 16; ++i) {
        const OwnedKey key(MakeKey("k" + std::to_string(i)));
        const auto value = reinterpret_cast<uintptr_t>(key.get());
        EXPECT_TRUE(value < 0x80000000u || value > 0x80000006u) << std::hex << value;
    }
}

TEST_F(RegistryMachine, StandardRootsCannotBeDeleted) {
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_CLASSES_ROOT, ""));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""));
}

#else

TEST_F(RegistryMachine, StagedOnlyOnTheStandIn) {
    SKIP_ON_WINE("denials, views and resets are staged through the simulated machine");
}

#endif // _WIN32

} // namespace
