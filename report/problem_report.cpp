#include "report/problem_report.h"

#include "report/json_writer.h"

namespace {

// Where "user name" goes in. The insertion order matters beyond the table's
// buckets: in the scan report "user name" must go in before "new value",
// which shares its bucket, and the fix report has always put it after
// "key path"; hosts find the members in the order they expect.
enum class UserNamePlace { BeforeKeyPath, AfterKeyPath };

JsonObject ProblemObject(const ProblemRecord& record, size_t id, CUserNameCache& users,
                         UserNamePlace place) {
    JsonObject problem;
    SetInt64(problem, "id", static_cast<LONGLONG>(id));
    SetInt64(problem, "section", static_cast<LONGLONG>(static_cast<DWORD>(record.section)));
    const std::string userName = users.NameForKeyPath(record.keyPath);
    if (place == UserNamePlace::AfterKeyPath)
        SetString(problem, "key path", record.keyPath);
    if (!userName.empty())
        SetString(problem, "user name", userName);
    if (place == UserNamePlace::BeforeKeyPath)
        SetString(problem, "key path", record.keyPath);
    if (!record.valueName.empty()) {
        SetString(problem, "value name", record.valueName);
        if (!record.newValue.empty())
            SetString(problem, "new value", record.newValue);
    }
    return problem;
}

std::string ReportText(std::string_view kind, std::string_view listName,
                       const JsonObjectArray& list, std::string_view error) {
    JsonObject document;
    SetString(document, "finished", kind);
    SetArray(document, listName, list);
    if (!error.empty())
        SetString(document, "error", error);
    return Serialize(document);
}

} // namespace

std::string ScanReportText(const ProblemList& problems, CUserNameCache& users) {
    JsonObjectArray list;
    for (size_t position = 0; position < problems.size(); ++position)
        list.Add(ProblemObject(problems[position], position, users, UserNamePlace::BeforeKeyPath));
    return ReportText("scan", "problems", list, {});
}

std::string FailedScanReportText(std::string_view error) {
    return ReportText("scan", "problems", JsonObjectArray(), error);
}

JsonObject FixResultObject(const ProblemRecord& record, size_t id, CUserNameCache& users,
                           bool fixed) {
    JsonObject result = ProblemObject(record, id, users, UserNamePlace::AfterKeyPath);
    SetString(result, "fixed", fixed ? "true" : "false");
    return result;
}

std::string FixReportText(const JsonObjectArray& fixes, std::string_view error) {
    return ReportText("fix", "fixes", fixes, error);
}

std::string FailedFixReportText(std::string_view error) {
    return FixReportText(JsonObjectArray(), error);
}
