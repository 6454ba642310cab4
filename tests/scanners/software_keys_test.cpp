// The two software walks: what they report below the user hives and the
// machine's SOFTWARE key, and which areas they leave to other scanners.
#include "scanners/software_keys.h"

#include "scan/exclusion_list.h"
#include "fileref/scan_file_cache.h"
#include "scanner_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using hmtest::Finding;
using hmtest::FindingsUnder;
using hmtest::MachineBuilder;

const std::string kVendor = "HKEY_LOCAL_MACHINE\\SOFTWARE\\HmVendor";

std::vector<Finding> Sorted(std::vector<Finding> findings) {
    std::sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return std::tie(a.keyPath, a.valueName) < std::tie(b.keyPath, b.valueName);
    });
    return findings;
}

TEST(SoftwareWalkTest, MachineWalkReportsMissingFilesOfKnownKinds) {
    MachineBuilder machine;
    machine.File("C:\\HmApp\\app.exe")
        .File("C:\\HmApp\\core.dll")
        .String(kVendor + "\\App", "Exe", "C:\\HmApp\\gone.exe")
        .String(kVendor + "\\App", "Present", "C:\\HmApp\\app.exe /s")
        .String(kVendor + "\\App", "Doc", "C:\\HmApp\\manual.pdf")
        .String(kVendor + "\\App", "Sound", "C:\\HmApp\\ding.wav")
        .String(kVendor + "\\App", "Libs", "C:\\HmApp\\core.dll;C:\\HmApp\\gone.dll")
        .String(kVendor + "\\App", "Bare", "gone.exe")
        .String(kVendor + "\\App", "Unc", "\\\\server\\share\\gone.exe")
        .String(kVendor + "\\App\\Deep\\Deeper", "Cmd", "\"C:\\HmApp\\gone.exe\" -x", REG_EXPAND_SZ)
        .Dword(kVendor + "\\App", "Number", 7);
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    ScanMachineSoftware(engine);
    const std::vector<Finding> expected = {
        {SectionMachineSoftware, kVendor + "\\App", "Exe", "", ProblemDeleteValue},
        {SectionMachineSoftware, kVendor + "\\App", "Libs", "C:\\HmApp\\core.dll",
         ProblemReplaceValue},
        {SectionMachineSoftware, kVendor + "\\App\\Deep\\Deeper", "Cmd", "", ProblemDeleteValue},
    };
    EXPECT_EQ(expected, Sorted(FindingsUnder(engine, kVendor)));
}

TEST(SoftwareWalkTest, RunAreaIsLeftToStartupInTheMachineButWalkedInUserHives) {
    const std::string tail = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::string machineRun =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const std::string machineFonts =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    const std::string winlogon =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\HmWinlogon";
    MachineBuilder machine;
    machine.String(machineRun + "\\Run", "HmGone", "C:\\HmApp\\gone.exe")
        .String(machineRun + "\\RunOnceHm", "HmGone", "C:\\HmApp\\gone.exe")
        .String(machineFonts, "HmFont", "C:\\HmApp\\gone.fon")
        .String(winlogon, "HmShell", "C:\\HmApp\\gone.exe");
    const std::string userHive = "HKEY_USERS\\S-1-5-21-1004336348-1177238915-682003330-1001";
    if (hmtest::RunningOnStandIn())
        machine.String(userHive + tail, "HmGone", "C:\\HmApp\\gone.exe");
    else
        machine.String("HKEY_CURRENT_USER" + tail, "HmGone", "C:\\HmApp\\gone.exe");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    ScanMachineSoftware(engine);
    EXPECT_EQ(std::vector<Finding>{}, FindingsUnder(engine, machineRun));
    EXPECT_EQ(std::vector<Finding>{}, FindingsUnder(engine, machineFonts));
    EXPECT_EQ(1u, FindingsUnder(engine, winlogon).size());

    CEngineState userEngine(SectionScanTable());
    ScanUserSoftware(userEngine);
    int found = 0;
    for (const ProblemRecord& record : userEngine.m_problems) {
        if (record.valueName != "HmGone")
            continue;
        ++found;
        EXPECT_EQ(SectionUserSoftware, record.section);
        EXPECT_EQ(0u, record.keyPath.rfind("HKEY_USERS\\", 0)) << record.keyPath;
        EXPECT_NE(std::string::npos, record.keyPath.find(tail)) << record.keyPath;
    }
    EXPECT_EQ(1, found);
}

