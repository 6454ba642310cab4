#include "engine/emit_report.h"

#include "report/json_writer.h"

void EmitReport(ICloudPlugin& plugin, const std::string& reportText) {
    const WideText wide = ReportToWide(reportText);
    if (plugin.m_pfnResult != nullptr)
        plugin.m_pfnResult(wide.c_str());
}
