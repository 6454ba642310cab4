// Which scanner covers which section, in the order a scan runs them.
//
// A section whose scanner has not been written yet has a null entry and is
// passed over. To add a scanner, declare it in a header of scanners/, include
// that header here and put the function in its row.
#include "scan/problem_record.h"
#include "scan/scan_driver.h"
#include "scanners/software_keys.h"
#include "scanners/startup_entries.h"

namespace {

const SectionScan kSectionScans[] = {
    {SectionUserSoftware, ScanUserSoftware, false},
    {SectionMachineSoftware, ScanMachineSoftware, false},
    // Classes are shared by every user of the machine: only an administrator
    // can repair them.
    {SectionClasses, nullptr, true},
    {SectionFonts, nullptr, false},
    {SectionStartup, ScanStartupEntries, false},
    {SectionSoundEvents, nullptr, false},
    {SectionUninstall, nullptr, false},
    {SectionServices, nullptr, false},
    {SectionAppPaths, nullptr, false},
    {SectionSharedDlls, nullptr, false},
    {SectionHelpFiles, nullptr, false},
};

} // namespace

std::span<const SectionScan> SectionScanTable() {
    return kSectionScans;
}
