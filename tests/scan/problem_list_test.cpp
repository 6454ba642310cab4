// Recording findings: the repaired list a "*" mark yields, the identity
// text, and the admission gate on administrator and user machines.
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/problem_list.h"
#include "scan/scan_driver.h"
#include "support/machine_builder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <win32sim/machine.h>
#endif

namespace {

constexpr char kVendorKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\HmScanTest\\Vendor";

TEST(MarkedData, TheMarkGoesWithOneNeighbouringSeparator) {
    struct Case {
        const char* data;
        const char* newValue;
    } cases[] = {
        {"C:\\a;*", "C:\\a"},
        {"C:\\a;*;C:\\c", "C:\\a;C:\\c"},
        {"*;C:\\b", "C:\\b"},
        {"*", ""},                            // deletion
        {"ab*c", ""},                         // no separator beside it: deletion
        {"C:\\a;*;*;C:\\d", "C:\\a;*;C:\\d"}, // only the first mark is handled
        {"a;*", ""},                          // three characters hold no list
        {"a;*b", "ab"},
        {"C:\\nothing marked", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.newValue, NewValueFromMarkedData(c.data)) << "data " << c.data;
}

class ProblemListTest : public ::testing::Test {
protected:
    RegKey OpenVendorKey(REGSAM access = kReadWrite64) {
        RegKey key;
        EXPECT_EQ(ERROR_SUCCESS, key.OpenByText(kVendorKey, access));
        return key;
    }
    CEngineState m_engine;
};

TEST_F(ProblemListTest, RecordsKeepThePathsCaseAndALowerCasedIdentity) {
    hmtest::MachineBuilder machine;
    machine.Key(kVendorKey);
    RETURN_UNLESS_BUILT(machine);
    RegKey key = OpenVendorKey();
    AddKeyProblem(key, m_engine, SectionUninstall);
    AddValueProblem("C:\\Old\\x.dll;*", m_engine, SectionAppPaths, key, "Path");
    AddValueProblem("*", m_engine, SectionStartup, key, "");
    ASSERT_EQ(3u, m_engine.m_problems.size());

    const ProblemRecord& keyProblem = m_engine.m_problems[0];
    EXPECT_EQ("hkey_local_machine\\software\\hmscantest\\vendor\\", keyProblem.id);
    EXPECT_EQ(kVendorKey, keyProblem.keyPath);
    EXPECT_EQ(ProblemDeleteKey, keyProblem.kind);
    EXPECT_EQ(SectionUninstall, keyProblem.section);
    EXPECT_TRUE(keyProblem.valueName.empty());

    const ProblemRecord& replaced = m_engine.m_problems[1];
    EXPECT_EQ("hkey_local_machine\\software\\hmscantest\\vendor\\path", replaced.id);
    EXPECT_EQ("Path", replaced.valueName);
    EXPECT_EQ("C:\\Old\\x.dll", replaced.newValue);
    EXPECT_EQ(ProblemReplaceValue, replaced.kind);

    // The default value shares its key's identity.
    const ProblemRecord& defaultValue = m_engine.m_problems[2];
    EXPECT_EQ(keyProblem.id, defaultValue.id);
    EXPECT_EQ(ProblemDeleteValue, defaultValue.kind);
    EXPECT_TRUE(defaultValue.newValue.empty());
}

// A rewrite drops the missing element from the stored text and keeps the
// rest unexpanded, and the type; when the stored elements do not each
// expand to the checked one, nothing is recorded.
TEST_F(ProblemListTest, ARewriteKeepsTheStoredTextAndType) {
    const struct {
        DWORD type;
        const char* stored;
        const char* marked;
        const char* newValue; // nullptr: not recorded
    } rows[] = {
        {REG_EXPAND_SZ, "%HmDir%\\a;%HmDir%\\gone", "C:\\Hm\\a;*", "%HmDir%\\a"},
        {REG_SZ, "C:\\a;C:\\gone;%HmDir%", "C:\\a;*;C:\\Hm", "C:\\a;%HmDir%"},
        {REG_EXPAND_SZ, "%HmList%;C:\\gone", "C:\\a;C:\\b;*", nullptr},
        {REG_SZ, "C:\\x;C:\\gone", "C:\\a;*", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        hmtest::MachineBuilder machine;
        machine.String(kVendorKey, "Path", row.stored, row.type).Environment("HmList", "C:\\a;C:\\b")
            .Environment("HmDir", "C:\\Hm");
        RETURN_UNLESS_BUILT(machine);
        CEngineState engine;
        AddValueProblem(row.marked, engine, SectionAppPaths, OpenVendorKey(), "Path");
        ASSERT_EQ(row.newValue ? 1u : 0u, engine.m_problems.size());
        if (row.newValue) {
            EXPECT_EQ(row.newValue, engine.m_problems[0].newValue);
            EXPECT_EQ(row.type, engine.m_problems[0].newValueType);
        }
    }
}

TEST_F(ProblemListTest, AnAdministratorRecordsAKeyOpenedReadOnlyThatHeMayWrite) {
    hmtest::MachineBuilder machine;
    machine.Key(kVendorKey);
    RETURN_UNLESS_BUILT(machine);
    RunScan(m_engine, {});
    ASSERT_TRUE(m_engine.m_bAdministrator);
    RegKey key = OpenVendorKey(kRead64);
    AddValueProblem("*", m_engine, SectionFonts, key, "Arial");
    AddKeyProblem(key, m_engine, SectionFonts);
    EXPECT_EQ(2u, m_engine.m_problems.size());
}

// A key the user may read but not write: an administrator is not shown what
// he could not repair; any other user is shown everything.
TEST_F(ProblemListTest, AnUnwritableKeyIsRecordedForAUserOnly) {
    for (bool administrator : {true, false}) {
        SCOPED_TRACE(administrator ? "administrator" : "user");
        hmtest::MachineBuilder machine;
        machine.Administrator(administrator)
            .Key(kVendorKey)
            .Deny(kVendorKey, hmtest::KeyDenial::Write);
        RETURN_UNLESS_BUILT(machine);
        CEngineState engine;
        RunScan(engine, {}); // settles who the user is, as every scan does first
        ASSERT_EQ(administrator, engine.m_bAdministrator);
        RegKey key = OpenVendorKey(kRead64);
        ASSERT_FALSE(key.IsKeyWritable());
        AddKeyProblem(key, engine, SectionMachineSoftware);
        AddValueProblem("C:\\a;*", engine, SectionMachineSoftware, key, "List");
        EXPECT_EQ(administrator ? 0u : 2u, engine.m_problems.size());
    }
}

#ifndef _WIN32
// The administrator check impersonates and builds a descriptor: it runs once
// as the scan begins, not once per finding.
void RecordHundredFindings(CEngineState& engine) {
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.OpenByText(kVendorKey, kReadWrite64));
    for (int i = 0; i < 100; ++i)
        AddValueProblem("*", engine, SectionMachineSoftware, key, "V" + std::to_string(i));
}

TEST_F(ProblemListTest, TheGateAsksWhoTheUserIsOncePerScan) {
    hmtest::MachineBuilder machine;
    machine.Key(kVendorKey);
    RETURN_UNLESS_BUILT(machine);
    const SectionScan table[] = {{SectionMachineSoftware, RecordHundredFindings, false}};
    for (int scan = 1; scan <= 2; ++scan) {
        const unsigned long before = win32sim::ImpersonationCount();
        RunScan(m_engine, table);
        EXPECT_EQ(100u, m_engine.m_problems.size());
        EXPECT_EQ(1u, win32sim::ImpersonationCount() - before) << "scan " << scan;
    }
}
#endif

} // namespace
