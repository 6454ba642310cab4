// The three repairs and the recursive delete, on a built machine.
#include "fix/registry_edits.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/fix/fix_test_support.h"

#include <gtest/gtest.h>

namespace {

using hmtest::FixTest;
using hmtest::KeyExists;
using hmtest::ReadWholeFile;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

std::vector<BYTE> ValueBytes(const std::string& keyPath, const std::string& name,
                             DWORD* type = nullptr) {
    DWORD ignored = 0;
    std::vector<BYTE> data;
    if (!hmtest::ReadValue(keyPath, name, type ? type : &ignored, &data))
        return {0xde, 0xad};
    return data;
}

using RegistryEditsTest = FixTest;

// Problems spell keys as the scanner wrote them; a restore must bring the
// key back under the name the registry had.
TEST_F(RegistryEditsTest, TheUndoFileKeepsTheStoredSpellingOfADeletedKey) {
    hmtest::MachineBuilder machine;
    machine.String(Root("Server\\InprocServer32"), "", "C:\\gone.dll");
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyWithUndo(Root("Server\\INPROCSERVER32"), undo));
    EXPECT_FALSE(KeyExists(Root("Server\\InprocServer32")));
    const std::string bytes = ReadWholeFile(undo.m_path);
    EXPECT_NE(std::string::npos, bytes.find("[" + Root() + "\\Server\\InprocServer32]")) << bytes;
    EXPECT_EQ(std::string::npos, bytes.find("INPROCSERVER32")) << bytes;
}

TEST_F(RegistryEditsTest, WhatIsAlreadyGoneCountsAsDoneAndSavesNothing) {
    hmtest::MachineBuilder machine;
    machine.Key(Root());
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyWithUndo(Root("Missing"), undo));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyWithUndo(Root("Missing\\Deeper"), undo));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteValueWithUndo(undo, Root("Missing"), "v"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteValueWithUndo(undo, Root(), "v"));
    // A rewrite does not bring back a value that is gone: no undo could remove it.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, SetValueWithUndo(undo, Root(), "v", "new"));
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_FALSE(hmtest::ReadValue(Root(), "v", &type, &data));
    EXPECT_EQ(kHeader, ReadWholeFile(undo.m_path));
}

TEST_F(RegistryEditsTest, KeyPathsWithoutASubkeyNameAreRefused) {
    hmtest::MachineBuilder machine;
    machine.Key(Root("Child"));
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteKeyWithUndo("HKEY_CURRENT_USER", undo));
    // "" below the parent would open the parent itself and empty it.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, DeleteKeyWithUndo(Root() + "\\", undo));
    EXPECT_TRUE(KeyExists(Root("Child")));
    EXPECT_EQ(kHeader, ReadWholeFile(undo.m_path));
}

TEST_F(RegistryEditsTest, ARewriteHasTheTypeItIsGivenAndTheDefaultValueIsAddressedByAnEmptyName) {
    hmtest::MachineBuilder machine;
    machine.String(Root(), "Cmd", "%SystemRoot%\\gone.exe;%SystemRoot%\\x.exe", REG_EXPAND_SZ)
        .String(Root(), "", "default")
        .String(Root("Other"), "", "other default");
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_SUCCESS,
              SetValueWithUndo(undo, Root(), "Cmd", "%SystemRoot%\\x.exe", REG_EXPAND_SZ));
    DWORD type = 0;
    const std::string text = "%SystemRoot%\\x.exe";
    std::vector<BYTE> expected(text.begin(), text.end());
    expected.push_back(0);
    EXPECT_EQ(expected, ValueBytes(Root(), "Cmd", &type));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);
    EXPECT_EQ(ERROR_SUCCESS, SetValueWithUndo(undo, Root(), "", "changed"));
    EXPECT_EQ(std::vector<BYTE>({'c', 'h', 'a', 'n', 'g', 'e', 'd', 0}), ValueBytes(Root(), ""));
    EXPECT_EQ(ERROR_SUCCESS, DeleteValueWithUndo(undo, Root("Other"), ""));
    EXPECT_FALSE(hmtest::ReadValue(Root("Other"), "", &type, &expected));
    const std::string bytes = ReadWholeFile(undo.m_path);
    EXPECT_NE(std::string::npos, bytes.find("\r\n@=\"default\"\r\n")) << bytes;
    EXPECT_NE(std::string::npos, bytes.find("\r\n@=\"other default\"")) << bytes;
    EXPECT_NE(std::string::npos, bytes.find("\"Cmd\"=hex(2):25,00,53,00")) << bytes;
}

