// The seven smaller sections' tables of cases (tests/scanners/section_cases.h)
// on one machine: fixing every broken case leaves nothing to find, and
// importing the undo file gives the registry back.
#include "fileref/file_probe.h"
#include "scan/scan_driver.h"
#include "support/conformance.h"
#include "tests/fix/fix_test_support.h"
#include "tests/scanners/section_cases.h"

#include <gtest/gtest.h>

namespace {

class SectionsRoundTripTest : public hmtest::FixTest {};

TEST_F(SectionsRoundTripTest, EverySmallerSectionIsFoundFixedAndRestored) {
    if (!hmtest::RunningOnStandIn())
        GTEST_SKIP() << "a Wine prefix has findings of its own in these sections";
    hmtest::MachineBuilder machine;
    const auto tables = hmtest::SectionTables("HKEY_USERS\\" + machine.CurrentUserSid() +
                                              "\\AppEvents\\Schemes\\Apps\\HmApp");
    hmtest::PlantSectionGround(machine);
    size_t broken = 0;
    for (const hmtest::SectionTable& table : tables) {
        hmtest::PlantSectionTable(machine, table);
        broken += hmtest::ExpectedFindings(table).size();
    }
    machine.Build();
    ForgetFileSearchTables();
    ASSERT_FALSE(HasFatalFailure());
    CHivemender engine;
    engine.m_dwSectionMask |= 1u << SectionServices;
    RunScan(engine, engine.m_sectionScanners);
    ASSERT_EQ(broken, engine.m_problems.size()); // which ones: tests/scanners/sections_test.cpp

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
