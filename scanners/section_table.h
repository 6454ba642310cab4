// Which scanner covers which section, and which machine keys each owns.
#pragma once

#include "scan/scan_driver.h"

#include <map>
#include <span>
#include <string>

// The scanners in the order a scan runs them.
std::span<const SectionScan> SectionScanTable();

// Every key the table's scanners own below HKEY_LOCAL_MACHINE, by section,
// in table order: the map the machine software walk reads (m_sectionPaths).
std::multimap<int, std::string> OwnedMachineKeys();
