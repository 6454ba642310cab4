// The fix engine: repairs the problems a fix request selects.
#pragma once

#include <string>

struct CEngineState;
class JsonObject;

// Repairs the entries of the last scan's problem list that the engine's
// request selects, saving their old state into a new undo file first,
// tells the status library how many were fixed, and returns the report for
// the host.
std::string RunFix(CEngineState& engine);

// Whether the request names problem `index` by its decimal text with the
// value "fix" in any letter case.
bool IsSelectedForFix(const JsonObject& request, size_t index);