TEST_F(RegistryEditsTest, AKeyTheUserMayNotWriteIsLeftAsItWas) {
    hmtest::MachineBuilder machine;
    machine.String(Root("Locked"), "v", "x").Deny(Root("Locked"), hmtest::KeyDenial::Write);
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteValueWithUndo(undo, Root("Locked"), "v"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetValueWithUndo(undo, Root("Locked"), "v", "y"));
    EXPECT_EQ(std::vector<BYTE>({'x', 0}), ValueBytes(Root("Locked"), "v"));
    EXPECT_EQ(kHeader, ReadWholeFile(undo.m_path));
}

TEST_F(RegistryEditsTest, ASubtreeThatCannotBeSavedWholeIsNotDeleted) {
    hmtest::MachineBuilder machine;
    machine.String(Root("Gone"), "v", "x")
        .String(Root("Gone\\Secret"), "s", "hidden")
        .Key(Root("Gone\\Zed"))
        .Deny(Root("Gone\\Secret"), hmtest::KeyDenial::Read);
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyWithUndo(Root("Gone"), undo));
    EXPECT_TRUE(KeyExists(Root("Gone\\Zed")));
    EXPECT_EQ(std::vector<BYTE>({'x', 0}), ValueBytes(Root("Gone"), "v"));
}

// On Windows the A functions list a name the code page cannot spell with
// '?' in its place, and nothing has that name: a key or value so listed is
// still there and must not count as gone, nor may a delete above it go on
// without it in the undo file.
TEST_F(RegistryEditsTest, WhatIsListedButCannotBeOpenedIsNotDeleted) {
    hmtest::MachineBuilder machine;
    machine.String(Root("Named"), "v", "x").Key(Root("Named\\Zed"));
    RETURN_UNLESS_BUILT(machine);
    const WCHAR kNamae[] = {0x540D, 0x524D, 0};
    const std::string below = Root().substr(Root().find('\\') + 1);
    HKEY root = nullptr, named = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CURRENT_USER, below.c_str(), 0, KEY_ALL_ACCESS, &root));
    for (const char* parent : {"", "Named"}) {
        HKEY created = nullptr;
        HKEY base = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, parent, 0, KEY_ALL_ACCESS, &base));
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(base, kNamae, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &created, nullptr));
        RegCloseKey(created);
        if (named)
            RegCloseKey(named);
        named = base;
    }
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(named, kNamae, 0, REG_BINARY, nullptr, 0));
    RegCloseKey(named);
    RegCloseKey(root);

    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_CANTOPEN, DeleteKeyWithUndo(Root("Named"), undo));
    EXPECT_EQ(ERROR_CANTOPEN, DeleteKeyWithUndo(Root("??"), undo));
    EXPECT_EQ(ERROR_CANTOPEN, DeleteValueWithUndo(undo, Root("Named"), "??"));
    EXPECT_TRUE(KeyExists(Root("Named\\Zed")));
    EXPECT_EQ(std::vector<BYTE>({'x', 0}), ValueBytes(Root("Named"), "v"));
    // The A functions cannot name them: the cleanup after the test could not either.
    for (const std::string& parent : {below, below + "\\Named"}) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_CURRENT_USER, parent.c_str(), 0, KEY_ALL_ACCESS, &root));
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(root, kNamae));
        RegCloseKey(root);
    }
}

} // namespace
