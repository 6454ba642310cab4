#include "report/emit_report.h"

#include "engine/hivemender.h"
#include "report/json_writer.h"

void EmitReport(CHivemender& engine, const std::string& reportText) {
    const WideText wide = ReportToWide(reportText);
    if (engine.m_pfnResult != nullptr)
        engine.m_pfnResult(wide.c_str());
}
