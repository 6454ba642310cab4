// The undo file on disk: where it goes, its header, its sections and
// entries, and what it keeps when the same thing is saved twice.
#include "fix/registry_edits.h"
#include "fix/undo_file.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/fix/fix_test_support.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using hmtest::FixTest;
using hmtest::ReadWholeFile;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

// The file's lines after the header, blank ones left out: where the profile
// functions put empty lines differs between implementations.
std::vector<std::string> Body(const std::string& bytes) {
    std::vector<std::string> lines;
    std::istringstream in(bytes);
    std::string line;
    std::getline(in, line); // the header line
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += line + "\n";
    return text;
}

using UndoFileTest = FixTest;

TEST_F(UndoFileTest, IsCreatedWithItsFoldersAndHoldsOnlyTheHeader) {
    hmtest::MachineBuilder machine;
    RETURN_UNLESS_BUILT(machine);
    if (hmtest::RunningOnStandIn()) {
        EXPECT_EQ("C:\\Program Files (x86)\\Hivemender\\Undo\\Hivemender", hmtest::UndoFolder());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
                  GetFileAttributesA("C:\\Program Files (x86)\\Hivemender\\Undo"));
    }
    CUndoFile undo = CreateUndoFile();
    ASSERT_TRUE(undo.IsOpen()) << undo.m_dwCreateError;
    EXPECT_EQ(0u, undo.m_path.rfind(hmtest::UndoFolder() + "\\", 0)) << undo.m_path;
    EXPECT_EQ(".reg", undo.m_path.substr(undo.m_path.size() - 4));
    EXPECT_EQ(std::string::npos, undo.m_path.find_first_of("/:", 2)) << undo.m_path;
    EXPECT_EQ(kHeader, ReadWholeFile(undo.m_path));
}

TEST_F(UndoFileTest, EveryFixGetsAFileOfItsOwnWithinTheSameSecond) {
    hmtest::MachineBuilder machine;
    RETURN_UNLESS_BUILT(machine);
    CUndoFile first = CreateUndoFile();
    ASSERT_TRUE(first.IsOpen());
    ASSERT_TRUE(WritePrivateProfileStringA("K", "\"v\"", "\"x\"", first.m_path.c_str()));
    const std::string firstBytes = ReadWholeFile(first.m_path);
    std::set<std::string> paths = {first.m_path};
    for (int i = 0; i < 3; ++i) {
        CUndoFile next = CreateUndoFile();
        ASSERT_TRUE(next.IsOpen());
        EXPECT_TRUE(paths.insert(next.m_path).second) << next.m_path << " reused";
        EXPECT_EQ(kHeader, ReadWholeFile(next.m_path));
    }
    EXPECT_EQ(firstBytes, ReadWholeFile(first.m_path)) << "an earlier fix's file was touched";
}

TEST_F(UndoFileTest, AKeyIsSavedDepthFirstWithASectionForEveryKeyEvenEmptyOnes) {
    hmtest::MachineBuilder machine;
    // Values in name order: Wine lists values by name, Windows by creation.
    machine.String(Root(), "", "default")
        .String(Root(), "a", "C:\\a \"q\"")
        .Dword(Root("A"), "n", 10)
        .Key(Root("A\\A1"))
        .Value(Root("A\\A2"), "b", REG_BINARY, {1, 171})
        .Key(Root("B"));
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.OpenByText(Root(), KEY_READ));
    EXPECT_EQ(ERROR_SUCCESS, ExportKeyToUndo(key, undo));
    const std::string bytes = ReadWholeFile(undo.m_path);
    EXPECT_EQ(0u, bytes.rfind("Windows Registry Editor Version 5.00\r\n", 0));
    // A key without values keeps a comment line, written with its header.
    const std::string empty = ";hivemender-placeholder=";
    const std::vector<std::string> expected = {
        "[" + Root() + "]",        "@=\"default\"",        "\"a\"=\"C:\\\\a \\\"q\\\"\"",
        "[" + Root("A") + "]",     "\"n\"=dword:0000000a", "[" + Root("A\\A1") + "]",
        empty,                     "[" + Root("A\\A2") + "]", "\"b\"=hex:01,ab",
        "[" + Root("B") + "]",     empty,
    };
    EXPECT_EQ(Joined(expected), Joined(Body(bytes)));
}

