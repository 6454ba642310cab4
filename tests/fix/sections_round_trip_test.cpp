// One machine with the healthy and the broken cases of the fonts, sound,
// uninstall, services, App Paths, shared DLL and help file sections: a full
// scan finds exactly the broken ones, in report order; fixing all of them
// leaves nothing to find, and importing the undo file gives the registry back.
#include "fileref/file_probe.h"
#include "scan/exclusion_list.h"
#include "scan/scan_driver.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/fix/fix_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

const std::string kVersion = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const std::string kFonts =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const std::string kUninstall = kVersion + "\\Uninstall\\";
const std::string kAppPaths = kVersion + "\\App Paths\\";
const std::string kShared = kVersion + "\\SharedDlls";
const std::string kHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help";
const std::string kHtmlHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\HTML Help";
const std::string kOtherApps = "HKEY_USERS\\.DEFAULT\\AppEvents\\Schemes\\Apps";

void PlantFontsAndSounds(hmtest::MachineBuilder& m, const std::string& sounds) {
    m.File("C:\\Windows\\Fonts\\hmsans.ttf")
        .File("C:\\HmApp\\hmserif.ttf")
        .File("C:\\Windows\\Media\\hmding.wav")
        .String(kFonts, "HmSans", "hmsans.ttf")
        .String(kFonts, "HmSans Again", "hmsans.ttf")  // a repeat, though present
        .String(kFonts, "HmSans Upper", "HMSANS.TTF")  // another text: no repeat
        .String(kFonts, "@HmSans Upper", "HMSANS.TTF") // its vertical face shares the file
        .String(kFonts, "HmSerif", "C:\\HmApp\\hmserif.ttf")
        .String(kFonts, "HmGone", "hmgone.ttf")
        .String(kFonts, "HmStick", "D:\\hmstick.ttf") // out of reach
        .String(kFonts, "HmVariable", "%SystemRoot%\\Fonts\\hmsans.ttf", REG_EXPAND_SZ)
        .Value(kFonts, "HmBinary", REG_BINARY, {'h', 'm', 'x', '.', 't', 't', 'f', 0})
        .String(kFonts, "HmX", "hmx.ttf") // missing, but no repeat of the binary
        .String(sounds + "\\Ev\\.Current", "", "C:\\HmSounds\\gone.wav")
        .String(sounds + "\\Ev\\HmOwn", "", "C:\\HmSounds\\gone.wav")
        .String(sounds + "\\Ev\\.Default", "", "hmding.wav") // in the media folder
        .String(sounds + "\\Ev\\.Empty", "", "")
        .String(sounds + "\\Ev\\.Stick", "", "D:\\hmding.wav")
        .Dword(sounds + "\\Ev\\.Number", "", 1)
        .String(kOtherApps + "\\HmApp\\Ev\\.Current", "", "C:\\HmSounds\\gone.wav");
}

