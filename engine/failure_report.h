// What a worker tells the host when its work throws.
//
// A host learns that a scan or a fix has ended only from its report, so a
// worker that failed still delivers one (report/problem_report.h).
#pragma once

#include "engine/cloud_plugin.h"

#include <string>
#include <string_view>

using FailedReportText = std::string (*)(std::string_view error);

// Called inside a catch block: hands the host `reportText` of why the
// exception being handled ended the work. If even that fails, the host gets
// nothing; no exception leaves.
void ReportCurrentFailure(ICloudPlugin& plugin, FailedReportText reportText) noexcept;
