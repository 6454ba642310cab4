// File existence with its fallbacks, the search of bare names, fixed drives
// and the registry existence tests.
#include "fileref/file_probe.h"
#include "fileref/scan_file_cache.h"
#include "fileref_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using hmtest::BuildForFileRef;
using hmtest::MachineBuilder;

#define BUILD_OR_RETURN(machine)                                                                   \
    do {                                                                                           \
        BuildForFileRef(machine);                                                                  \
        if (HasFatalFailure() || IsSkipped())                                                      \
            return;                                                                                \
    } while (0)

bool Probe(const std::string& path, DWORD* attributes = nullptr) {
    DWORD found = 0xdeadbeef;
    const bool result = ProbeFile(path, found);
    if (attributes != nullptr)
        *attributes = found;
    return result;
}

TEST(ProbeFileTest, FindsAFileOnlyInTheNativeSystemFolderWithRedirectionOff) {
    MachineBuilder machine;
    machine.Wow64Process(true).File("C:\\Windows\\Sysnative\\hm64only.dll");
    BUILD_OR_RETURN(machine);
    const std::string path = "C:\\Windows\\System32\\hm64only.dll";
    EXPECT_TRUE(Probe(path));
    // Redirection is back on afterwards: the 32-bit view still lacks it.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
}

TEST(ProbeFileTest, ReadsProgramFilesX86AsProgramFilesInAnyCase) {
    MachineBuilder machine;
    machine.File("C:\\Program Files\\HmProbeApp\\a.exe");
    BUILD_OR_RETURN(machine);
    DWORD attributes = 0;
    EXPECT_TRUE(Probe("C:\\PROGRAM FILES (X86)\\HmProbeApp\\a.exe", &attributes));
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(Probe("C:\\Program Files (x86)\\HmProbeApp\\b.exe"));
}

TEST(ProbeFileTest, NameWithoutExtensionMatchesAnyExtensionFolderIncluded) {
    MachineBuilder machine;
    machine.File("C:\\HmTools\\setup.exe").Folder("C:\\HmTools\\data.d");
    BUILD_OR_RETURN(machine);
    DWORD attributes = 0xdeadbeef;
    EXPECT_TRUE(Probe("C:\\HmTools\\setup", &attributes));
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(Probe("C:\\HmTools\\data", &attributes));
    EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(Probe("C:\\HmTools\\gone", &attributes));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes);
}

TEST(ProbeFileTest, AShortNameThatDoesNotResolveCannotBeJudged) {
    MachineBuilder machine;
    machine.Folder("C:\\HMKEPT~1");
    BUILD_OR_RETURN(machine);
    DWORD attributes = 0;
    EXPECT_TRUE(Probe("C:\\HMNONE~1\\HmApp\\app.exe", &attributes));
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(Probe("C:\\HMNONE~2\\HmApp", &attributes));
    EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
    // One that resolves is judged as any path; a tilde alone makes no short name.
    EXPECT_FALSE(Probe("C:\\HMKEPT~1\\gone.exe"));
    EXPECT_FALSE(Probe("C:\\HmApp~old\\gone.exe"));
}

TEST(ProbeFileTest, PastALostCharacterOnlyTheFolderBeforeItIsJudged) {
    MachineBuilder machine;
    machine.File("C:\\HmUser\\a.txt");
    BUILD_OR_RETURN(machine);
    EXPECT_TRUE(Probe("C:\\HmUser\\Hm?Dir\\app.exe"));
    EXPECT_TRUE(Probe("\\\\?\\C:\\HmUser\\a.txt")); // a long path's prefix loses nothing
    EXPECT_FALSE(Probe("\\\\?\\C:\\HmUser\\gone.txt"));
    EXPECT_FALSE(Probe("C:\\Gone\\Hm?Dir\\app.exe"));
    EXPECT_FALSE(Probe("C:\\HmUser\\a.txt\\Hm?.dll"));
}

TEST(SearchFileTest, SystemFoldersWithoutPathAndFoldersDoNotCount) {
    MachineBuilder machine;
    machine.Environment("Path", "").Folder("C:\\Windows\\hmsub");
    hmtest::SystemFile(machine, "C:\\Windows\\notepad.exe");
    BUILD_OR_RETURN(machine);
    EXPECT_TRUE(SearchFile("notepad.exe"));
    EXPECT_TRUE(SearchFile("NOTEPAD")); // name.* in a search folder
    EXPECT_FALSE(SearchFile("hmsub"));
    EXPECT_FALSE(SearchFile(""));
    EXPECT_FALSE(SearchFile("hm-not-anywhere.exe"));
}

TEST(SearchFileTest, PathVariableFolders) {
    MachineBuilder machine;
    machine.Environment("Path", ";;C:\\HmBin;;C:\\HmOther").File("C:\\HmBin\\tool.exe");
    BUILD_OR_RETURN(machine);
    EXPECT_TRUE(SearchFile("tool.exe"));
}

TEST(SearchFileTest, DrivePathIsProbedAsItIsFolderIncluded) {
    MachineBuilder machine;
    machine.Folder("C:\\HmDir");
    BUILD_OR_RETURN(machine);
    EXPECT_TRUE(SearchFile("C:\\HmDir"));
    EXPECT_FALSE(SearchFile("C:\\HmDir\\x.exe"));
}

