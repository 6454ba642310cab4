// The reports that end a scan and a fix.
//
// Both show each problem the same way, numbered by its position in the
// engine's problem list, which is how a later fix request names it. A
// worker that failed still ends with its report: the usual one of its kind
// with nothing in its list and an "error" member saying why.
#pragma once

#include "report/json_object.h"
#include "report/problem_record.h"
#include "report/user_profiles.h"

#include <string>
#include <string_view>

// The scan report: every problem of the list.
std::string ScanReportText(const ProblemList& problems, CUserNameCache& users);
std::string FailedScanReportText(std::string_view error);

// One line of the fix report: the problem `id` and whether it is fixed now.
JsonObject FixResultObject(const ProblemRecord& record, size_t id, CUserNameCache& users,
                           bool fixed);
// The fix report; `error`, when not empty, says why problems went unfixed.
std::string FixReportText(const JsonObjectArray& fixes, std::string_view error);
std::string FailedFixReportText(std::string_view error);
