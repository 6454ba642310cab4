// The engine frame's diagnostic log: lines go, unformatted, to the optional
// companion library Nimbtrace.dll, which formats and stores them. It is
// loaded only from where it is shipped (base/shipped_library.h).
#pragma once

#include <windows.h>

#include <cstdarg>

// Levels the engine frame writes at.
constexpr int kLogError = 128;     // a failure of the engine frame
constexpr int kLogFailedCheck = 1; // an internal expectation that did not hold

// What Nimbtrace.dll exports as "OutputA". Its result carries nothing we use.
typedef int(__cdecl* NimbtraceOutputFn)(int level, const char* modulePath, const char* file,
                                        const char* function, int line, const char* timestamp,
                                        const char* format, va_list args);

// Hands one line to the companion library. Never fails, never throws, and
// leaves GetLastError as it found it. `timestamp` is the caller's build time
// stamp (__TIMESTAMP__); `file` is the caller's source name.
void Log(int level, const char* file, const char* function, int line, const char* timestamp,
         const char* format, ...);
