// One machine with a broken entry in every section that has a list or entry
// scanner of its own: a full scan finds exactly those, in report order; fixing
// all of them and importing the undo file gives the registry back unchanged.
#include "scan/scan_driver.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/fix/fix_test_support.h"

#include "fileref/file_probe.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using hmtest::FixTest;

const std::string kVersion = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::string kFonts =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const std::string kHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help";
const std::string kHtmlHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\HTML Help";
const std::string kSounds = "HKEY_USERS\\.DEFAULT\\AppEvents\\Schemes\\Apps\\HmApp\\Ev";

void PlantEverySection(hmtest::MachineBuilder& machine) {
    machine.File("C:\\Windows\\Fonts\\hmsans.ttf")
        .File("C:\\HmApp\\app.exe")
        .File("C:\\HmHelp\\hmpresent.hlp")
        .String(kFonts, "HmSans", "hmsans.ttf")
        .String(kFonts, "HmDup", "hmsans.ttf")
        .String(kFonts, "HmGone", "hmgone.ttf")
        .String(kSounds + "\\.Current", "", "C:\\HmSounds\\gone.wav")
        .String(kSounds + "\\HmOwn", "", "C:\\HmSounds\\gone.wav")
        .String(kVersion + "\\Uninstall\\HmGone", "DisplayName", "Gone")
        .String(kVersion + "\\Uninstall\\HmGone", "UninstallString", "C:\\HmApp\\unins.exe /x")
        .String(kVersion + "\\Uninstall\\HmKept", "UninstallString", "C:\\HmApp\\app.exe /x")
        .Dword("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\HmSvc", "Start", 2)
        .String("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\HmSvc", "ImagePath",
                "C:\\HmApp\\gone-svc.exe", REG_EXPAND_SZ)
        .String(kVersion + "\\App Paths\\hmgone.exe", "", "C:\\HmApp\\gone.exe")
        .String(kVersion + "\\App Paths\\hmlist.exe", "", "C:\\HmApp\\app.exe")
        .String(kVersion + "\\App Paths\\hmlist.exe", "Path", "C:\\HmApp;C:\\HmGone", REG_EXPAND_SZ)
        .Dword(kVersion + "\\SharedDlls", "C:\\HmShared\\gone.dll", 3)
        .Dword(kVersion + "\\SharedDlls", "C:\\HmApp\\app.exe", 1)
        .String(kHelp, "hmpresent.hlp", "C:\\HmHelp")
        .String(kHelp, "hmgone.hlp", "C:\\HmHelp")
        .String(kHtmlHelp, "hmgone.chm", "C:\\HmHelp\\");
}

using Finding = std::tuple<int, std::string, std::string, std::string, int>;

std::vector<Finding> Findings(const CHivemender& engine) {
    std::vector<Finding> findings;
    for (const ProblemRecord& r : engine.m_problems)
        findings.emplace_back(r.section, r.keyPath, r.valueName, r.newValue, r.kind);
    return findings;
}

std::string SelectAll(size_t count) {
    std::string request = "{";
    for (size_t i = 0; i < count; ++i)
        request += (i ? ", \"" : "\"") + std::to_string(i) + "\": \"fix\"";
    return request + "}";
}

class SectionsRoundTripTest : public FixTest {};

TEST_F(SectionsRoundTripTest, EverySectionIsFoundFixedAndRestored) {
    if (!hmtest::RunningOnStandIn())
        GTEST_SKIP() << "a Wine prefix has findings of its own in these sections";
    hmtest::MachineBuilder machine;
    PlantEverySection(machine);
    machine.Build();
    ForgetFileSearchTables();
    if (HasFatalFailure())
        return;
    CHivemender engine;
    engine.m_dwSectionMask |= 1u << SectionServices; // counted, never reported
    RunScan(engine, engine.m_sectionScanners);
    const std::vector<Finding> expected = {
        {SectionFonts, kFonts, "HmDup", "", ProblemDeleteValue},
        {SectionFonts, kFonts, "HmGone", "", ProblemDeleteValue},
        {SectionAppPaths, kVersion + "\\App Paths\\hmgone.exe", "", "", ProblemDeleteKey},
        {SectionAppPaths, kVersion + "\\App Paths\\hmlist.exe", "Path", "C:\\HmApp",
         ProblemReplaceValue},
        {SectionSharedDlls, kVersion + "\\SharedDlls", "C:\\HmShared\\gone.dll", "",
         ProblemDeleteValue},
        {SectionUninstall, kVersion + "\\Uninstall\\HmGone", "", "", ProblemDeleteKey},
        {SectionHelpFiles, kHelp, "hmgone.hlp", "", ProblemDeleteValue},
        {SectionHelpFiles, kHtmlHelp, "hmgone.chm", "", ProblemDeleteValue},
        {SectionSoundEvents, kSounds + "\\.Current", "", "", ProblemDeleteValue},
        {SectionSoundEvents, kSounds + "\\HmOwn", "", "", ProblemDeleteKey},
    };
    EXPECT_EQ(expected, Findings(engine));
    EXPECT_EQ(1, engine.m_nServiceProblems);

    const std::string machineBefore = hmtest::SnapshotTree("HKEY_LOCAL_MACHINE\\SOFTWARE");
    const std::string usersBefore = hmtest::SnapshotTree("HKEY_USERS");
    const auto undoFilesBefore = hmtest::UndoFileNames();
    const std::string report = hmtest::StartFixAndWait(engine, SelectAll(expected.size()));
    EXPECT_EQ(std::string::npos, report.find("\"fixed\": \"false\"")) << report;
    const std::string undoFile = hmtest::NewUndoFile(undoFilesBefore);
    ASSERT_FALSE(undoFile.empty());

    // Fixed: a second scan finds nothing more.
    RunScan(engine, engine.m_sectionScanners);
    EXPECT_EQ(std::vector<Finding>{}, Findings(engine));

    EXPECT_EQ("", hmtest::ImportRegFile(undoFile));
    EXPECT_EQ(machineBefore, hmtest::SnapshotTree("HKEY_LOCAL_MACHINE\\SOFTWARE"))
        << hmtest::ReadWholeFile(undoFile);
    EXPECT_EQ(usersBefore, hmtest::SnapshotTree("HKEY_USERS"));
}

} // namespace
