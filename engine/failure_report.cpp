#include "engine/failure_report.h"

#include "engine/emit_report.h"

#include <new>

namespace {

// Why the exception being handled ended the work, in the report's words.
const char* CurrentFailure() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (...) {
        return "Unexpected error";
    }
}

} // namespace

void ReportCurrentFailure(ICloudPlugin& plugin, FailedReportText reportText) noexcept {
    try {
        EmitReport(plugin, reportText(CurrentFailure()));
    } catch (...) {
    }
}
