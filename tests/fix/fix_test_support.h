// Shared ground of the fix tests (and the engine's scan, fix and undo round
// trips): running a fix on a state as the engine's worker does, finding the
// undo files it wrote, reading what the status library double recorded, and
// snapshots of registry subtrees to compare.
#pragma once

#include "scan/engine_state.h"
#include "support/conformance.h"
#include "tests/fix/pellwatch_double.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace hmtest {

// Fills the engine's problem list as a scan would have left it.
ProblemRecord KeyProblem(const std::string& keyPath, int section = SectionMachineSoftware);
ProblemRecord ValueProblem(const std::string& keyPath, const std::string& valueName,
                           const std::string& newValue = "", int section = SectionStartup);

// The fix the engine's worker runs for Start(1, request): the request read
// into the state, then RunFix; returns its report.
std::string Fix(CEngineState& engine, const std::string& request);

// A fix request selecting problems 0 to count - 1.
std::string SelectAllRequest(size_t count);

// Where the engine writes undo files, as a Windows path.
std::string UndoFolder();

// Parses and applies a .reg file's bytes; "" on success, else the error.
std::string ImportRegFile(const std::string& path);

// The status library double, kept loaded by the tests so its record
// survives the engine's FreeLibrary.
class PellwatchProbe {
public:
    static bool Loaded();
    static void Reset();
    static std::vector<PellwatchCall> Calls();
};

// How often `what` stands in `text`; how many problems a fix report says
// were not fixed.
size_t Occurrences(const std::string& text, const std::string& what);
inline size_t Refusals(const std::string& report) {
    return Occurrences(report, "\"fixed\": \"false\"");
}

// The proof of an undo file, shared by the round-trip tests: snapshots of
// the trees a fix will change, taken at construction; FixAll fixes every
// problem of the state's list and returns the report;
// ExpectRestoredBy imports the undo file ("" for none: nothing may have
// changed) and expects every tree byte for byte as it was.
class RoundTrip {
public:
    explicit RoundTrip(const std::vector<std::string>& trees);
    std::string FixAll(CEngineState& engine) const;
    // The undo files written since construction (full paths); UndoFile()
    // expects one and gives "" otherwise.
    std::set<std::string> NewUndoFiles() const;
    std::string UndoFile() const;
    void ExpectRestoredBy(const std::string& undoFile) const;
    const std::string& Before(size_t tree) const { return m_before[tree].second; }

private:
    std::vector<std::pair<std::string, std::string>> m_before; // tree, snapshot
    std::set<std::string> m_undoFilesBefore;
};

// Each test works below its own keys, named after the test, and starts with
// a fresh status-library record. Under Wine, undo files of earlier runs are
// removed once per program.
class FixTest : public ::testing::Test {
protected:
    void SetUp() override;
    // HKEY_CURRENT_USER\Software\HmFixTest\<test name>, plus `below`.
    static std::string Root(const std::string& below = "");
    static std::string MachineRoot(const std::string& below = "");
};

} // namespace hmtest
