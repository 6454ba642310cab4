#include "engine/scan_report.h"

#include "engine/emit_report.h"
#include "engine/hivemender.h"
#include "report/json_writer.h"
#include "report/user_profiles.h"

namespace {

// The insertion order matters beyond the table's buckets: "user name" must go
// in before "new value", which shares its bucket, for hosts to find them in
// the order they expect.
JsonObject ProblemObject(CEngineState& engine, const ProblemRecord& record, size_t position) {
    JsonObject problem;
    SetInt64(problem, "id", static_cast<LONGLONG>(position));
    SetInt64(problem, "section", static_cast<LONGLONG>(static_cast<DWORD>(record.section)));
    const std::string userName = GetUserNameForKeyPath(engine, record.keyPath);
    if (!userName.empty())
        SetString(problem, "user name", userName);
    SetString(problem, "key path", record.keyPath);
    if (!record.valueName.empty()) {
        SetString(problem, "value name", record.valueName);
        if (!record.newValue.empty())
            SetString(problem, "new value", record.newValue);
    }
    return problem;
}

} // namespace

std::string ScanReportText(CEngineState& engine) {
    JsonObjectArray problems;
    for (size_t position = 0; position < engine.m_problems.size(); ++position)
        problems.Add(ProblemObject(engine, engine.m_problems[position], position));
    JsonObject document;
    SetString(document, "finished", "scan");
    SetArray(document, "problems", problems);
    return Serialize(document);
}

void BuildScanReport(CHivemender& engine) {
    EmitReport(engine, ScanReportText(engine));
}
