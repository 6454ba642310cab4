// The seven smaller sections' tables of cases (tests/scanners/section_cases.h)
// on one machine: a full scan finds exactly the broken cases; fixing all of
// them leaves nothing to find, and importing the undo file gives the
// registry back.
#include "fileref/file_probe.h"
#include "scan/scan_driver.h"
#include "support/conformance.h"
#include "tests/fix/fix_test_support.h"
#include "tests/scanners/section_cases.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class SectionsRoundTripTest : public hmtest::FixTest {};

TEST_F(SectionsRoundTripTest, EverySmallerSectionIsFoundFixedAndRestored) {
    if (!hmtest::RunningOnStandIn())
        GTEST_SKIP() << "a Wine prefix has findings of its own in these sections";
    hmtest::MachineBuilder machine;
    const auto tables = hmtest::SectionTables("HKEY_USERS\\" + machine.CurrentUserSid() +
                                              "\\AppEvents\\Schemes\\Apps\\HmApp");
    hmtest::PlantSectionGround(machine);
    std::vector<hmtest::SectionFinding> expected;
    int services = 0;
    for (const hmtest::SectionTable& table : tables) {
        hmtest::PlantSectionTable(machine, table);
        const auto findings = hmtest::ExpectedFindings(table);
        expected.insert(expected.end(), findings.begin(), findings.end());
        services += hmtest::ExpectedServiceCount(table);
    }
    std::sort(expected.begin(), expected.end());
    machine.Build();
    ForgetFileSearchTables();
    ASSERT_FALSE(HasFatalFailure());
    CHivemender engine;
    engine.m_dwSectionMask |= 1u << SectionServices;
    RunScan(engine, engine.m_sectionScanners);
    EXPECT_EQ(expected, hmtest::SortedFindings(engine));
    EXPECT_EQ(services, engine.m_nServiceProblems);

    const hmtest::RoundTrip trip({"HKEY_LOCAL_MACHINE", "HKEY_USERS"});
    const std::string report = trip.FixAll(engine);
    EXPECT_EQ(0u, hmtest::Refusals(report)) << report;
    const std::string undoFile = trip.UndoFile();
    ASSERT_FALSE(undoFile.empty());
    RunScan(engine, engine.m_sectionScanners);
    EXPECT_EQ(std::vector<hmtest::SectionFinding>{}, hmtest::SortedFindings(engine));
    trip.ExpectRestoredBy(undoFile);
}

} // namespace
