// The scanners of areas with one subkey per entry: installed programs,
// program registrations (App Paths) and services.
#include "scanners/app_paths.h"
#include "scanners/services.h"
#include "scanners/uninstall_entries.h"

#include "scan/exclusion_list.h"
#include "scanner_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using hmtest::Finding;
using hmtest::FindingsUnder;
using hmtest::MachineBuilder;

const std::string kUninstall =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kAppPaths =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const std::string kServices = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\";

// Entries this test made are named Hm...: a Wine prefix has entries of its own.
std::vector<Finding> Ours(const CHivemender& engine, const std::string& area) {
    return hmtest::Sorted(FindingsUnder(engine, area + "Hm"));
}

Finding Key(int section, const std::string& path) {
    return {section, path, "", "", ProblemDeleteKey};
}

TEST(UninstallEntriesTest, EntriesWithoutAWorkingWayToUninstallAreReported) {
    MachineBuilder machine;
    machine.Environment("Path", "C:\\HmTools")
        .File("C:\\HmApp\\uninst.exe")
        .File("C:\\HmTools\\hmremove.exe")
        .String(kUninstall + "HmGoneUninstaller", "UninstallString", "C:\\HmApp\\unins000.exe")
        .String(kUninstall + "HmQuietOnly", "QuietUninstallString", "\"C:\\HmApp\\uninst.exe\" /S")
        .String(kUninstall + "HmQuietGone", "QuietUninstallString", "C:\\HmApp\\gone.exe /S")
        .String(kUninstall + "HmQuietGone", "UninstallString", "C:\\HmApp\\uninst.exe")
        .Dword(kUninstall + "HmInstaller", "WindowsInstaller", 1)
        .Dword(kUninstall + "HmInstallerZero", "WindowsInstaller", 0)
        .String(kUninstall + "HmInstallerText", "WindowsInstaller", "1")
        .String(kUninstall + "HmEmptyCommand", "UninstallString", "")
        .String(kUninstall + "HmOnPath", "UninstallString", "hmremove.exe /x")
        .String(kUninstall + "HmExcluded", "UninstallString", "C:\\HmApp\\gone.exe");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    AddExclusionLine(engine, kUninstall + "HmExcluded");
    ScanUninstallEntries(engine);
    const std::vector<Finding> expected = {
        Key(SectionUninstall, kUninstall + "HmEmptyCommand"),
        Key(SectionUninstall, kUninstall + "HmGoneUninstaller"),
        Key(SectionUninstall, kUninstall + "HmInstallerText"),
        Key(SectionUninstall, kUninstall + "HmInstallerZero"),
        Key(SectionUninstall, kUninstall + "HmQuietGone"),
    };
    EXPECT_EQ(expected, Ours(engine, kUninstall));
}

TEST(AppPathsTest, MissingProgramsAndFoldersAreReported) {
    MachineBuilder machine;
    machine.File("C:\\HmApp\\app.exe")
        .String(kAppPaths + "HmGone.exe", "", "C:\\HmApp\\gone.exe")
        .String(kAppPaths + "HmGone.exe", "Path", "C:\\HmGoneFolder") // reported once, as a key
        .String(kAppPaths + "HmList.exe", "", "C:\\HmApp\\app.exe")
        .String(kAppPaths + "HmList.exe", "Path", "C:\\HmApp;C:\\HmGoneFolder")
        .String(kAppPaths + "HmBadPath.exe", "", "C:\\HmApp\\app.exe")
        .String(kAppPaths + "HmBadPath.exe", "Path", "C:\\HmGoneFolder")
        .Dword(kAppPaths + "HmNothing.exe", "UseUrl", 1)
        .String(kAppPaths + "HmEmpty.exe", "", "")
        .String(kAppPaths + "HmEmpty.exe", "Path", "")
        .Dword(kAppPaths + "HmNumbers.exe", "", 1)
        .String(kAppPaths + "HmPathOnly.exe", "Path", "C:\\HmApp")
        .String(kAppPaths + "HmExcluded.exe", "", "C:\\HmApp\\gone.exe");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    AddExclusionLine(engine, kAppPaths + "HmExcluded.exe");
    ScanAppPaths(engine);
    const std::vector<Finding> expected = {
        {SectionAppPaths, kAppPaths + "HmBadPath.exe", "Path", "", ProblemDeleteValue},
        Key(SectionAppPaths, kAppPaths + "HmEmpty.exe"),
        Key(SectionAppPaths, kAppPaths + "HmGone.exe"),
        {SectionAppPaths, kAppPaths + "HmList.exe", "Path", "C:\\HmApp", ProblemReplaceValue},
        Key(SectionAppPaths, kAppPaths + "HmNothing.exe"),
        Key(SectionAppPaths, kAppPaths + "HmNumbers.exe"),
    };
    EXPECT_EQ(expected, Ours(engine, kAppPaths));
}

