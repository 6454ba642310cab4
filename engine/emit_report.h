// Handing a finished report to the host.
#pragma once

#include "engine/cloud_plugin.h"

#include <string>

// Converts the report to UTF-16 and calls the host's result callback once,
// on the calling (worker) thread; the text it receives lives only for the
// call. Without a callback the report is dropped.
void EmitReport(ICloudPlugin& plugin, const std::string& reportText);
