// The test double of the debug library Nimbtrace.dll: records every OutputA
// call so tests can see exactly what the engine's log sink passed on.
#pragma once

#include <windows.h>

struct NimbtraceCall {
    int level;
    int line;
    char modulePath[MAX_PATH];
    char file[MAX_PATH];
    char function[256];
    char timestamp[64];
    char format[256];
    char message[1024]; // format applied to the arguments
};

// Exports of the double, looked up by the tests with GetProcAddress.
typedef int(__cdecl* NimbtraceCountFn)(void);
typedef int(__cdecl* NimbtraceCallAtFn)(int index, NimbtraceCall* out);
typedef void(__cdecl* NimbtraceResetFn)(void);
