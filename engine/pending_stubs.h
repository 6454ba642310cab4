// The scan report's entry point until its own source lands in report/.
#pragma once

class CHivemender;

// Numbers the problems, serialises the report and hands it to the host.
void BuildScanReport(CHivemender& engine);
