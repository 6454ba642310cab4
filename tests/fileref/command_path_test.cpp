// Command-line path extraction and the small classifiers around it.
#include "fileref/command_path.h"
#include "fileref_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// Each row needs at most notepad in the Windows folder and no "cmd" in it.
TEST(ExtractCommandPathTest, ReducesToTheNamedFile) {
    hmtest::MachineBuilder machine;
    hmtest::SystemFile(machine, "C:\\Windows\\notepad.exe");
    BUILD_OR_RETURN(machine);
    const struct {
        const char* input;
        bool result;
        const char* output;
    } rows[] = {
        // The dot four places before the blank ends the path.
        {"C:\\Program Files\\App\\app.exe -min", true, "C:\\Program Files\\App\\app.exe"},
        // A dot among the last four characters: taken whole.
        {"C:\\Program Files\\My App\\app.exe", true, "C:\\Program Files\\My App\\app.exe"},
        {"rundll32.exe shell32.dll,Control_RunDLL", true, "rundll32.exe"},
        {"shell32.dll,Control_RunDLL", true, "shell32.dll"},
        // No extension before the blank: the search finds notepad.exe by name.*.
        {"notepad readme.txt", true, "notepad"},
        // A list element that is not rooted does not cut.
        {"C:\\a\\b.dll;d.dll", true, "C:\\a\\b.dll"},
        // The double quote ends the directory part.
        {"C:\\App\\app.exe \"C:\\data\\x.txt\"", true, "C:\\App\\app.exe"},
        {"C:\\x\\ab c", false, "C:\\x\\ab c"},
        // No dot; the probe fails; the slash cuts with the blank kept.
        {"C:\\Windows\\cmd /c dir", true, "C:\\Windows\\cmd "},
        // Callers strip quotes: a leading one is name-breaking and cuts to nothing.
        {"\"C:\\a b\\x.exe\" /s", true, ""},
        // Wider extensions are found by widening the window.
        {"C:\\x\\page.html -x", true, "C:\\x\\page.html"},
        // Fallback: a hyphen after a blank keeps the blank; a comma after a blank drops it.
        {"C:\\x\\tool -q", true, "C:\\x\\tool "},
        {"C:\\x\\tool ,q", true, "C:\\x\\tool"},
        {"C:\\x\\toolname", false, "C:\\x\\toolname"},
        {"abc", false, "abc"},
    };
    for (const auto& row : rows) {
        std::string text = row.input;
        EXPECT_EQ(row.result, ExtractCommandPath(text)) << row.input;
        EXPECT_EQ(row.output, text) << row.input;
    }
}

TEST(IsRootedPathTest, DriveAndUncShapes) {
    struct Row {
        const char* text;
        bool rooted;
        char drive;
    };
    const Row rows[] = {
        {"\"  \\\\server\\share", true, 0},
        {"x:\\", true, 'x'},
        {"x:", false, 0},
        {"", false, 0},
        {"\"C:\\a", true, 'C'},
        {"C:a", false, 0},
        {" \t D:\\", true, 'D'},
        {"\\x", false, 0},
    };
    for (const Row& row : rows) {
        char drive = '?';
        EXPECT_EQ(row.rooted, IsRootedPath(row.text, drive)) << row.text;
        EXPECT_EQ(row.drive, drive) << row.text;
    }
}

TEST(ClassifierTest, RundllHostIsAWholeNameMatch) {
    for (const char* yes : {"RunDll32.EXE", "rundll32", "RUNDLL", "rundll.exe"})
        EXPECT_TRUE(IsRundllHost(yes)) << yes;
    for (const char* no : {"rundll32.exe,", "rundll32.ex", "xrundll32", ""})
        EXPECT_FALSE(IsRundllHost(no)) << no;
}

TEST(ClassifierTest, KnownExtensions) {
    EXPECT_TRUE(HasKnownFileExtension("C:\\x\\SETUP.EXE"));
    EXPECT_TRUE(HasKnownFileExtension("C:\\x\\a.b.Tmp"));
    EXPECT_TRUE(HasKnownFileExtension("vmm.386"));
    EXPECT_FALSE(HasKnownFileExtension("C:\\x.y\\readme"));  // the backslash comes first
    EXPECT_FALSE(HasKnownFileExtension("C:\\x\\file.html")); // five characters
    EXPECT_FALSE(HasKnownFileExtension("C:\\x\\song.mp3"));
    EXPECT_FALSE(HasKnownFileExtension(".exe")); // a dot at index 0 is no extension
}

TEST(ExpandSystemRootPathTest, KernelStylePaths) {
    char windows[MAX_PATH] = {};
    ASSERT_NE(0u, GetWindowsDirectoryA(windows, MAX_PATH));
    struct Row {
        std::string input;
        bool result;
        std::string output;
    };
    const Row rows[] = {
        {"\\systemroot\\System32\\x.sys", true, std::string(windows) + "\\System32\\x.sys"},
        {"\\??\\C:\\x.sys", true, "C:\\x.sys"},
        {"C:\\x.sys", false, "C:\\x.sys"},
        {"System32\\drivers\\x.sys", false, "System32\\drivers\\x.sys"},
        {":odd", true, ":odd"},
        {"", false, ""},
    };
    for (const Row& row : rows) {
        std::string path = row.input;
        EXPECT_EQ(row.result, ExpandSystemRootPath(path)) << row.input;
        EXPECT_EQ(row.output, path) << row.input;
    }
}

} // namespace
