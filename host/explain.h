// Why a value problem is there: the value's data and the file the checks
// take from it. The host reads them through the engine's own registry and
// path-extraction code, so what it shows is what the scan saw, and the
// engine's report stays as the engine wrote it.
#pragma once

#include <string>
#include <vector>

namespace host {

// "data: ..." and "file: ... (missing)" for the value `valueName` of the key
// (both UTF-8, as the report names them); one line saying why when the value
// cannot be read any more.
std::vector<std::string> ExplainValue(const std::string& keyPath, const std::string& valueName);

} // namespace host
