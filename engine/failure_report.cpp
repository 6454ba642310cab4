#include "engine/failure_report.h"

#include "engine/emit_report.h"
#include "report/json_writer.h"

#include <new>

namespace {

std::string EmptyReportWithError(std::string_view kind, std::string_view listName,
                                 std::string_view error) {
    JsonObject document;
    SetString(document, "finished", kind);
    SetArray(document, listName, JsonObjectArray());
    SetString(document, "error", error);
    return Serialize(document);
}

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

std::string FailedScanReportText(std::string_view error) {
    return EmptyReportWithError("scan", "problems", error);
}

std::string FailedFixReportText(std::string_view error) {
    return EmptyReportWithError("fix", "fixes", error);
}

void ReportCurrentFailure(ICloudPlugin& plugin, FailedReportText reportText) noexcept {
    try {
        EmitReport(plugin, reportText(CurrentFailure()));
    } catch (...) {
    }
}