void PlantEntries(hmtest::MachineBuilder& m) {
    m.Environment("Path", "C:\\HmTools")
        .File("C:\\HmApp\\app.exe")
        .File("C:\\HmTools\\hmremove.exe")
        .String(kUninstall + "HmGone", "UninstallString", "C:\\HmApp\\unins.exe /x")
        .String(kUninstall + "HmQuietOnly", "QuietUninstallString", "\"C:\\HmApp\\app.exe\" /S")
        .Dword(kUninstall + "HmInstaller", "WindowsInstaller", 1)
        .Dword(kUninstall + "HmInstallerZero", "WindowsInstaller", 0)
        .String(kUninstall + "HmInstallerText", "WindowsInstaller", "1")
        .String(kUninstall + "HmEmpty", "UninstallString", "")
        .Dword(kUninstall + "HmSystemPart", "SystemComponent", 1) // hidden: kept
        .String(kUninstall + "HmStub", "DisplayVersion", "1.0"); // no name, hidden: kept
    for (const char* entry : {"HmInstallerZero", "HmInstallerText", "HmEmpty", "HmSystemPart"})
        m.String(kUninstall + entry, "DisplayName", entry);
    m.String(kUninstall + "HmOnPath", "UninstallString", "hmremove.exe /x")
        .String(kUninstall + "HmExcluded", "UninstallString", "C:\\HmApp\\gone.exe")
        .String(kAppPaths + "hmgone.exe", "", "C:\\HmApp\\gone.exe")
        .String(kAppPaths + "hmgone.exe", "Path", "C:\\HmGone") // the key goes: no Path finding
        .String(kAppPaths + "hmlist.exe", "", "C:\\HmApp\\app.exe")
        .String(kAppPaths + "hmlist.exe", "Path", "C:\\HmApp;C:\\HmGone", REG_EXPAND_SZ)
        .String(kAppPaths + "hmbadpath.exe", "", "C:\\HmApp\\app.exe")
        .String(kAppPaths + "hmbadpath.exe", "Path", "C:\\HmGone")
        .Key(kAppPaths + "hmnothing.exe")
        .Dword(kAppPaths + "hmflagsonly.exe", "BlockOnTSNonInstallMode", 1) // kept
        .String(kAppPaths + "hmpathonly.exe", "Path", "C:\\HmApp")
        .Dword(kShared, "C:\\HmApp\\app.exe", 1)
        .Dword(kShared, "C:\\HmApp", 1)
        .Dword(kShared, "C:\\Program Files (x86)\\HmApp\\only64.dll", 1)
        .File("C:\\Program Files\\HmApp\\only64.dll")
        .Dword(kShared, "C:\\HmShared\\gone.dll", 2)
        .Dword(kShared, "hm-not-a-path", 1)
        .Environment("HMHELPDIR", "C:\\HmApp")
        .File("C:\\HmApp\\hmvariable.hlp")
        .File("C:\\Windows\\hmonpath.hlp")
        .String(kHelp, "hmvariable.hlp", "%HMHELPDIR%")
        .String(kHelp, "hmonpath.hlp", "")
        .String(kHelp, "hmgone.hlp", "C:\\HmApp\\")
        .String(kHelp, "hmnowhere.hlp", "")
        .String(kHtmlHelp, "hmgone.chm", "C:\\HmApp");
}

// Counted, never reported: three images are nowhere to be found.
void PlantServices(hmtest::MachineBuilder& m) {
    const std::string services = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Hm";
    const std::tuple<const char*, DWORD, const char*> cases[] = {
        {"Gone", 2, "C:\\HmSvc\\gone.exe"},
        {"Disabled", 4, "C:\\HmSvc\\gone.exe"},
        {"SystemRoot", 1, "\\SystemRoot\\System32\\drivers\\hmdrv.sys"},
        {"SystemRootGone", 1, "\\SystemRoot\\System32\\drivers\\hmgone.sys"},
        {"Native", 2, "\\??\\C:\\HmSvc\\svc.exe"},
        {"Command", 2, "\"C:\\HmSvc\\svc.exe\" -k hmgroup"},
        {"Bare", 1, "hmdrv.sys"},
        {"BareGone", 1, "hmgone.sys"},
    };
    m.File("C:\\HmSvc\\svc.exe").File("C:\\Windows\\System32\\drivers\\hmdrv.sys");
    for (const auto& [name, start, image] : cases)
        m.Dword(services + name, "Start", start).String(services + name, "ImagePath", image);
    m.String(services + "TextStart", "Start", "2").String(services + "TextStart", "ImagePath", "x");
    m.String(services + "NoStart", "ImagePath", "C:\\HmSvc\\gone.exe");
}

using Finding = std::tuple<int, std::string, std::string, std::string, int>;

std::vector<Finding> Findings(const CHivemender& engine) {
    std::vector<Finding> findings;
    for (const ProblemRecord& r : engine.m_problems)
        findings.emplace_back(r.section, r.keyPath, r.valueName, r.newValue, r.kind);
    return findings;
}

class SectionsRoundTripTest : public hmtest::FixTest {};

