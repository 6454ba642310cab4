// One row per section, in the order the scans run. A row names the keys its
// scanner owns, which the machine software walk leaves alone. To add a
// scanner, declare it and the keys it owns in a header of scanners/, include
// that header here and put both in its row.
#include "scanners/section_table.h"

#include "report/problem_record.h"
#include "scanners/app_paths.h"
#include "scanners/classes_root.h"
#include "scanners/fonts.h"
#include "scanners/help_files.h"
#include "scanners/services.h"
#include "scanners/shared_dlls.h"
#include "scanners/software_keys.h"
#include "scanners/sound_events.h"
#include "scanners/startup_entries.h"
#include "scanners/uninstall_entries.h"

namespace {

const SectionScan kSectionScans[] = {
    {SectionUserSoftware, ScanUserSoftware, false},
    {SectionMachineSoftware, ScanMachineSoftware, false},
    // Classes are shared by every user of the machine: only an administrator
    // can repair them.
    {SectionClasses, ScanClassesRoot, true},
    {SectionFonts, ScanFonts, false, kFontKeys},
    {SectionStartup, ScanStartupEntries, false, kStartupKeys},
    {SectionSoundEvents, ScanSoundEvents, false},
    {SectionUninstall, ScanUninstallEntries, false, kUninstallKeys},
    {SectionServices, ScanServices, false},
    {SectionAppPaths, ScanAppPaths, false, kAppPathKeys},
    {SectionSharedDlls, ScanSharedDlls, false, kSharedDllKeys},
    {SectionHelpFiles, ScanHelpFiles, false, kHelpFileKeys},
};

} // namespace

std::span<const SectionScan> SectionScanTable() {
    return kSectionScans;
}
