// A fix as the engine's worker runs it for Start(1, request): which problems
// it selects, the report it returns, the status call, stopping.
#include "scan/exclusion_list.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/fix/fix_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#ifndef _WIN32
#include <win32sim/machine.h>
#endif

namespace {

using hmtest::FixTest;
using hmtest::PellwatchProbe;

constexpr char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";
constexpr char kEmptyFix[] = "{\"fixes\": [], \"finished\": \"fix\"}\n";

using hmtest::Occurrences;

bool HasValue(const std::string& keyPath, const std::string& name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    return hmtest::ReadValue(keyPath, name, &type, &data);
}

// The one status call of a fix: kind 4, the count, every other byte zero.
void ExpectOneStatusCall(int expectedCount) {
    ASSERT_TRUE(PellwatchProbe::Loaded()) << "Pellwatch double not found beside the program";
    const auto calls = PellwatchProbe::Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(4, calls[0].kind);
    int32_t count = 0;
    std::memcpy(&count, calls[0].summary, sizeof(count));
    EXPECT_EQ(expectedCount, count);
    for (size_t i = sizeof(count); i < sizeof(calls[0].summary); ++i)
        EXPECT_EQ(0, calls[0].summary[i]) << "summary byte " << i;
}

class FixEngineTest : public FixTest {
protected:
    // Values v0 .. v(n-1) below Root(), one deletion problem each; false
    // when the build failed or skipped the test.
    bool BuildValues(hmtest::MachineBuilder& machine, CEngineState& engine, int count) {
        for (int i = 0; i < count; ++i) {
            machine.String(Root(), "v" + std::to_string(i), "C:\\gone.exe");
            engine.m_problems.push_back(hmtest::ValueProblem(Root(), "v" + std::to_string(i)));
        }
        machine.Build();
        return !HasFatalFailure() && !IsSkipped();
    }
};

// Nothing selected, a fix after a stop (what Stop leaves behind until the
// next scan), or an empty list: still an undo file of its own and one status
// call, and the list's values kept.
TEST_F(FixEngineTest, NothingSelectedStillMakesAnUndoFileAndCallsTheStatusLibrary) {
    const struct {
        const char* what;
        int values;
        bool afterStop;
        const char* request;
        const char* report;
    } cases[] = {
        {"unknown id", 2, false, "{\"7\": \"fix\"}", kEmptyFix},
        {"after a stop", 2, true, "{\"0\": \"fix\", \"1\": \"fix\"}", kEmptyFix},
        {"an empty list", 0, false, "{\"0\": \"fix\"}",
         "{\"error\": \"Empty problems array\", \"fixes\": [], \"finished\": \"fix\"}\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PellwatchProbe::Reset();
        hmtest::MachineBuilder machine;
        CEngineState engine;
        if (!BuildValues(machine, engine, c.values))
            return;
        engine.m_bStop = c.afterStop ? 1 : 0;
        const hmtest::RoundTrip trip({Root()});
        EXPECT_EQ(c.report, hmtest::Fix(engine, c.request));
        EXPECT_EQ(kHeader, hmtest::ReadWholeFile(trip.UndoFile()));
        trip.ExpectRestoredBy(""); // the list's values kept
        ExpectOneStatusCall(0);
    }
}

TEST_F(FixEngineTest, AProblemIsSelectedByItsDecimalIdWithFixInAnyLetterCase) {
    hmtest::MachineBuilder machine;
    CEngineState engine;
    if (!BuildValues(machine, engine, 5))
        return;
    const std::string report = hmtest::Fix(
        engine, "{\"0\": \"FIX\", \"1\": \"fix \", \"03\": \"fix\", \"2\": \"fixed\", "
                 "\"4\": \"Fix\", \"+3\": \"fix\", \"9\": \"fix\"}");
    for (const char* id : {"0", "1", "4"})
        EXPECT_NE(std::string::npos, report.find(std::string("\"id\": \"") + id + "\""))
            << id << ": " << report;
    EXPECT_EQ(3u, Occurrences(report, "\"fixed\": \"true\""));
    EXPECT_FALSE(HasValue(Root(), "v0"));
    EXPECT_FALSE(HasValue(Root(), "v1"));
    EXPECT_TRUE(HasValue(Root(), "v2"));
    EXPECT_TRUE(HasValue(Root(), "v3"));
    EXPECT_FALSE(HasValue(Root(), "v4"));
    ExpectOneStatusCall(3);
}

TEST_F(FixEngineTest, TheReportListsTheSelectedProblemsInListOrderByteForByte) {
    hmtest::MachineBuilder machine;
    machine.String(Root("Run"), "Demo", "C:\\gone.exe")
        .String(Root("Paths"), "List", "C:\\a;*;C:\\b");
    RETURN_UNLESS_BUILT(machine);
    CEngineState engine;
    ProblemRecord unknownKind = hmtest::KeyProblem(Root("Uninstall\\Demo"), SectionUninstall);
    unknownKind.kind = 7;
    engine.m_problems = {hmtest::ValueProblem(Root("Run"), "Demo"), unknownKind,
                          hmtest::ValueProblem(Root("Paths"), "List", "C:\\a;C:\\b", 8),
                          hmtest::KeyProblem(Root("Missing"), SectionUninstall)};
    const std::string report = hmtest::Fix(
        engine, "{\"0\": \"fix\", \"1\": \"fix\", \"2\": \"fix\", \"3\": \"fix\"}");
    const std::string expected =
        "{\"fixes\": [{\"value name\": \"Demo\", \"key path\": \"" + Root("Run") +
        "\", \"id\": \"0\", \"fixed\": \"true\", \"section\": \"4\"},"
        "{\"key path\": \"" +
        Root("Uninstall\\Demo") +
        "\", \"id\": \"1\", \"fixed\": \"false\", \"section\": \"6\"},"
        "{\"value name\": \"List\", \"new value\": \"C:\\a;C:\\b\", \"key path\": \"" +
        Root("Paths") +
        "\", \"id\": \"2\", \"fixed\": \"true\", \"section\": \"8\"},"
        "{\"key path\": \"" +
        Root("Missing") +
        "\", \"id\": \"3\", \"fixed\": \"true\", \"section\": \"6\"}], \"finished\": \"fix\"}\n";
    EXPECT_EQ(expected, report);
    ExpectOneStatusCall(static_cast<int>(Occurrences(report, "\"fixed\": \"true\"")));
}

// Neither a key the user may not change nor one he excluded, whether the
// problem names it, a key above it or (through the classes root) an alias.
TEST_F(FixEngineTest, AProblemOnAKeyTheUserMayNotChangeOrExcludedIsReportedNotFixed) {
    const std::string classes = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\HmFixExcluded";
    hmtest::MachineBuilder machine;
    machine.String(Root("Locked"), "v", "x")
        .Key(Root("Locked\\Sub"))
        .Deny(Root("Locked"), hmtest::KeyDenial::Write)
        .Deny(Root("Locked\\Sub"), hmtest::KeyDenial::Write)
        .String(MachineRoot("Holder\\Kept"), "v", "x")
        .Key(classes + "\\Kept");
    RETURN_UNLESS_BUILT(machine);
    CEngineState engine;
    AddExclusionLine(engine, MachineRoot("Holder\\Kept"));
    AddExclusionLine(engine, "HKEY_CLASSES_ROOT\\HmFixExcluded\\Kept");
    engine.m_problems = {hmtest::ValueProblem(Root("Locked"), "v"),
                          hmtest::KeyProblem(Root("Locked\\Sub")),
                          hmtest::KeyProblem(MachineRoot("Holder")),
                          hmtest::ValueProblem(MachineRoot("Holder\\Kept"), "v"),
                          hmtest::KeyProblem(classes)};
    const std::string before = hmtest::SnapshotTree(Root()) + hmtest::SnapshotTree(MachineRoot()) +
                               hmtest::SnapshotTree(classes);
    const std::string report = hmtest::Fix(engine, hmtest::SelectAllRequest(5));
    EXPECT_EQ(5u, hmtest::Refusals(report)) << report;
    EXPECT_EQ(before, hmtest::SnapshotTree(Root()) + hmtest::SnapshotTree(MachineRoot()) +
                          hmtest::SnapshotTree(classes));
    ExpectOneStatusCall(0);
}

TEST_F(FixEngineTest, AStopFinishesTheProblemUnderRepairAndReportsNothingAfterIt) {
    constexpr int kCount = 400;
    hmtest::MachineBuilder machine;
    CEngineState engine;
    if (!BuildValues(machine, engine, kCount))
        return;
    const std::string request = hmtest::SelectAllRequest(kCount);
    // The first repair is seen to be done; the stop lands somewhere after it.
    std::thread stopper([&] {
        for (int waited = 0; HasValue(Root(), "v0") && waited < 10000000; ++waited)
            Sleep(0);
        engine.m_bStop = 1;
    });
    const std::string report = hmtest::Fix(engine, request);
    stopper.join();
    const size_t reported = Occurrences(report, "\"fixed\": \"true\"");
    EXPECT_GE(reported, 1u);
    if (reported == static_cast<size_t>(kCount))
        GTEST_SKIP() << "every repair finished before the stop arrived";
    for (int i = 0; i < kCount; ++i) {
        const bool isReported =
            report.find("\"id\": \"" + std::to_string(i) + "\"") != std::string::npos;
        EXPECT_EQ(static_cast<size_t>(i) < reported, isReported) << i;
        EXPECT_EQ(isReported, !HasValue(Root(), "v" + std::to_string(i))) << i;
    }
    ExpectOneStatusCall(static_cast<int>(reported));
}

// The classes root and HKEY_LOCAL_MACHINE\SOFTWARE\Classes are one key, and
// two sections report it under both names. Each thing is repaired once (the
// later problem reports the first one's result) and the undo file gives
// back the state before the first change.
TEST_F(FixEngineTest, OneKeyReachedByTwoNamesIsRepairedOnceAndRestoredAsItWas) {
    const std::string top = "HKEY_CLASSES_ROOT\\.hmalias";
    const std::string alias = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.hmalias\\ShellNew";
    hmtest::MachineBuilder machine;
    machine.String(top + "\\ShellNew", "Commmand", "C:\\Gone\\maker.exe;C:\\Windows\\notepad.exe")
        .String(top + "\\ShellNew\\Sub", "", "x");
    RETURN_UNLESS_BUILT(machine);
    CEngineState engine;
    engine.m_problems = {
        hmtest::ValueProblem(top + "\\ShellNew", "Commmand", "C:\\Windows\\notepad.exe", SectionClasses),
        hmtest::ValueProblem(alias, "COMMMAND", "C:\\Windows\\other.exe"),
        hmtest::KeyProblem(alias + "\\Sub"),
        hmtest::KeyProblem(top + "\\ShellNew\\sub", SectionClasses),
    };
    const hmtest::RoundTrip trip({top});
    const std::string report = trip.FixAll(engine);
    EXPECT_EQ(4u, Occurrences(report, "\"fixed\": \"true\"")) << report;
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(hmtest::ReadValue(alias, "Commmand", &type, &data));
    EXPECT_STREQ("C:\\Windows\\notepad.exe", reinterpret_cast<const char*>(data.data()));
    ExpectOneStatusCall(4);
    trip.ExpectRestoredBy(trip.UndoFile());
}

#ifndef _WIN32
// The disk fails, or the process dies, at any one write or rename of the
// undo writer (header, entries, the sections of empty keys, the grouped
// copy and its rename). Whatever state
// that leaves, the undo file imports and gives back everything the fix
// changed; what could not be saved is not repaired, and the report's error
// says how many and why.
TEST_F(FixEngineTest, AWriteFailingAtAnyStepLeavesAnUndoFileThatRestoresEverything) {
    const auto build = [this](hmtest::MachineBuilder& machine) {
        machine.String(Root("Gone"), "a", "x")
            .Key(Root("Gone\\Empty"))
            .Key(Root("Gone\\Deep\\Empty"))
            .String(Root(), "v", "C:\\gone;C:\\kept")
            .String(Root(), "w", "C:\\gone")
            .Key(Root("Bare"));
        machine.Build();
        // "w" first: "v" comes back to its section, so the file is grouped.
        return std::vector<ProblemRecord>{
            hmtest::ValueProblem(Root(), "w"), hmtest::KeyProblem(Root("Gone\\Deep")),
            hmtest::KeyProblem(Root("Gone")), hmtest::ValueProblem(Root(), "v", "C:\\kept"),
            hmtest::KeyProblem(Root("Bare"))};
    };
    unsigned long steps = 0; // counted by the run without a fault
    for (bool everyAfter : {false, true}) {
        for (unsigned long nth = 0; nth <= steps; ++nth) {
            SCOPED_TRACE((everyAfter ? "from write " : "write ") + std::to_string(nth));
            hmtest::MachineBuilder machine;
            CEngineState engine;
            engine.m_problems = build(machine);
            if (HasFatalFailure() || IsSkipped())
                return;
            const hmtest::RoundTrip trip({Root()});
            win32sim::SetFileWriteFault({nth, everyAfter, 112});
            const std::string report = trip.FixAll(engine);
            if (nth == 0)
                steps = win32sim::FileWritesCounted();
            win32sim::SetFileWriteFault({});
            const size_t unfixed = hmtest::Refusals(report);
            const std::string reason =
                report.find("Cannot create the undo file (error 112)") != std::string::npos
                    ? "" : "Cannot save the old state of " + std::to_string(unfixed) +
                               (unfixed == 1 ? " problem" : " problems") + " in the undo file (error 112)";
            if (unfixed != 0) {
                EXPECT_NE(std::string::npos, report.find(reason)) << report;
            }
            const std::set<std::string> fresh = trip.NewUndoFiles();
            trip.ExpectRestoredBy(fresh.empty() ? "" : *fresh.begin());
            if (HasFailure())
                return;
        }
    }
    EXPECT_GT(steps, 5u);
}
#endif

} // namespace
