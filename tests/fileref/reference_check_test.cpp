// The value file-reference checks on one machine that holds everything the
// rows need: a program folder with one present program, a CD drive, a
// removable drive, a network drive and the rundll host.
#include "fileref/reference_check.h"
#include "fileref/scan_file_cache.h"
#include "fileref_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct CheckRow {
    const char* input;
    bool result;
    const char* textAfter; // nullptr: unchanged
    const char* fileAfter; // nullptr: unchanged
};

const char kUntouched[] = "untouched";

void BuildCommonMachine(hmtest::MachineBuilder& machine) {
    machine.File("C:\\Program Files\\HmApp\\app.exe")
        .File("C:\\Program Files\\HmApp\\helper.dll")
        .Folder("C:\\Program Files\\HmApp\\Data")
        .File("C:\\HmLib\\good.dll")
        .Environment("HMAPPDIR", "C:\\Program Files\\HmApp");
    hmtest::SystemFile(machine, "C:\\Windows\\System32\\rundll32.exe");
    hmtest::SystemFile(machine, "C:\\Windows\\System32\\shell32.dll");
    hmtest::SystemFile(machine, "C:\\Windows\\System32\\notepad.exe");
}

void ExpectRow(const CheckRow& row, bool (*check)(std::string&, std::string&)) {
    std::string text = row.input;
    std::string file = kUntouched;
    EXPECT_EQ(row.result, check(text, file)) << row.input;
    EXPECT_EQ(row.textAfter ? row.textAfter : row.input, text) << row.input;
    EXPECT_EQ(row.fileAfter ? row.fileAfter : kUntouched, file) << row.input;
}

TEST(CheckFileReferenceTest, OnAFixedDiskMachine) {
    hmtest::MachineBuilder machine;
    BuildCommonMachine(machine);
    BUILD_OR_RETURN(machine);
    const CheckRow rows[] = {
        {"", false, "*", nullptr},
        {"ab", true, nullptr, nullptr},
        {"\\\\server\\share\\x.exe", true, nullptr, nullptr},
        {"%HMUNDEFINEDVAR%\\x.exe", true, nullptr, nullptr},
        {"C:\\Program Files\\HmApp\\app.exe -min", true, nullptr,
         "C:\\Program Files\\HmApp\\app.exe"},
        {"C:\\Program Files\\HmApp\\gone.exe -min", false, "* -min",
         "C:\\Program Files\\HmApp\\gone.exe"},
        {"\"C:\\Gone\\a.exe\" /x", false, "\"*\" /x", "C:\\Gone\\a.exe"},
        {"C:\\HmLib;C:\\Gone\\b.dll", false, "C:\\HmLib;*", "C:\\Gone\\b.dll"},
        {"C:\\Gone\\a.dll;C:\\HmLib\\good.dll", false, "*;C:\\HmLib\\good.dll", "C:\\Gone\\a.dll"},
        {"rundll32.exe gone.dll,Entry", false, "rundll32.exe *,Entry", "gone.dll"},
        {"rundll32.exe shell32.dll,Control_RunDLL", true, nullptr, "shell32.dll"},
        {"rundll32.exe \"shell32.dll\",Control_RunDLL", true, nullptr, "shell32.dll"},
        {"rundll32.exe", true, nullptr, "rundll32.exe"},
        {"gone.exe /s", false, "* /s", "gone.exe"},
        {"\"hmgone.exe\" /s", false, "\"*\" /s", "hmgone.exe"},
        {"notepad.exe %1", true, nullptr, "notepad.exe"},
        // A folder met before the end stops the check: the arguments are not paths.
        // (the last folder met is the one the hyphen ended, blank included).
        {"C:\\Program Files\\HmApp\\Data -x C:\\Gone", true, nullptr,
         "C:\\Program Files\\HmApp\\Data "},
        // A blank inside a folder name followed by a backslash goes on.
        {"C:\\Program Files\\HmApp\\helper.dll,Run", true, nullptr,
         "C:\\Program Files\\HmApp\\helper.dll"},
        // A file followed by a backslash ends the path: the file is present.
        {"C:\\HmLib\\good.dll\\x.exe", true, nullptr, "C:\\HmLib\\good.dll"},
        // Variables expand before the check; the expanded text is what is marked.
        {"%HMAPPDIR%\\gone.exe", false, "*", "C:\\Program Files\\HmApp\\gone.exe"},
        {"%HMAPPDIR%\\app.exe", true, "C:\\Program Files\\HmApp\\app.exe",
         "C:\\Program Files\\HmApp\\app.exe"},
        // A rundll host named by full path: its library argument is tested too.
        {"C:\\Windows\\System32\\rundll32.exe C:\\Gone\\x.dll,Entry", false,
         "C:\\Windows\\System32\\rundll32.exe *,Entry", "C:\\Gone\\x.dll"},
        {"C:\\Windows\\System32\\rundll32.exe C:\\HmLib\\good.dll,Entry", true, nullptr,
         "C:\\HmLib\\good.dll"},
        // ... but a bare library name after it cannot be tested as a drive path.
        {"C:\\Windows\\System32\\rundll32.exe gone.dll,Entry", true, nullptr,
         "C:\\Windows\\System32\\rundll32.exe"},
        // "@" before a drive path: an indirect resource string, not probed.
        {"@C:\\Gone\\res.dll,-101", true, nullptr, nullptr},
        // "@" before a bare name is searched.
        {"@hmgone.dll,-5", false, "@*,-5", "hmgone.dll"},
        // A packaged app's resource, resolved by the package manager.
        {"@{Hm.App_1.0_x64__8wekyb3d8bbwe?ms-resource://Hm.App/Files/a.png}", true, nullptr,
         nullptr},
        // rundll32 serving a registered class names no library.
        {"rundll32.exe -sta {C90250F3-4D7D-4991-9B69-A5C5BC1C2AE6}", true, nullptr, "rundll32.exe"},
        {"rundll32.exe -localserver 22d8c27b-47a1-48d1-ad08-7da7abd79617", true, nullptr,
         "rundll32.exe"},
        // '?' stands for a character the code page lacks: a name cut there cannot be searched.
        {"Hm?Tool.exe /s", true, nullptr, "Hm"},
    };
    for (const CheckRow& row : rows) {
        ExpectRow(row, CheckFileReference);
        // The scan's memory of file-system answers changes no answer.
        CScanFileCache scan;
        ExpectRow(row, CheckFileReference);
        ExpectRow(row, CheckFileReference);
    }
}

