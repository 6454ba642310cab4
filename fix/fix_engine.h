// The fix engine: repairs the problems a fix request selects.
#pragma once

#include <string>

class CHivemender;
class JsonObject;

// Repairs the entries of the last scan's problem list that the engine's
// request selects, saving their old state into a new undo file first,
// tells the status library how many were fixed, and reports to the host.
void RunFix(CHivemender& engine);

// Whether the request names problem `index` by its decimal text with the
// value "fix" in any letter case.
bool IsSelectedForFix(const JsonObject& request, size_t index);
