// The report that ends a scan: every problem of the final list, numbered by
// its position, which is how a later fix request names it.
#pragma once

#include <string>

class CHivemender;
struct CEngineState;

// The report text for the engine's problem list.
std::string ScanReportText(CEngineState& engine);

// Builds the report and hands it to the host.
void BuildScanReport(CHivemender& engine);