TEST(CheckFileReferenceLimitsTest, OverLongPathsCountAsPresent) {
    hmtest::MachineBuilder machine;
    BUILD_OR_RETURN(machine);
    const std::string longName = "C:\\Gone\\" + std::string(260, 'a') + ".exe";
    std::string text = longName;
    std::string file;
    EXPECT_TRUE(CheckFileReference(text, file));
    text = std::string(258, 'b') + ".exe /s";
    EXPECT_TRUE(CheckFileReference(text, file));
    // 259 characters is still a path.
    text = "C:\\Gone\\" + std::string(259 - 12, 'c') + ".exe";
    ASSERT_EQ(259u, text.size());
    EXPECT_FALSE(CheckFileReference(text, file));
    EXPECT_EQ("*", text);
}

TEST(OtherDrivesTest, AreNeverTested) {
    hmtest::MachineBuilder machine;
    machine.Drive('D', DRIVE_REMOVABLE).Drive('E', DRIVE_CDROM).Drive('F', DRIVE_REMOTE);
    BuildCommonMachine(machine);
    BUILD_OR_RETURN(machine);
    const CheckRow rows[] = {
        {"D:\\x\\y.exe", true, nullptr, nullptr},
        {"\"F:\\x\\y.exe\" /q", true, nullptr, nullptr},
        {"Q:\\x\\y.exe", true, nullptr, nullptr}, // no such drive
        // List elements on other drives and shares are passed over untested ...
        {"C:\\HmLib;E:\\gone;\\\\srv\\gone;C:\\Gone\\c.dll", false,
         "C:\\HmLib;E:\\gone;\\\\srv\\gone;*", "C:\\Gone\\c.dll"},
        // ... and when no fixed-drive element follows, the list is present.
        {"C:\\HmLib;E:\\gone;\\\\srv\\gone", true, nullptr, nullptr},
    };
    for (const CheckRow& row : rows)
        ExpectRow(row, CheckFileReference);
}

TEST(CheckDrivePathReferenceTest, OnlyDrivePathsAreTested) {
    hmtest::MachineBuilder machine;
    BuildCommonMachine(machine);
    BUILD_OR_RETURN(machine);
    const CheckRow rows[] = {
        {"gone.exe", true, nullptr, nullptr},
        {"@C:\\Gone\\a.dll", true, nullptr, nullptr},
        {"C:", true, nullptr, nullptr},
        {"C:\\", true, nullptr, "C:\\"},
        {"C:\\Gone\\doc.txt", false, "*", "C:\\Gone\\doc.txt"},
        {"C:\\HmLib\\good.dll;C:\\HmLib\\good.dll;C:\\Gone\\z.dll", false,
         "C:\\HmLib\\good.dll;C:\\HmLib\\good.dll;*", "C:\\Gone\\z.dll"},
    };
    for (const CheckRow& row : rows)
        ExpectRow(row, CheckDrivePathReference);
}

} // namespace
