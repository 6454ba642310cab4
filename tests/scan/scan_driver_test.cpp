// The driver: which scanners run and when it gives up; and the final order
// of the problem list, which the host's problem numbers stand on.
#include "scan/engine_state.h"
#include "scan/scan_driver.h"
#include "support/machine_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

ProblemRecord Record(const std::string& id, int kind = ProblemDeleteValue, int section = 0) {
    ProblemRecord record;
    record.id = id;
    record.kind = kind;
    record.section = section;
    record.keyPath = id;
    return record;
}

ProblemRecord Key(const std::string& id) {
    return Record(id, ProblemDeleteKey);
}

std::vector<std::string> Ids(const ProblemList& problems) {
    std::vector<std::string> ids;
    for (const ProblemRecord& record : problems)
        ids.push_back(record.id + (record.kind == ProblemDeleteKey ? " (key)" : ""));
    return ids;
}

struct OrderCase {
    const char* what;
    ProblemList scanned;
    std::vector<std::string> ordered;
};

TEST(OrderProblems, SortsAndPrunesWhatDeletedKeysCover) {
    const OrderCase cases[] = {
        {"a value of a deleted key goes",
         {Record("hkey_users\\x\\software\\a\\v"), Key("hkey_users\\x\\software\\a\\")},
         {"hkey_users\\x\\software\\a\\ (key)"}},
        {"a sibling whose name merely starts alike stays",
         {Key("hkey_users\\x\\software\\ab\\"), Key("hkey_users\\x\\software\\a\\")},
         {"hkey_users\\x\\software\\a\\ (key)", "hkey_users\\x\\software\\ab\\ (key)"}},
        {"repeated value problems stay",
         {Record("hklm\\k\\v"), Record("hklm\\k\\v")},
         {"hklm\\k\\v", "hklm\\k\\v"}},
        {"repeated key problems collapse",
         {Key("hklm\\k\\"), Key("hklm\\k\\"), Key("hklm\\k\\")},
         {"hklm\\k\\ (key)"}},
        {"subkeys, their values and nested key problems go; what follows stays",
         {Record("hklm\\z"), Record("hklm\\k\\sub\\v"), Key("hklm\\k\\sub\\"), Key("hklm\\k\\"),
          Record("hklm\\k\\v"), Record("hklm\\j\\v"), Record("hklm\\k\\sub\\deeper\\w")},
         {"hklm\\j\\v", "hklm\\k\\ (key)", "hklm\\z"}},
        {"the default value goes with its key, whichever was found first",
         {Record("hklm\\k\\"), Key("hklm\\k\\"), Record("hklm\\k\\")},
         {"hklm\\k\\ (key)"}},
        {"bytes compare unsigned: accented letters sort after z",
         {Record("hklm\\\xe9"), Record("hklm\\z"), Record("hklm\\a")},
         {"hklm\\a", "hklm\\z", "hklm\\\xe9"}},
    };
    for (const OrderCase& c : cases) {
        CEngineState engine;
        engine.m_problems = c.scanned;
        OrderProblems(engine);
        EXPECT_EQ(c.ordered, Ids(engine.m_problems)) << c.what;
    }
}

// Fake scanners: each records that it ran and adds one problem of its
// section, in reverse alphabetical order so the final sort shows.
std::vector<int> g_ran;

template <int Section> void FakeScanner(CEngineState& engine) {
    g_ran.push_back(Section);
    engine.m_problems.push_back(Record("hklm\\" + std::string(1, char('z' - Section)), 1, Section));
}

void StoppingScanner(CEngineState& engine) {
    g_ran.push_back(-1);
    engine.m_problems.push_back(Record("hklm\\stopped", 1, 99));
    engine.m_bStop = 1;
}

const SectionScan kFakeTable[] = {
    {SectionUserSoftware, FakeScanner<0>, false},
    {SectionMachineSoftware, FakeScanner<1>, false},
    {SectionClasses, FakeScanner<2>, true},
    {SectionFonts, FakeScanner<3>, false},
    {SectionStartup, nullptr, false},
    {SectionSoundEvents, FakeScanner<5>, false},
    {SectionUninstall, FakeScanner<6>, false},
    {SectionServices, FakeScanner<7>, false},
    {SectionAppPaths, FakeScanner<8>, false},
    {SectionSharedDlls, FakeScanner<9>, false},
    {SectionHelpFiles, FakeScanner<10>, false},
};

class ScanDriverTest : public ::testing::Test {
protected:
    void SetUp() override { g_ran.clear(); }
    CEngineState m_engine;
};

TEST_F(ScanDriverTest, RunsTheEnabledSectionsInOrder) {
    const struct {
        bool administrator;
        std::vector<int> ran;
    } machines[] = {{true, {0, 1, 2, 3, 5, 6, 8, 9, 10}}, {false, {0, 1, 3, 5, 6, 8, 9, 10}}};
    for (const auto& m : machines) {
        SCOPED_TRACE(m.administrator ? "administrator" : "user");
        hmtest::MachineBuilder machine;
        machine.Administrator(m.administrator);
        RETURN_UNLESS_BUILT(machine);
        g_ran.clear();
        CEngineState engine;
        engine.m_nServiceProblems = 5;
        engine.m_bPause = 1;
        engine.m_problems.push_back(Record("left over from the last scan"));
        RunScan(engine, kFakeTable);
        EXPECT_EQ(m.ran, g_ran);
        EXPECT_EQ(0, engine.m_nServiceProblems);
        EXPECT_EQ(0, engine.m_bPause);
        // Ordered: the scanners added in reverse order.
        ASSERT_EQ(m.ran.size(), engine.m_problems.size());
        EXPECT_TRUE(std::is_sorted(engine.m_problems.begin(), engine.m_problems.end(),
                                   [](const auto& a, const auto& b) { return a.id < b.id; }));
        EXPECT_EQ(m.ran.back(), engine.m_problems.front().section);
    }
}

TEST_F(ScanDriverTest, AStopEndsTheScanBetweenScannersAndLeavesTheListUnordered) {
    const SectionScan table[] = {
        {SectionUserSoftware, FakeScanner<0>, false},
        {SectionMachineSoftware, FakeScanner<1>, false},
        {SectionFonts, StoppingScanner, false},
        {SectionStartup, FakeScanner<4>, false},
    };
    RunScan(m_engine, table);
    EXPECT_EQ((std::vector<int>{0, 1, -1}), g_ran);
    ASSERT_EQ(3u, m_engine.m_problems.size());
    EXPECT_EQ(0, m_engine.m_problems[0].section);
    EXPECT_EQ(1, m_engine.m_problems[1].section);
    EXPECT_EQ(99, m_engine.m_problems[2].section);
}

// Start lowers the flag before the worker exists; a Stop that came after it
// must still end the scan.
TEST_F(ScanDriverTest, AStopRaisedBeforeTheScanBeginsIsKept) {
    m_engine.m_bStop = 1;
    RunScan(m_engine, kFakeTable);
    EXPECT_TRUE(g_ran.empty());
    EXPECT_EQ(1, m_engine.m_bStop);
}

TEST_F(ScanDriverTest, TheMaskAloneDecidesWhichSectionsRun) {
    m_engine.m_dwSectionMask = (1u << SectionServices) | (1u << SectionHelpFiles);
    RunScan(m_engine, kFakeTable);
    EXPECT_EQ((std::vector<int>{7, 10}), g_ran);
}

} // namespace
