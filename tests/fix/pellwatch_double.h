// The test double of the status library Pellwatch.dll: records every
// UpdateFixedProblems call with the bytes of the summary it was given.
#pragma once

#include "fix/status_library.h"

#include <windows.h>

struct PellwatchCall {
    int kind;
    unsigned char summary[sizeof(StatusSummary)];
};

// Exports of the double, looked up by the tests with GetProcAddress.
typedef int(__cdecl* PellwatchCountFn)(void);
typedef int(__cdecl* PellwatchCallAtFn)(int index, PellwatchCall* out);
typedef void(__cdecl* PellwatchResetFn)(void);