// Entries of an earlier section are appended under a repeated header and
// grouped when the fix ends: the bytes are those the profile functions
// would write, one call per entry.
TEST_F(UndoFileTest, SavesInAnyOrderGiveTheBytesOfTheProfileFunctions) {
    struct Save {
        std::string key, value;
    };
    const std::vector<Save> saves = {
        {"A", "v1"},      {"B", "w1"},      {"A", "v2"},     {"Caf\xe9", "x1"},
        {"B", "w2"},      {"Caf\xe9", "x2"}, {"A", "n\xe9"}, {"Caf\xe9", "N\xc9 2"},
        {"b", "w3"},      {"C]", "y"},      {"D", "z"},
    };
    hmtest::MachineBuilder machine;
    for (const Save& save : saves)
        machine.String(Root(save.key), save.value, "old " + save.value);
    machine.Key(Root("Empty"));
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    CUndoFile reference = CreateUndoFile();
    for (const Save& save : saves) {
        EXPECT_EQ(ERROR_SUCCESS, DeleteValueWithUndo(undo, Root(save.key), save.value));
        // The registry keeps a key's first spelling.
        const std::string section = Root(save.key == "b" ? "B" : save.key);
        EXPECT_TRUE(WritePrivateProfileStringA(section.c_str(),
                                               FormatRegValueName(save.value).c_str(),
                                               FormatRegString("old " + save.value).c_str(),
                                               reference.m_path.c_str()));
    }
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyWithUndo(Root("Empty"), undo));
    EXPECT_TRUE(WritePrivateProfileSectionA(Root("Empty").c_str(),
                                            ";hivemender-placeholder=\0", reference.m_path.c_str()));
    FinishUndoFile(undo);
    const std::string bytes = ReadWholeFile(undo.m_path);
    if (hmtest::RunningOnStandIn())
        EXPECT_EQ(ReadWholeFile(reference.m_path), bytes);
    else
        EXPECT_EQ(Joined(Body(ReadWholeFile(reference.m_path))), Joined(Body(bytes)));
}

TEST_F(UndoFileTest, AValueChangedTwiceKeepsOneEntryWithItsStateBeforeTheFirstChange) {
    hmtest::MachineBuilder machine;
    machine.String(Root(), "Path", "C:\\a;C:\\gone;C:\\b");
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_SUCCESS, SetValueWithUndo(undo, Root(), "Path", "C:\\a;C:\\b"));
    EXPECT_EQ(ERROR_SUCCESS, SetValueWithUndo(undo, Root(), "path", "C:\\a"));
    EXPECT_EQ(ERROR_SUCCESS, DeleteValueWithUndo(undo, Root(), "PATH"));
    const std::vector<std::string> expected = {"[" + Root() + "]",
                                               "\"Path\"=\"C:\\\\a;C:\\\\gone;C:\\\\b\""};
    EXPECT_EQ(Joined(expected), Joined(Body(ReadWholeFile(undo.m_path))));
}

TEST_F(UndoFileTest, AKeyDeletedAfterItsValueChangedSavesTheValueAsItWasFirst) {
    hmtest::MachineBuilder machine;
    machine.String(Root(), "Old", "before").String(Root(), "Other", "kept").Key(Root("Sub"));
    RETURN_UNLESS_BUILT(machine);
    CUndoFile undo = CreateUndoFile();
    EXPECT_EQ(ERROR_SUCCESS, SetValueWithUndo(undo, Root(), "Old", "after"));
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyWithUndo(Root(), undo));
    const std::vector<std::string> expected = {"[" + Root() + "]", "\"Old\"=\"before\"",
                                               "\"Other\"=\"kept\"", "[" + Root("Sub") + "]",
                                               ";hivemender-placeholder="};
    EXPECT_EQ(Joined(expected), Joined(Body(ReadWholeFile(undo.m_path))));
}

TEST_F(UndoFileTest, WithoutAFileNothingIsSavedAndNothingChanged) {
    hmtest::MachineBuilder machine;
    machine.String(Root(), "v", "x").Key(Root("Sub"));
    RETURN_UNLESS_BUILT(machine);
    CUndoFile none;
    none.m_dwCreateError = ERROR_PATH_NOT_FOUND;
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, DeleteValueWithUndo(none, Root(), "v"));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, SetValueWithUndo(none, Root(), "v", "y"));
    EXPECT_EQ(ERROR_PATH_NOT_FOUND, DeleteKeyWithUndo(Root(), none));
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(hmtest::ReadValue(Root(), "v", &type, &data));
    EXPECT_EQ(std::vector<BYTE>({'x', 0}), data);
    EXPECT_TRUE(hmtest::KeyExists(Root("Sub")));
    // Gone is gone, file or no file.
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteValueWithUndo(none, Root(), "missing"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyWithUndo(Root("Missing"), none));
}

TEST_F(UndoFileTest, AFolderThatCannotBeMadeGivesNoFile) {
    SKIP_ON_WINE("the plug-in's folder is the build folder there");
    struct Case {
        const char* what;
        std::string pluginPath;
        std::string fileInTheWay;
    };
    for (const Case& c :
         {Case{"a file named Undo", {}, "C:\\Program Files (x86)\\Hivemender\\Undo"},
          // Not "Undo" below whatever folder the host runs in.
          Case{"a plug-in path beyond MAX_PATH",
               "C:\\" + std::string(300, 'd') + "\\hivemender.dll",
               {}}}) {
        SCOPED_TRACE(c.what);
        hmtest::MachineBuilder machine;
        if (!c.pluginPath.empty())
            machine.PluginPath(c.pluginPath);
        if (!c.fileInTheWay.empty())
            machine.File(c.fileInTheWay, "in the way");
        RETURN_UNLESS_BUILT(machine);
        CUndoFile undo = CreateUndoFile();
        EXPECT_FALSE(undo.IsOpen()) << undo.m_path;
        EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), undo.m_dwCreateError);
        EXPECT_NE(static_cast<DWORD>(ERROR_FILE_EXISTS), undo.m_dwCreateError);
    }
}

} // namespace
