// File existence with its fallbacks, the search of bare names, fixed drives
// and the registry existence tests.
#include "fileref/file_probe.h"
#include "fileref/scan_file_cache.h"
#include "fileref_machine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using hmtest::MachineBuilder;

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

constexpr int kFile = 0, kFolder = 1, kNothing = 2, kUnchecked = 3;

TEST(ProbeFileTest, FallbacksAndWhatCannotBeJudged) {
    MachineBuilder machine;
    machine.File("C:\\Program Files\\HmProbeApp\\a.exe")
        .File("C:\\HmTools\\setup.exe")
        .Folder("C:\\HmTools\\data.d")
        .Folder("C:\\HMKEPT~1")
        .File("C:\\HmUser\\a.txt");
    BUILD_OR_RETURN(machine);
    const struct {
        const char* path;
        bool found;
        int what; // the attributes' answer
    } cases[] = {
        // Program Files (x86) read as Program Files, in any case.
        {"C:\\PROGRAM FILES (X86)\\HmProbeApp\\a.exe", true, kFile},
        {"C:\\Program Files (x86)\\HmProbeApp\\b.exe", false, kUnchecked},
        // A name without extension matches any, a folder's included.
        {"C:\\HmTools\\setup", true, kFile},
        {"C:\\HmTools\\data", true, kFolder},
        {"C:\\HmTools\\gone", false, kNothing},
        // The folder on the path, not the path's text, says what is missing.
        {"C:\\HmGone\\..\\HmTools\\setup", true, kFile},
        // A short name that does not resolve cannot be judged; one that
        // resolves is judged as any path; a tilde alone makes no short name.
        {"C:\\HMNONE~1\\HmApp\\app.exe", true, kFile},
        {"C:\\HMNONE~2\\HmApp", true, kFolder},
        {"C:\\HMKEPT~1\\gone.exe", false, kUnchecked},
        {"C:\\HmApp~old\\gone.exe", false, kUnchecked},
        // Past a lost character only the folder before it is judged; a long
        // path's prefix loses nothing.
        {"C:\\HmUser\\Hm?Dir\\app.exe", true, kUnchecked},
        {"\\\\?\\C:\\HmUser\\a.txt", true, kUnchecked},
        {"\\\\?\\C:\\HmUser\\gone.txt", false, kUnchecked},
        {"C:\\Gone\\Hm?Dir\\app.exe", false, kUnchecked},
        {"C:\\HmUser\\a.txt\\Hm?.dll", false, kUnchecked},
    };
    for (const auto& c : cases) {
        DWORD attributes = 0xdeadbeef;
        EXPECT_EQ(c.found, Probe(c.path, &attributes)) << c.path;
        if (c.what == kNothing) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes) << c.path;
        } else if (c.what != kUnchecked) {
            EXPECT_EQ(c.what == kFolder, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) << c.path;
        }
    }
}

// System folders count without being on Path, folders found there do not;
// Path's folders, a drive path as it is, and names App Paths registers.
TEST(SearchFileTest, SearchFoldersAndAppPaths) {
    const std::string appPaths =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
    MachineBuilder machine;
    machine.Environment("Path", ";;C:\\HmBin;;C:\\HmOther")
        .Folder("C:\\Windows\\hmsub")
        .File("C:\\HmBin\\tool.exe")
        .Folder("C:\\HmDir")
        .String(appPaths + "hmdefault.exe", "", "C:\\HmApps\\One\\hmdefault.exe")
        .File("C:\\HmApps\\One\\hmdefault.exe")
        .String(appPaths + "hmpath.exe", "Path", "C:\\HmApps\\Two")
        .File("C:\\HmApps\\Two\\hmpath.exe")
        .String(appPaths + "hmstale.exe", "", "C:\\HmApps\\Gone\\hmstale.exe")
        .String(appPaths + "hmstale.exe", "Path", "C:\\HmApps\\Two")
        .Key(appPaths + "hmempty.exe");
    hmtest::SystemFile(machine, "C:\\Windows\\notepad.exe");
    BUILD_OR_RETURN(machine);
    const struct {
        const char* name;
        bool found;
    } cases[] = {
        {"notepad.exe", true},
        {"NOTEPAD", true}, // name.* in a search folder
        {"hmsub", false},
        {"", false},
        {"hm-not-anywhere.exe", false},
        {"tool.exe", true},
        {"C:\\HmDir", true},
        {"C:\\HmDir\\x.exe", false},
        {"hmdefault.exe", true},
        {"hmpath.exe", true},
        {"hmstale.exe", false}, // the default value decides alone when it is set
        {"hmempty.exe", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.found, SearchFile(c.name)) << c.name;
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
        ASSERT_TRUE(hmtest::WriteWholeFile("C:\\HmCache\\b.exe", ""));
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
