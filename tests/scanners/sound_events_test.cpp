// The sound-event scanner: which event sounds of the user hives it reports,
// and how (the sound of a standard scheme, or a scheme of the user's own).
#include "scanners/sound_events.h"

#include "scan/exclusion_list.h"
#include "scanner_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using hmtest::Finding;
using hmtest::FindingsUnder;
using hmtest::MachineBuilder;
using hmtest::Sorted;

const std::string kDefaultApps = "HKEY_USERS\\.DEFAULT\\AppEvents\\Schemes\\Apps";

TEST(SoundEventsTest, MissingSoundsOfStandardAndOwnSchemes) {
    const std::string app = kDefaultApps + "\\HmApp";
    MachineBuilder machine;
    machine.Drive('D', DRIVE_REMOVABLE)
        .File("C:\\Windows\\Media\\hmding.wav")
        .File("C:\\HmSounds\\present.wav")
        .String(app + "\\Empty\\.Current", "", "") // no sound chosen
        .String(app + "\\InMedia\\.Default", "", "hmding.wav")
        .String(app + "\\FullPath\\.Current", "", "C:\\HmSounds\\present.wav")
        .String(app + "\\Variable\\.Current", "", "%SystemRoot%\\Media\\hmding.wav", REG_EXPAND_SZ)
        .String(app + "\\Stick\\.Current", "", "D:\\HmSounds\\stick.wav")
        .Dword(app + "\\Number\\.Current", "", 1)
        .String(app + "\\Gone\\.Current", "", "C:\\HmSounds\\gone.wav")
        .String(app + "\\Gone\\HmRetro", "", "C:\\HmSounds\\gone.wav")
        .String(app + "\\GoneBare\\.Default", "", "hmgone.wav");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    ScanSoundEvents(engine);
    const std::vector<Finding> expected = {
        {SectionSoundEvents, app + "\\GoneBare\\.Default", "", "", ProblemDeleteValue},
        {SectionSoundEvents, app + "\\Gone\\.Current", "", "", ProblemDeleteValue},
        {SectionSoundEvents, app + "\\Gone\\HmRetro", "", "", ProblemDeleteKey},
    };
    EXPECT_EQ(expected, Sorted(FindingsUnder(engine, app)));
}

TEST(SoundEventsTest, TheMachinesMediaPathIsWhereBareNamesAreFound) {
    MachineBuilder machine;
    machine.File("C:\\HmMedia\\hmding.wav")
        .String("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                "MediaPathUnexpanded", "C:\\HmMedia", REG_EXPAND_SZ)
        .String(kDefaultApps + "\\HmApp\\Ding\\.Current", "", "hmding.wav");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    ScanSoundEvents(engine);
    EXPECT_EQ("C:\\HmMedia", GetMediaDirectory(engine));
    EXPECT_EQ(std::vector<Finding>{}, FindingsUnder(engine, kDefaultApps + "\\HmApp"));
}

TEST(SoundEventsTest, AnEmptySoundIsNoProblemEvenWithoutAMediaFolder) {
    MachineBuilder machine;
    machine
        .String("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "MediaPath",
                "C:\\HmNoMedia")
        .String(kDefaultApps + "\\HmApp\\Quiet\\.Current", "", "");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    ScanSoundEvents(engine);
    EXPECT_EQ(std::vector<Finding>{}, FindingsUnder(engine, kDefaultApps + "\\HmApp"));
}

TEST(SoundEventsTest, AnExcludedAppsKeyKeepsOnlyItsOwnUserOut) {
    if (!hmtest::RunningOnStandIn())
        GTEST_SKIP() << "under Wine a second user hive cannot be planted";
    MachineBuilder machine;
    const std::string alice =
        "HKEY_USERS\\" + machine.CurrentUserSid() + "\\AppEvents\\Schemes\\Apps";
    machine.String(alice + "\\HmApp\\Gone\\.Current", "", "C:\\HmSounds\\gone.wav")
        .String(kDefaultApps + "\\HmApp\\Gone\\.Current", "", "C:\\HmSounds\\gone.wav");
    BUILD_OR_RETURN(machine);
    CHivemender engine;
    AddExclusionLine(engine, kDefaultApps);
    ScanSoundEvents(engine);
    EXPECT_EQ(std::vector<Finding>{}, FindingsUnder(engine, kDefaultApps));
    EXPECT_EQ((std::vector<Finding>{{SectionSoundEvents, alice + "\\HmApp\\Gone\\.Current", "", "",
                                     ProblemDeleteValue}}),
              FindingsUnder(engine, alice));
}

} // namespace
