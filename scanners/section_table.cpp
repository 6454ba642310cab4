// A section whose scanner has not been written yet has a null entry and is
// passed over; its row still names the keys that scanner will own, so that
// the machine software walk leaves them alone from the start. To add a
// scanner, declare it and the keys it owns in a header of scanners/, include
// that header here and put both in its row.
#include "scanners/section_table.h"

#include "scan/problem_record.h"
#include "scanners/classes_root.h"
#include "scanners/software_keys.h"
#include "scanners/startup_entries.h"

namespace {

constexpr const char* kUninstallKeys[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"};
constexpr const char* kFontKeys[] = {"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"};
constexpr const char* kAppPathKeys[] = {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"};
constexpr const char* kSharedDllKeys[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls"};
constexpr const char* kHelpFileKeys[] = {"SOFTWARE\\Microsoft\\Windows\\HTML Help",
                                         "SOFTWARE\\Microsoft\\Windows\\Help"};

const SectionScan kSectionScans[] = {
    {SectionUserSoftware, ScanUserSoftware, false},
    {SectionMachineSoftware, ScanMachineSoftware, false},
    // Classes are shared by every user of the machine: only an administrator
    // can repair them.
    {SectionClasses, ScanClassesRoot, true},
    {SectionFonts, nullptr, false, kFontKeys},
    {SectionStartup, ScanStartupEntries, false, kStartupKeys},
    {SectionSoundEvents, nullptr, false},
    {SectionUninstall, nullptr, false, kUninstallKeys},
    {SectionServices, nullptr, false},
    {SectionAppPaths, nullptr, false, kAppPathKeys},
    {SectionSharedDlls, nullptr, false, kSharedDllKeys},
    {SectionHelpFiles, nullptr, false, kHelpFileKeys},
};

} // namespace

std::span<const SectionScan> SectionScanTable() {
    return kSectionScans;
}

std::multimap<int, std::string> OwnedMachineKeys() {
    std::multimap<int, std::string> owned;
    for (const SectionScan& entry : kSectionScans) {
        for (const char* path : entry.ownedMachineKeys)
            owned.emplace(entry.section, path);
    }
    return owned;
}