TEST(SearchFileTest, NameFoundOnlyThroughAppPaths) {
    const std::string appPaths =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    MachineBuilder machine;
    machine.String(appPaths + "hmdefault.exe", "", "C:\\HmApps\\One\\hmdefault.exe")
        .File("C:\\HmApps\\One\\hmdefault.exe")
        .String(appPaths + "hmpath.exe", "Path", "C:\\HmApps\\Two")
        .File("C:\\HmApps\\Two\\hmpath.exe")
        .String(appPaths + "hmstale.exe", "", "C:\\HmApps\\Gone\\hmstale.exe")
        .String(appPaths + "hmstale.exe", "Path", "C:\\HmApps\\Two")
        .Key(appPaths + "hmempty.exe");
    BUILD_OR_RETURN(machine);
    EXPECT_TRUE(SearchFile("hmdefault.exe"));
    EXPECT_TRUE(SearchFile("hmpath.exe"));
    // The default value decides alone when it is set.
    EXPECT_FALSE(SearchFile("hmstale.exe"));
    EXPECT_FALSE(SearchFile("hmempty.exe"));
}

TEST(SearchFileTest, AppPathsNeedWriteAccess) {
    const std::string key =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\hmro.exe";
    MachineBuilder machine;
    machine.String(key, "", "C:\\HmApps\\hmro.exe")
        .File("C:\\HmApps\\hmro.exe")
        .Deny(key, hmtest::KeyDenial::Write);
    BUILD_OR_RETURN(machine);
    EXPECT_FALSE(SearchFile("hmro.exe"));
}

TEST(FixedDriveTest, OnlyFixedDisksCount) {
    MachineBuilder machine;
    machine.Drive('D', DRIVE_REMOVABLE)
        .Drive('E', DRIVE_CDROM)
        .Drive('F', DRIVE_REMOTE)
        .Drive('G', DRIVE_FIXED);
    BUILD_OR_RETURN(machine);
    DWORD mask = 0xdeadbeef;
    EXPECT_TRUE(GetFixedDriveMask(mask));
    EXPECT_EQ((1u << 2) | (1u << 6), mask);
    const struct {
        char letter;
        bool fixed;
    } rows[] = {{'C', true},  {'c', true},  {'g', true},  {'D', false}, {'e', false},
                {'F', false}, {'Z', false}, {'1', false}, {0, false}};
    for (const auto& row : rows)
        EXPECT_EQ(row.fixed, IsFixedDrive(row.letter)) << static_cast<int>(row.letter);
}

TEST(RegistryExistenceTest, ClassesInEitherViewAndExtShellViews) {
    const char* const kClsid = "{0D1E5E7A-8F27-4C44-9A31-5A1D0C0FFEE1}";
    MachineBuilder machine;
    machine.Key(std::string("HKEY_CLASSES_ROOT\\CLSID\\") + kClsid)
        .Key("HKEY_CLASSES_ROOT\\Wow6432Node\\CLSID\\{0D1E5E7A-8F27-4C44-9A31-5A1D0C0FFEE2}")
        .Key("HKEY_CLASSES_ROOT\\.hmext")
        .Key(std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                         "ExtShellViews\\") +
             kClsid);
    BUILD_OR_RETURN(machine);
    EXPECT_TRUE(ClassesKeyExists(kClsid, "CLSID"));
    EXPECT_TRUE(ClassesKeyExists("{0D1E5E7A-8F27-4C44-9A31-5A1D0C0FFEE2}", "CLSID"));
    EXPECT_FALSE(ClassesKeyExists("{0D1E5E7A-8F27-4C44-9A31-5A1D0C0FFEE3}", "CLSID"));
    EXPECT_TRUE(ClassesKeyExists(".hmext", ""));
    EXPECT_TRUE(ExtShellViewExists(kClsid));
    EXPECT_FALSE(ExtShellViewExists("{0D1E5E7A-8F27-4C44-9A31-5A1D0C0FFEE2}"));
}

// Within a scan an answer, once given, holds (a file that appears meanwhile
// is not seen); a nested scope shares it; the next scan asks afresh.
TEST(ScanFileCacheTest, AnswersHoldForTheScanAndAreForgottenWhenItEnds) {
    MachineBuilder machine;
    machine.File("C:\\HmCache\\a.exe");
    BUILD_OR_RETURN(machine);
    DWORD attributes = 0;
    {
        CScanFileCache scan;
        EXPECT_TRUE(ProbeFile("C:\\HmCache\\a.exe", attributes));
        EXPECT_FALSE(ProbeFile("C:\\HmCache\\b.exe", attributes));
        HANDLE file = CreateFileA("C:\\HmCache\\b.exe", GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        CloseHandle(file);
        {
            CScanFileCache nested;
            EXPECT_FALSE(ProbeFile("C:\\HmCache\\b.exe", attributes));
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes);
        }
        EXPECT_FALSE(ProbeFile("C:\\HmCache\\b.exe", attributes)) << "the nested end kept it";
    }
    CScanFileCache nextScan;
    EXPECT_TRUE(ProbeFile("C:\\HmCache\\b.exe", attributes));
    EXPECT_EQ(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
    DeleteFileA("C:\\HmCache\\b.exe");
}

} // namespace
