// Why a value problem is there: the value's data and the reason the rule
// that reported it gives. The host reads them through the engine's own
// registry code and asks the scanners' own rules, so what it shows is what
// the scan saw, and the engine's report stays as the engine wrote it.
#pragma once

#include "host/report_format.h"

#include <string>
#include <vector>

namespace host {

// "data: ..." and the reason of the rule of the problem's section ("file:
// ... (missing)", "file: ... (already registered as ...)") for the value
// problem of a report (its key path and value name UTF-8, as the report
// names them); one line saying why when the value cannot be read any more.
std::vector<std::string> ExplainValue(const Members& problem);

} // namespace host