struct ServiceCase {
    const char* what;
    std::function<void(MachineBuilder&, const std::string& key)> plant;
    int counted;
};

// Services are only counted, so each case runs on a machine of its own.
TEST(ServicesTest, OnlyServicesWhoseImageIsNowhereAreCounted) {
    if (!hmtest::RunningOnStandIn())
        GTEST_SKIP() << "a Wine prefix has services of its own, which the count includes";
    const auto image = [](const char* path, DWORD start = 2) {
        return [=](MachineBuilder& m, const std::string& key) {
            m.Dword(key, "Start", start).String(key, "ImagePath", path, REG_EXPAND_SZ);
        };
    };
    const ServiceCase cases[] = {
        {"missing program", image("C:\\HmSvc\\gone.exe"), 1},
        {"disabled", image("C:\\HmSvc\\gone.exe", 4), 0},
        {"no Start",
         [](MachineBuilder& m, const std::string& key) {
             m.String(key, "ImagePath", "C:\\HmSvc\\gone.exe");
         },
         0},
        {"Start as text",
         [](MachineBuilder& m, const std::string& key) {
             m.String(key, "Start", "2").String(key, "ImagePath", "C:\\HmSvc\\gone.exe");
         },
         0},
        {"no ImagePath",
         [](MachineBuilder& m, const std::string& key) { m.Dword(key, "Start", 2); }, 0},
        {"system root", image("\\SystemRoot\\System32\\drivers\\hmdrv.sys"), 0},
        {"system root, missing", image("\\SystemRoot\\System32\\drivers\\hmgone.sys"), 1},
        {"native prefix", image("\\??\\C:\\HmSvc\\svc.exe"), 0},
        {"command line", image("\"C:\\HmSvc\\svc.exe\" -k hmgroup"), 0},
        {"bare driver name", image("hmdrv.sys"), 0},
        {"bare missing name", image("hmgone.sys"), 1},
    };
    for (const ServiceCase& c : cases) {
        SCOPED_TRACE(c.what);
        MachineBuilder machine;
        machine.File("C:\\HmSvc\\svc.exe").File("C:\\Windows\\System32\\drivers\\hmdrv.sys");
        c.plant(machine, kServices + "HmService");
        BUILD_OR_RETURN(machine);
        CHivemender engine;
        ScanServices(engine);
        EXPECT_EQ(c.counted, engine.m_nServiceProblems);
        EXPECT_TRUE(engine.m_problems.empty());
    }
}

TEST(ServicesTest, TheEnginesSectionMaskLeavesServicesOut) {
    MachineBuilder machine;
    machine.Dword(kServices + "HmService", "Start", 2)
        .String(kServices + "HmService", "ImagePath", "C:\\HmSvc\\gone.exe");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    RunScan(engine, engine.m_sectionScanners);
    EXPECT_EQ(0, engine.m_nServiceProblems);
}

} // namespace
