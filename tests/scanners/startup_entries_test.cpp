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

// Run and RunOnce each name a missing program: an excluded Run key is
// skipped; write access is asked for when a key is opened, so a user who
// may not write Run gets nothing from it; a stop ends every value loop.
TEST(StartupEntriesTest, ExcludedUnwritableAndStoppedKeysYieldNothing) {
    const Finding runOnce = {SectionStartup, kRunOnce, "HmGone", "", ProblemDeleteValue};
    const struct {
        const char* what;
        bool excluded, stopped, denied;
        std::vector<Finding> expected;
    } cases[] = {
        {"Run excluded", true, false, false, {runOnce}},
        {"stopped", false, true, false, {}},
        {"Run not writable", false, false, true, {runOnce}}, // skipped under Wine: last
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MachineBuilder machine;
        machine.String(kRun, "HmGone", "C:\\HmStart\\gone.exe")
            .String(kRunOnce, "HmGone", "C:\\HmStart\\gone.exe");
        if (c.denied)
            machine.Administrator(false).Deny(kRun, hmtest::KeyDenial::Write);
        BUILD_OR_RETURN(machine);
        CEngineState engine(SectionScanTable());
        if (c.excluded)
            AddExclusionLine(engine, kRun + "=LOCKED");
        engine.m_bStop = c.stopped;
        EXPECT_EQ(c.expected, Scan(engine));
        if (c.excluded) { // the key's own scan answers 1 for "excluded"
            RegKey run;
            ASSERT_EQ(ERROR_SUCCESS, run.OpenByText(kRun, kReadWrite64));
            EXPECT_EQ(1, ScanStartupKey(engine, run));
        }
    }
}

} // namespace