TEST_F(SectionsRoundTripTest, EverySectionIsFoundFixedAndRestored) {
    if (!hmtest::RunningOnStandIn())
        GTEST_SKIP() << "a Wine prefix has findings of its own in these sections";
    hmtest::MachineBuilder machine;
    const std::string sounds =
        "HKEY_USERS\\" + machine.CurrentUserSid() + "\\AppEvents\\Schemes\\Apps\\HmApp";
    machine.Drive('D', DRIVE_REMOVABLE)
        .File(ExclusionFilePath(), kUninstall + "HmExcluded\r\n" + kOtherApps);
    PlantFontsAndSounds(machine, sounds);
    PlantEntries(machine);
    PlantServices(machine);
    machine.Build();
    ForgetFileSearchTables();
    ASSERT_FALSE(HasFatalFailure());
    CHivemender engine;
    engine.m_dwSectionMask |= 1u << SectionServices;
    RunScan(engine, engine.m_sectionScanners);
    const int value = ProblemDeleteValue, key = ProblemDeleteKey;
    const std::vector<Finding> expected = {
        {SectionFonts, kFonts, "HmGone", "", value},
        {SectionFonts, kFonts, "HmSans Again", "", value},
        {SectionFonts, kFonts, "HmX", "", value},
        {SectionAppPaths, kAppPaths + "hmbadpath.exe", "Path", "", value},
        {SectionAppPaths, kAppPaths + "hmgone.exe", "", "", key},
        {SectionAppPaths, kAppPaths + "hmlist.exe", "Path", "C:\\HmApp", ProblemReplaceValue},
        {SectionAppPaths, kAppPaths + "hmnothing.exe", "", "", key},
        {SectionSharedDlls, kShared, "C:\\HmShared\\gone.dll", "", value},
        {SectionSharedDlls, kShared, "hm-not-a-path", "", value},
        {SectionUninstall, kUninstall + "HmEmpty", "", "", key},
        {SectionUninstall, kUninstall + "HmGone", "", "", key},
        {SectionUninstall, kUninstall + "HmInstallerText", "", "", key},
        {SectionUninstall, kUninstall + "HmInstallerZero", "", "", key},
        {SectionHelpFiles, kHelp, "hmgone.hlp", "", value},
        {SectionHelpFiles, kHelp, "hmnowhere.hlp", "", value},
        {SectionHelpFiles, kHtmlHelp, "hmgone.chm", "", value},
        {SectionSoundEvents, sounds + "\\Ev\\.Current", "", "", value},
        {SectionSoundEvents, sounds + "\\Ev\\HmOwn", "", "", key},
    };
    EXPECT_EQ(expected, Findings(engine));
    EXPECT_EQ(3, engine.m_nServiceProblems);

    const std::string machineBefore = hmtest::SnapshotTree("HKEY_LOCAL_MACHINE");
    const std::string usersBefore = hmtest::SnapshotTree("HKEY_USERS");
    const auto undoFilesBefore = hmtest::UndoFileNames();
    const std::string report =
        hmtest::StartFixAndWait(engine, hmtest::SelectAllRequest(expected.size()));
    EXPECT_EQ(std::string::npos, report.find("\"fixed\": \"false\"")) << report;
    const std::string undoFile = hmtest::NewUndoFile(undoFilesBefore);
    ASSERT_FALSE(undoFile.empty());
    RunScan(engine, engine.m_sectionScanners);
    EXPECT_EQ(std::vector<Finding>{}, Findings(engine));

    EXPECT_EQ("", hmtest::ImportRegFile(undoFile));
    EXPECT_EQ(machineBefore, hmtest::SnapshotTree("HKEY_LOCAL_MACHINE"))
        << hmtest::ReadWholeFile(undoFile);
    EXPECT_EQ(usersBefore, hmtest::SnapshotTree("HKEY_USERS"));
}

// Without a media folder, an empty sound ("no sound") is still no problem.
TEST_F(SectionsRoundTripTest, AnEmptySoundNeedsNoMediaFolder) {
    hmtest::MachineBuilder machine;
    machine.String(kVersion, "MediaPath", "C:\\HmNoMedia")
        .String(kOtherApps + "\\HmApp\\Ev\\.Current", "", "");
    machine.Build();
    ASSERT_FALSE(HasFatalFailure());
    CHivemender engine;
    RunScan(engine, engine.m_sectionScanners);
    for (const ProblemRecord& record : engine.m_problems)
        EXPECT_EQ(std::string::npos, record.keyPath.find("HmApp")) << record.keyPath;
}

} // namespace
