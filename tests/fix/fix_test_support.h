// Shared ground of the fix tests: running a fix through the engine's Start
// as a host does, finding the undo files it wrote, reading what the status
// library double recorded, and snapshots of registry subtrees to compare.
#pragma once

#include "engine/hivemender.h"
#include "support/conformance.h"
#include "tests/fix/pellwatch_double.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace hmtest {

// Fills the engine's problem list as a scan would have left it.
ProblemRecord KeyProblem(const std::string& keyPath, int section = SectionMachineSoftware);
ProblemRecord ValueProblem(const std::string& keyPath, const std::string& valueName,
                           const std::string& newValue = "", int section = SectionStartup);

// A fresh engine, let go of through Destroy as a host does.
using EnginePtr = std::unique_ptr<CHivemender, void (*)(CHivemender*)>;
EnginePtr NewEngine();

// Start(1, request) and the report the callback received; "" after 10 s
// without one. Returns once the worker has let go of its thread handle.
std::string StartFixAndWait(CHivemender& engine, const std::string& request);

// A fix request selecting problems 0 to count - 1.
std::string SelectAllRequest(size_t count);

// Where the engine writes undo files, as a Windows path.
std::string UndoFolder();
std::set<std::string> UndoFileNames();
// The one undo file that appeared since `before` (full path); "" and a test
// failure otherwise.
std::string NewUndoFile(const std::set<std::string>& before);

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
// problem of the engine's list through Start and returns the report;
// ExpectRestoredBy imports the undo file ("" for none: nothing may have
// changed) and expects every tree byte for byte as it was.
class RoundTrip {
public:
    explicit RoundTrip(const std::vector<std::string>& trees);
    std::string FixAll(CHivemender& engine) const;
    // The undo files written since construction; UndoFile() expects one.
    std::set<std::string> NewUndoFiles() const;
    std::string UndoFile() const { return NewUndoFile(m_undoFilesBefore); }
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
