// The scanners of the machine's flat lists, whose value names or data name a
// file: fonts, shared DLL counters and help files.
#include "scanners/fonts.h"
#include "scanners/help_files.h"
#include "scanners/shared_dlls.h"

#include "scan/exclusion_list.h"
#include "scanner_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using hmtest::Finding;
using hmtest::MachineBuilder;

const std::string kFonts =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
const std::string kShared =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const std::string kHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help";
const std::string kHtmlHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\HTML Help";

// The findings on values this test made (named Hm... or C:\Hm..., D:\Hm...):
// a Wine prefix registers fonts and help files of its own.
std::vector<Finding> Ours(const CHivemender& engine) {
    std::vector<Finding> ours;
    for (const ProblemRecord& r : engine.m_problems) {
        if (r.valueName.find("Hm") != std::string::npos ||
            r.valueName.find("hm") != std::string::npos)
            ours.push_back({r.section, r.keyPath, r.valueName, r.newValue, r.kind});
    }
    return hmtest::Sorted(ours);
}

Finding Deleted(int section, const std::string& key, const std::string& value) {
    return {section, key, value, "", ProblemDeleteValue};
}

TEST(FontsTest, MissingAndRepeatedFilesAreReported) {
    MachineBuilder machine;
    machine.Drive('D', DRIVE_REMOVABLE)
        .File("C:\\Windows\\Fonts\\hmsans.ttf")
        .File("C:\\Windows\\Fonts\\hmblob.ttf")
        .File("C:\\HmElsewhere\\hmserif.ttf")
        .String(kFonts, "HmSans", "hmsans.ttf")
        // The second registration of a file goes, even though the file is there.
        .String(kFonts, "HmSans Again", "hmsans.ttf")
        .String(kFonts, "HmSans Upper", "HMSANS.TTF") // another text: not a repeat
        .String(kFonts, "HmSerif", "C:\\HmElsewhere\\hmserif.ttf")
        .String(kFonts, "HmGone", "hmgone.ttf")
        .String(kFonts, "HmGonePath", "C:\\HmElsewhere\\hmgone.ttf")
        .String(kFonts, "HmStick", "D:\\HmFonts\\hmstick.ttf")
        .String(kFonts, "HmVariable", "%SystemRoot%\\Fonts\\hmsans.ttf", REG_EXPAND_SZ)
        // Not a string: neither examined nor remembered as met.
        .Value(kFonts, "HmBinary", REG_BINARY,
               {'h', 'm', 'b', 'l', 'o', 'b', '.', 't', 't', 'f', 0})
        .String(kFonts, "HmBlob", "hmblob.ttf");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    engine.m_fontSeen.insert("hmgone.ttf"); // left by an earlier scan: forgotten
    ScanFonts(engine);
    const std::vector<Finding> expected = {Deleted(SectionFonts, kFonts, "HmGone"),
                                           Deleted(SectionFonts, kFonts, "HmGonePath"),
                                           Deleted(SectionFonts, kFonts, "HmSans Again")};
    EXPECT_EQ(expected, Ours(engine));
}

TEST(FontsTest, AnExcludedFontListIsNotExamined) {
    MachineBuilder machine;
    machine.String(kFonts, "HmGone", "hmgone.ttf");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    AddExclusionLine(engine, kFonts);
    ScanFonts(engine);
    EXPECT_EQ(std::vector<Finding>{}, Ours(engine));
}

TEST(SharedDllsTest, CountersOfMissingFilesAreReportedWhateverTheExclusions) {
    MachineBuilder machine;
    machine.Drive('D', DRIVE_REMOVABLE)
        .File("C:\\HmShared\\present.dll")
        .File("C:\\Program Files\\HmShared\\only64.dll")
        .Dword(kShared, "C:\\HmShared\\present.dll", 1)
        .Dword(kShared, "C:\\HmShared\\gone.dll", 2)
        .Dword(kShared, "C:\\HmShared", 1) // a folder that exists
        .Dword(kShared, "C:\\Program Files (x86)\\HmShared\\only64.dll", 1)
        .String(kShared, "hm-not-a-path", "1") // probed relative: nothing of that name
        .Dword(kShared, "D:\\HmShared\\stick.dll", 1);
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    AddExclusionLine(engine, kShared);
    ScanSharedDlls(engine);
    const std::vector<Finding> expected = {
        Deleted(SectionSharedDlls, kShared, "C:\\HmShared\\gone.dll"),
        Deleted(SectionSharedDlls, kShared, "hm-not-a-path")};
    EXPECT_EQ(expected, Ours(engine));
}

TEST(HelpFilesTest, RegistrationsWhoseFolderLacksTheFileAreReported) {
    MachineBuilder machine;
    machine.Environment("HMHELPDIR", "C:\\HmHelp")
        .File("C:\\HmHelp\\hmpresent.hlp")
        .File("C:\\HmHelp\\hmvariable.hlp")
        .File("C:\\Windows\\hmonpath.hlp")
        .String(kHelp, "hmpresent.hlp", "C:\\HmHelp")
        .String(kHelp, "hmgone.hlp", "C:\\HmHelp\\")
        .String(kHelp, "hmvariable.hlp", "%HMHELPDIR%") // raw data, expanded by the check
        .String(kHelp, "hmonpath.hlp", "")              // searched for on the search path
        .String(kHelp, "hmnowhere.hlp", "")
        .Dword(kHelp, "hmnumber.hlp", 1)
        .String(kHtmlHelp, "hmgone.chm", "C:\\HmHelp");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    ScanHelpFiles(engine);
    const std::vector<Finding> expected = {Deleted(SectionHelpFiles, kHtmlHelp, "hmgone.chm"),
                                           Deleted(SectionHelpFiles, kHelp, "hmgone.hlp"),
                                           Deleted(SectionHelpFiles, kHelp, "hmnowhere.hlp")};
    EXPECT_EQ(expected, Ours(engine));
}

TEST(HelpFilesTest, AnExcludedListLeavesTheOtherScanned) {
    MachineBuilder machine;
    machine.String(kHelp, "hmgone.hlp", "C:\\HmHelp").String(kHtmlHelp, "hmgone.chm", "C:\\HmHelp");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    AddExclusionLine(engine, kHelp + "=LOCKED");
    ScanHelpFiles(engine);
    EXPECT_EQ(std::vector<Finding>{Deleted(SectionHelpFiles, kHtmlHelp, "hmgone.chm")},
              Ours(engine));
}

} // namespace
