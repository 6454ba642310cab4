#include "fix/pending_report_calls.h"

#include "engine/hivemender.h"
#include "report/json_writer.h"

void EmitReport(CHivemender& engine, const std::string& reportText) {
    WideText wide = ReportToWide(reportText);
    if (engine.m_pfnResult != nullptr)
        engine.m_pfnResult(wide.c_str());
}

std::string GetUserNameForKeyPath(CHivemender&, const std::string&) {
    return {};
}
