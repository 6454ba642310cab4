// The healthy and the broken cases of the seven smaller sections (fonts,
// sounds, uninstall, services, App Paths, shared DLLs, help files), one table
// each. tests/scanners/sections_test.cpp scans each table on a machine of its
// own; tests/engine/round_trip_test.cpp plants them all on one machine, fixes
// every finding and undoes the fix.
#pragma once

#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "support/machine_builder.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace hmtest {

constexpr int kKept = -1;    // no finding of its own
constexpr int kCounted = -2; // a service: counted, never reported
constexpr DWORD kKeyOnly = 0xFFFFFFFF;

// One value (or, with kKeyOnly, a key alone) and what the scan makes of it.
struct SectionCase {
    std::string key, value, data;
    DWORD type = REG_SZ; // REG_DWORD data is a decimal number; REG_BINARY gets a zero byte
    int kind = kKept;
    std::string newValue = "";
};

struct SectionTable {
    int section;
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<SectionCase> cases;
};

// A finding as the tests compare it: section, key, value name, new value, kind.
using SectionFinding = std::tuple<int, std::string, std::string, std::string, int>;

inline const std::string kVersionKey =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline const std::string kOtherSoundApps = "HKEY_USERS\\.DEFAULT\\AppEvents\\Schemes\\Apps";
inline const std::string kExcludedUninstall = kVersionKey + "\\Uninstall\\HmExcluded";

// `sounds` is the current user's HKEY_USERS\<sid>\AppEvents\Schemes\Apps\HmApp.
inline std::vector<SectionTable> SectionTables(const std::string& sounds) {
    const std::string fonts =
        "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
    const std::string uninstall = kVersionKey + "\\Uninstall\\";
    const std::string appPaths = kVersionKey + "\\App Paths\\";
    const std::string shared = kVersionKey + "\\SharedDlls";
    const std::string help = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\Help";
    const std::string htmlHelp = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\HTML Help";
    const std::string services = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Hm";
    const int value = ProblemDeleteValue, key = ProblemDeleteKey;
    std::vector<SectionTable> tables = {
        {SectionFonts,
         {"C:\\Windows\\Fonts\\hmsans.ttf", "C:\\HmApp\\hmserif.ttf"},
         {},
         {{fonts, "HmSans", "hmsans.ttf"},
          {fonts, "HmSans Again", "hmsans.ttf", REG_SZ, value}, // a repeat, though present
          {fonts, "HmSans Upper", "HMSANS.TTF"},                // another text: no repeat
          {fonts, "@HmSans Upper", "HMSANS.TTF"},               // its vertical face shares the file
          {fonts, "HmSerif", "C:\\HmApp\\hmserif.ttf"},
          {fonts, "HmGone", "hmgone.ttf", REG_SZ, value},
          {fonts, "HmStick", "D:\\hmstick.ttf"}, // out of reach
          {fonts, "HmVariable", "%SystemRoot%\\Fonts\\hmsans.ttf", REG_EXPAND_SZ},
          {fonts, "HmBinary", "hmx.ttf", REG_BINARY},
          {fonts, "HmX", "hmx.ttf", REG_SZ, value}}}, // missing, but no repeat of the binary
        {SectionSoundEvents,
         {"C:\\Windows\\Media\\hmding.wav"},
         {},
         {{sounds + "\\Ev\\.Current", "", "C:\\HmSounds\\gone.wav", REG_SZ, value},
          {sounds + "\\Ev\\HmOwn", "", "C:\\HmSounds\\gone.wav", REG_SZ, key},
          {sounds + "\\Ev\\.Default", "", "hmding.wav"}, // in the media folder
          {sounds + "\\Ev\\.Empty", "", ""},
          {sounds + "\\Ev\\.Stick", "", "D:\\hmding.wav"},
          {sounds + "\\Ev\\.Number", "", "1", REG_DWORD},
          {kOtherSoundApps + "\\HmApp\\Ev\\.Current", "", "C:\\HmSounds\\gone.wav"}}}, // excluded
        {SectionUninstall,
         {"C:\\HmApp\\app.exe", "C:\\HmTools\\hmremove.exe"},
         {{"Path", "C:\\HmTools"}},
         {{uninstall + "HmGone", "UninstallString", "C:\\HmApp\\unins.exe /x", REG_SZ, key},
          {uninstall + "HmQuietOnly", "QuietUninstallString", "\"C:\\HmApp\\app.exe\" /S"},
          {uninstall + "HmInstaller", "WindowsInstaller", "1", REG_DWORD},
          {uninstall + "HmInstallerZero", "WindowsInstaller", "0", REG_DWORD, key},
          {uninstall + "HmInstallerZero", "DisplayName", "HmInstallerZero"},
          {uninstall + "HmInstallerText", "WindowsInstaller", "1", REG_SZ, key},
          {uninstall + "HmInstallerText", "DisplayName", "HmInstallerText"},
          {uninstall + "HmEmpty", "UninstallString", "", REG_SZ, key},
          {uninstall + "HmEmpty", "DisplayName", "HmEmpty"},
          {uninstall + "HmSystemPart", "SystemComponent", "1", REG_DWORD}, // hidden: kept
          {uninstall + "HmSystemPart", "DisplayName", "HmSystemPart"},
          {uninstall + "HmStub", "DisplayVersion", "1.0"}, // no name, hidden: kept
          {uninstall + "HmOnPath", "UninstallString", "hmremove.exe /x"},
          {kExcludedUninstall, "UninstallString", "C:\\HmApp\\gone.exe"}}},
        {SectionServices,
         {"C:\\HmSvc\\svc.exe", "C:\\Windows\\System32\\drivers\\hmdrv.sys"},
         {},
         {{services + "TextStart", "Start", "2"},
          {services + "TextStart", "ImagePath", "x"},
          {services + "NoStart", "ImagePath", "C:\\HmSvc\\gone.exe"}}},
        {SectionAppPaths,
         {"C:\\HmApp\\app.exe"},
         {},
         {{appPaths + "hmgone.exe", "", "C:\\HmApp\\gone.exe", REG_SZ, key},
          {appPaths + "hmgone.exe", "Path", "C:\\HmGone"}, // the key goes: no Path finding
          {appPaths + "hmlist.exe", "", "C:\\HmApp\\app.exe"},
          {appPaths + "hmlist.exe", "Path", "C:\\HmApp;C:\\HmGone", REG_EXPAND_SZ,
           ProblemReplaceValue, "C:\\HmApp"},
          {appPaths + "hmbadpath.exe", "", "C:\\HmApp\\app.exe"},
          {appPaths + "hmbadpath.exe", "Path", "C:\\HmGone", REG_SZ, value},
          {appPaths + "hmnothing.exe", "", "", kKeyOnly, key},
          {appPaths + "hmflagsonly.exe", "BlockOnTSNonInstallMode", "1", REG_DWORD},
          {appPaths + "hmpathonly.exe", "Path", "C:\\HmApp"}}},
        {SectionSharedDlls,
         {"C:\\HmApp\\app.exe", "C:\\Program Files\\HmApp\\only64.dll"},
         {},
         {{shared, "C:\\HmApp\\app.exe", "1", REG_DWORD},
          {shared, "C:\\HmApp", "1", REG_DWORD},
          {shared, "C:\\Program Files (x86)\\HmApp\\only64.dll", "1", REG_DWORD},
          {shared, "C:\\HmShared\\gone.dll", "2", REG_DWORD, value},
          {shared, "hm-not-a-path", "1", REG_DWORD, value}}},
        {SectionHelpFiles,
         {"C:\\HmApp\\hmvariable.hlp", "C:\\Windows\\hmonpath.hlp"},
         {{"HMHELPDIR", "C:\\HmApp"}},
         {{help, "hmvariable.hlp", "%HMHELPDIR%"},
          {help, "hmonpath.hlp", ""},
          {help, "hmgone.hlp", "C:\\HmApp\\", REG_SZ, value},
          {help, "hmnowhere.hlp", "", REG_SZ, value},
          {htmlHelp, "hmgone.chm", "C:\\HmApp", REG_SZ, value}}},
    };
    // Three images are nowhere to be found; a disabled service is not asked.
    const std::tuple<const char*, const char*, const char*, int> kServices[] = {
        {"Gone", "2", "C:\\HmSvc\\gone.exe", kCounted},
        {"Disabled", "4", "C:\\HmSvc\\gone.exe", kKept},
        {"SystemRoot", "1", "\\SystemRoot\\System32\\drivers\\hmdrv.sys", kKept},
        {"SystemRootGone", "1", "\\SystemRoot\\System32\\drivers\\hmgone.sys", kCounted},
        {"Native", "2", "\\??\\C:\\HmSvc\\svc.exe", kKept},
        {"Command", "2", "\"C:\\HmSvc\\svc.exe\" -k hmgroup", kKept},
        {"Bare", "1", "hmdrv.sys", kKept},
        {"BareGone", "1", "hmgone.sys", kCounted},
    };
    for (const auto& [name, start, image, kind] : kServices) {
        tables[3].cases.push_back({services + name, "Start", start, REG_DWORD});
        tables[3].cases.push_back({services + name, "ImagePath", image, REG_SZ, kind});
    }
    return tables;
}

