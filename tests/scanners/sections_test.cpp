// The seven smaller sections, each scanned alone on a machine holding its
// table of cases (tests/scanners/section_cases.h): exactly the broken cases
// are reported, and services are counted, never reported.
#include "scanner_machine.h"
#include "section_cases.h"

#include <gtest/gtest.h>

namespace {

TEST(SectionsTest, EachSectionReportsExactlyItsBrokenCases) {
    if (!hmtest::RunningOnStandIn())
        GTEST_SKIP() << "a Wine prefix has findings of its own in these sections";
    const std::string sounds = "HKEY_USERS\\" + hmtest::MachineBuilder().CurrentUserSid() +
                               "\\AppEvents\\Schemes\\Apps\\HmApp";
    for (const hmtest::SectionTable& table : hmtest::SectionTables(sounds)) {
        SCOPED_TRACE("section " + std::to_string(table.section));
        hmtest::MachineBuilder machine;
        hmtest::PlantSectionGround(machine);
        hmtest::PlantSectionTable(machine, table);
        BUILD_OR_RETURN(machine);
        CEngineState engine(SectionScanTable());
        engine.m_dwSectionMask = 1u << table.section;
        RunScan(engine, engine.m_sectionScanners);
        auto expected = hmtest::ExpectedFindings(table);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, hmtest::SortedFindings(engine));
        EXPECT_EQ(hmtest::ExpectedServiceCount(table), engine.m_nServiceProblems);
    }
}

// Without a media folder, an empty sound ("no sound") is still no problem.
TEST(SectionsTest, AnEmptySoundNeedsNoMediaFolder) {
    hmtest::MachineBuilder machine;
    machine.String(hmtest::kVersionKey, "MediaPath", "C:\\HmNoMedia")
        .String(hmtest::kOtherSoundApps + "\\HmApp\\Ev\\.Current", "", "");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    RunScan(engine, engine.m_sectionScanners);
    for (const ProblemRecord& record : engine.m_problems)
        EXPECT_EQ(std::string::npos, record.keyPath.find("HmApp")) << record.keyPath;
}

} // namespace
