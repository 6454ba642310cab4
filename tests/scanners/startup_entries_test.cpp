// The startup scanner: which startup values it reports, and which it leaves.
#include "scanners/startup_entries.h"

#include "scan/exclusion_list.h"
#include "scanner_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using hmtest::Finding;
using hmtest::FindingsUnder;
using hmtest::MachineBuilder;

const std::string kRun = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kRunOnce = kRun + "Once";
const std::string kStartupArea = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// Only the values a test made (named Hm..., or the default value): a Wine
// prefix may start programs of its own.
std::vector<Finding> Scan(CEngineState& engine) {
    ScanStartupEntries(engine);
    std::vector<Finding> ours;
    for (const Finding& f : FindingsUnder(engine, kStartupArea)) {
        if (f.valueName.empty() || f.valueName.rfind("Hm", 0) == 0)
            ours.push_back(f);
    }
    return ours;
}

TEST(StartupEntriesTest, ReportsMissingProgramsAndEmptyDataOnly) {
    MachineBuilder machine;
    machine.File("C:\\HmStart\\present.exe")
        .String(kRun, "HmGone", "C:\\HmStart\\gone.exe /background")
        .String(kRun, "HmPresent", "\"C:\\HmStart\\present.exe\" -tray")
        .String(kRun, "HmEmpty", "")
        .String(kRun, "HmUnc", "\\\\server\\share\\gone.exe")
        .String(kRun, "HmVariable", "%HMNOSUCHVAR%\\gone.exe", REG_EXPAND_SZ)
        .String(kRun, "HmShort", "ab")
        .Dword(kRun, "HmNumber", 1)
        .String(kRun, "", "C:\\HmStart\\default-gone.exe")
        .String(kRunOnce, "HmOnce", "\"C:\\HmStart\\once.exe\" /x")
        .String(kRunOnce + "\\HmSub", "HmBelow", "C:\\HmStart\\below.exe");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    const std::vector<Finding> expected = {
        {SectionStartup, kRun, "HmGone", "", ProblemDeleteValue},
        {SectionStartup, kRun, "HmEmpty", "", ProblemDeleteValue},
        {SectionStartup, kRun, "", "", ProblemDeleteValue},
        {SectionStartup, kRunOnce, "HmOnce", "", ProblemDeleteValue},
    };
    std::vector<Finding> found = Scan(engine);
    // Windows enumerates values in creation order; Wine sorts them by name.
    if (hmtest::RunningOnWine())
        std::sort(found.begin(), found.end(), [&](const Finding& a, const Finding& b) {
            auto rank = [&](const Finding& f) {
                return std::find(expected.begin(), expected.end(), f) - expected.begin();
            };
            return rank(a) < rank(b);
        });
    EXPECT_EQ(expected, found);
}

TEST(StartupEntriesTest, AnExcludedRunKeyIsSkippedAndRunOnceStillScanned) {
    MachineBuilder machine;
    machine.String(kRun, "HmGone", "C:\\HmStart\\gone.exe")
        .String(kRunOnce, "HmGone", "C:\\HmStart\\gone.exe");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    AddExclusionLine(engine, kRun + "=LOCKED");
    EXPECT_EQ((std::vector<Finding>{{SectionStartup, kRunOnce, "HmGone", "", ProblemDeleteValue}}),
              Scan(engine));
    RegKey run;
    ASSERT_EQ(ERROR_SUCCESS, run.OpenByText(kRun, kReadWrite64));
    EXPECT_EQ(1, ScanStartupKey(engine, run));
}

TEST(StartupEntriesTest, PerUserAndThirtyTwoBitRunKeysAreNotLookedAt) {
    const std::string wow =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::string user = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    MachineBuilder machine;
    machine.String(wow, "HmGone", "C:\\HmStart\\gone.exe")
        .String(user, "HmGone", "C:\\HmStart\\gone.exe");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    ScanStartupEntries(engine);
    EXPECT_EQ(std::vector<Finding>{}, FindingsUnder(engine, wow));
    for (const ProblemRecord& record : engine.m_problems)
        EXPECT_NE("HmGone", record.valueName) << record.keyPath;
}

TEST(StartupEntriesTest, AStopEndsEveryValueLoop) {
    MachineBuilder machine;
    machine.String(kRun, "HmGone", "C:\\HmStart\\gone.exe")
        .String(kRunOnce, "HmGone", "C:\\HmStart\\gone.exe");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    engine.m_bStop = 1;
    EXPECT_EQ(std::vector<Finding>{}, Scan(engine));
}

TEST(StartupEntriesTest, AKeyTheUserCannotWriteYieldsNothing) {
    // Write access is asked for when the key is opened: a user who may not
    // write the area gets nothing from it.
    MachineBuilder machine;
    machine.Administrator(false)
        .String(kRun, "HmGone", "C:\\HmStart\\gone.exe")
        .String(kRunOnce, "HmGone", "C:\\HmStart\\gone.exe")
        .Deny(kRun, hmtest::KeyDenial::Write);
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    EXPECT_EQ((std::vector<Finding>{{SectionStartup, kRunOnce, "HmGone", "", ProblemDeleteValue}}),
              Scan(engine));
}

} // namespace
