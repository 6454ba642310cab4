// The proof of an undo file: fix a machine, import the file the fix wrote,
// and the registry is what it was before the fix, value by value and byte
// for byte.
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/fix/fix_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using hmtest::FixTest;

std::vector<BYTE> Raw(const std::string& bytes) {
    return std::vector<BYTE>(bytes.begin(), bytes.end());
}

// Every value type, and the string data a quoted .reg line cannot carry.
void AddEveryKindOfValue(hmtest::MachineBuilder& machine, const std::string& key) {
    machine.String(key, "", "the default")
        .String(key, "quoted", "C:\\a \"word\" \\\"")
        .String(key, "empty", "")
        .Value(key, "lines", REG_SZ, Raw(std::string("one\r\ntwo\0", 9)))
        .Value(key, "inner zero", REG_SZ, Raw(std::string("a\0b\0", 4)))
        .Value(key, "ansi", REG_SZ, {'c', 0xe9, 0x80, 0})
        .String(key, "expand", "%SystemRoot%\\caf\xe9\x80.exe", REG_EXPAND_SZ)
        .Value(key, "multi", REG_MULTI_SZ, Raw(std::string("one\0t\xe9o\0\0", 9)))
        .Value(key, "binary", REG_BINARY, {0, 1, 0xab, 0xff})
        .Value(key, "no bytes", REG_BINARY, {})
        .Dword(key, "dword", 0xf2345678)
        .Value(key, "short dword", REG_DWORD, {7, 0})
        .Value(key, "qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8})
        .Value(key, "none", REG_NONE, {9})
        .Value(key, "odd type", 0x20000, {1, 2})
        .String(key, "name \"with\" \\ and=b", "x")
        .String(key, "name with\r\na break", "y");
}

// A snapshot without the string values an undo file carries as hex.
std::string WithoutHexStrings(const std::string& snapshot) {
    std::string kept;
    size_t start = 0;
    while (start < snapshot.size()) {
        size_t end = snapshot.find('\n', start);
        end = end == std::string::npos ? snapshot.size() : end + 1;
        const std::string line = snapshot.substr(start, end - start);
        const bool hexString = line.find("= type 2:") != std::string::npos ||
                               line.find("= type 7:") != std::string::npos ||
                               line.find("\"lines\" =") != std::string::npos ||
                               line.find("\"inner zero\" =") != std::string::npos;
        if (!hexString)
            kept += line;
        start = end;
    }
    return kept;
}

class RoundTripTest : public FixTest {
protected:
    void BuildMachine(hmtest::MachineBuilder& machine) {
        AddEveryKindOfValue(machine, Root("Doomed"));
        AddEveryKindOfValue(machine, Root("Doomed\\Child\\Grandchild"));
        machine.Key(Root("Doomed\\Empty\\Emptier"))
            .String(Root("Doomed\\Zed"), "z", "last")
            .String(Root("Rewrites"), "Path", "C:\\a;C:\\gone;C:\\b", REG_EXPAND_SZ)
            .Dword(Root("Rewrites"), "Count", 3)
            .Key(MachineRoot("Doomed\\Nested\\Deep"))
            .Dword(MachineRoot("Doomed\\Nested"), "n", 1);
        AddEveryKindOfValue(machine, Root("Values"));
        machine.Build();
    }

    // Key, value and rewrite problems as a scan would list them.
    ProblemList Problems() {
        ProblemList problems = {hmtest::KeyProblem(Root("Doomed")),
                                hmtest::KeyProblem(MachineRoot("Doomed")),
                                hmtest::KeyProblem(Root("Never There")),
                                hmtest::ValueProblem(Root("Rewrites"), "Path", "C:\\a;C:\\b"),
                                // The same value again, as two scanners may report it.
                                hmtest::ValueProblem(Root("Rewrites"), "Path", "C:\\a"),
                                hmtest::ValueProblem(Root("Rewrites"), "Count", "4")};
        for (const char* name :
             {"", "quoted", "empty", "lines", "inner zero", "ansi", "expand", "multi", "binary",
              "no bytes", "dword", "short dword", "qword", "none", "odd type",
              "name \"with\" \\ and=b", "name with\r\na break"})
            problems.push_back(hmtest::ValueProblem(Root("Values"), name));
        return problems;
    }

    // Builds the machine, snapshots it and fixes every problem; false when
    // the test cannot go on.
    bool FixEverything(std::unique_ptr<hmtest::RoundTrip>& trip) {
        BuildMachine(m_machine); // kept until the test ends: Wine's staging is undone with it
        if (HasFatalFailure() || IsSkipped())
            return false;
        trip = std::make_unique<hmtest::RoundTrip>(std::vector<std::string>{Root(), MachineRoot()});
        CEngineState engine;
        engine.m_problems = Problems();
        const std::string report = trip->FixAll(engine);
        EXPECT_EQ(0u, hmtest::Refusals(report)) << report;
        return !HasFailure();
    }

    hmtest::MachineBuilder m_machine;
};

TEST_F(RoundTripTest, ImportingTheUndoFileRestoresEveryKeyAndValue) {
    std::unique_ptr<hmtest::RoundTrip> trip;
    if (!FixEverything(trip))
        return;
    ASSERT_FALSE(hmtest::KeyExists(Root("Doomed")));
    ASSERT_FALSE(hmtest::KeyExists(MachineRoot("Doomed")));
    ASSERT_NE(trip->Before(0), hmtest::SnapshotTree(Root()));
    trip->ExpectRestoredBy(trip->UndoFile());
}

TEST_F(RoundTripTest, WinesOwnRegeditRestoresTheUndoFile) {
    if (!hmtest::RunningOnWine())
        GTEST_SKIP() << "regedit is Wine's";
    std::unique_ptr<hmtest::RoundTrip> trip;
    if (!FixEverything(trip))
        return;
    // start /wait: regedit is a windowed program, which cmd would not wait for.
    const std::string command = "start \"\" /wait regedit /S \"" + trip->UndoFile() + "\"";
    EXPECT_EQ(0, std::system(command.c_str())) << command;
    const std::string restored = hmtest::SnapshotTree(Root());
    EXPECT_WINDOWS(trip->Before(0) == restored,
                   "Wine's regedit reads hex(1), hex(2) and hex(7) "
                   "data of an 8-bit .reg file as ANSI bytes, not as UTF-16");
    EXPECT_EQ(WithoutHexStrings(trip->Before(0)), WithoutHexStrings(restored));
    EXPECT_EQ(trip->Before(1), hmtest::SnapshotTree(MachineRoot()));
}

} // namespace
