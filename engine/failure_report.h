// What a worker tells the host when its work throws.
//
// A host learns that a scan or a fix has ended only from its report, so a
// worker that failed still delivers one: the usual report of its kind with
// nothing in its list and an "error" member saying why, as a fix already
// reports an empty problem list.
#pragma once

#include "engine/cloud_plugin.h"

#include <string>
#include <string_view>

// {"finished": "scan"} with an empty problem list and the error.
std::string FailedScanReportText(std::string_view error);

// {"finished": "fix"} with an empty list of fixes and the error.
std::string FailedFixReportText(std::string_view error);

using FailedReportText = std::string (*)(std::string_view error);

// Called inside a catch block: hands the host `reportText` of why the
// exception being handled ended the work. If even that fails, the host gets
// nothing; no exception leaves.
void ReportCurrentFailure(ICloudPlugin& plugin, FailedReportText reportText) noexcept;
