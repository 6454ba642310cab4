// Which scanner covers which section, and which machine keys each owns.
#pragma once

#include "scan/scan_driver.h"

#include <span>

// The scanners in the order a scan runs them, each with the machine keys it
// owns: what a CEngineState is built from (CEngineState(SectionScanTable())).
std::span<const SectionScan> SectionScanTable();