TEST(SoftwareWalkTest, AnExcludedKeyKeepsItsSubtreeOut) {
    MachineBuilder machine;
    machine.String(kVendor + "\\Kept", "Exe", "C:\\HmApp\\gone.exe")
        .String(kVendor + "\\Locked", "Exe", "C:\\HmApp\\gone.exe")
        .String(kVendor + "\\Locked\\Sub\\Deeper", "Exe", "C:\\HmApp\\gone.exe");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    AddExclusionLine(engine, "hkey_local_machine\\software\\hmvendor\\locked=blocked");
    ScanMachineSoftware(engine);
    EXPECT_EQ((std::vector<Finding>{
                  {SectionMachineSoftware, kVendor + "\\Kept", "Exe", "", ProblemDeleteValue}}),
              FindingsUnder(engine, kVendor));
}

// A thread entry point: 32-bit Windows wants __stdcall, which no lambda has.
DWORD WINAPI WalkOnThread(LPVOID param) {
    auto* args = static_cast<std::pair<CEngineState*, RegKey*>*>(param);
    return static_cast<DWORD>(WalkSoftwareKey(*args->first, *args->second, 1));
}

TEST(SoftwareWalkTest, AStopEndsTheWalkAtEveryLevel) {
    MachineBuilder machine;
    machine.String(kVendor, "Exe", "C:\\HmApp\\gone.exe")
        .String(kVendor + "\\A\\B", "Exe", "C:\\HmApp\\gone.exe");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    engine.m_bStop = 1;
    ScanMachineSoftware(engine);
    ScanUserSoftware(engine);
    EXPECT_TRUE(engine.m_problems.empty());

    // Raised while the walk is paused inside the tree: nothing after it is examined.
    CEngineState paused(SectionScanTable());
    paused.m_bPause = 1;
    RegKey vendorKey;
    ASSERT_EQ(ERROR_SUCCESS, vendorKey.OpenByText(kVendor + "\\A", kReadWrite64));
    std::pair<CEngineState*, RegKey*> walk(&paused, &vendorKey);
    HANDLE walker = CreateThread(nullptr, 0, WalkOnThread, &walk, 0, nullptr);
    ASSERT_NE(nullptr, walker);
    Sleep(50);
    paused.m_bStop = 1;
    paused.m_bPause = 0;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(walker, 5000));
    CloseHandle(walker);
    EXPECT_TRUE(paused.m_problems.empty());
}

TEST(SoftwareWalkTest, CachedAndUncachedWalksRecordTheSame) {
    MachineBuilder machine;
    machine.File("C:\\HmApp\\core.dll").File("C:\\Program Files\\HmApp\\core.dll");
    for (int i = 0; i < 20; ++i) {
        const std::string key = kVendor + "\\K" + std::to_string(i);
        machine
            .String(key, "A",
                    "C:\\HmApp\\core.dll;C:\\HmApp\\gone" + std::to_string(i % 3) + ".dll")
            .String(key, "B", "C:\\Program Files\\HmApp\\gone.exe -x")
            .String(key, "C", "C:\\Program Files (x86)\\HmApp\\core.dll");
    }
    BUILD_OR_RETURN(machine);
    CEngineState uncached(SectionScanTable());
    ScanMachineSoftware(uncached);
    CEngineState cached(SectionScanTable());
    {
        CScanFileCache scan;
        ScanMachineSoftware(cached);
    }
    ASSERT_EQ(uncached.m_problems.size(), cached.m_problems.size());
    for (size_t i = 0; i < cached.m_problems.size(); ++i) {
        EXPECT_EQ(uncached.m_problems[i].id, cached.m_problems[i].id);
        EXPECT_EQ(uncached.m_problems[i].newValue, cached.m_problems[i].newValue);
        EXPECT_EQ(uncached.m_problems[i].kind, cached.m_problems[i].kind);
    }
    EXPECT_EQ(40u, FindingsUnder(cached, kVendor).size());
}

} // namespace