// The removable drive D: and the exclusion file every table needs.
inline void PlantSectionGround(MachineBuilder& machine) {
    machine.Drive('D', DRIVE_REMOVABLE)
        .File(ExclusionFilePath(), kExcludedUninstall + "\r\n" + kOtherSoundApps);
}

inline void PlantSectionTable(MachineBuilder& machine, const SectionTable& table) {
    for (const std::string& file : table.files)
        machine.File(file);
    for (const auto& [name, value] : table.environment)
        machine.Environment(name, value);
    for (const SectionCase& c : table.cases) {
        if (c.type == kKeyOnly)
            machine.Key(c.key);
        else if (c.type == REG_DWORD)
            machine.Dword(c.key, c.value, static_cast<DWORD>(std::stoul(c.data)));
        else if (c.type == REG_BINARY)
            machine.Value(c.key, c.value, c.type,
                          std::vector<BYTE>(c.data.c_str(), c.data.c_str() + c.data.size() + 1));
        else
            machine.String(c.key, c.value, c.data, c.type);
    }
}

inline std::vector<SectionFinding> ExpectedFindings(const SectionTable& table) {
    std::vector<SectionFinding> findings;
    for (const SectionCase& c : table.cases) {
        if (c.kind >= 0)
            findings.emplace_back(table.section, c.key, c.kind == ProblemDeleteKey ? "" : c.value,
                                  c.newValue, c.kind);
    }
    return findings;
}

inline int ExpectedServiceCount(const SectionTable& table) {
    return static_cast<int>(std::count_if(table.cases.begin(), table.cases.end(),
                                          [](const SectionCase& c) { return c.kind == kCounted; }));
}

// The engine's findings, sorted as ExpectedFindings is compared.
inline std::vector<SectionFinding> SortedFindings(const CEngineState& engine) {
    std::vector<SectionFinding> findings;
    for (const ProblemRecord& r : engine.m_problems)
        findings.emplace_back(r.section, r.keyPath, r.valueName, r.newValue, r.kind);
    std::sort(findings.begin(), findings.end());
    return findings;
}

} // namespace hmtest
