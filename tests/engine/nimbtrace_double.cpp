// Built twice: with OutputA (the normal double) and without it (a library
// of that name that offers nothing to log to).
#include "base/debug_log.h"
#include "tests/engine/nimbtrace_double.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::mutex g_lock;
std::vector<NimbtraceCall> g_calls;

[[maybe_unused]] void Copy(char* target, size_t size, const char* text) {
    std::snprintf(target, size, "%s", text != nullptr ? text : "(null)");
}

} // namespace

extern "C" {

#ifdef NIMBTRACE_WITH_OUTPUT
__declspec(dllexport) int __cdecl OutputA(int level, const char* modulePath, const char* file,
                                          const char* function, int line, const char* timestamp,
                                          const char* format, va_list args) {
    NimbtraceCall call{};
    call.level = level;
    call.line = line;
    Copy(call.modulePath, sizeof(call.modulePath), modulePath);
    Copy(call.file, sizeof(call.file), file);
    Copy(call.function, sizeof(call.function), function);
    Copy(call.timestamp, sizeof(call.timestamp), timestamp);
    Copy(call.format, sizeof(call.format), format);
    std::vsnprintf(call.message, sizeof(call.message), format, args);
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.push_back(call);
    return 1;
}
#endif

__declspec(dllexport) int __cdecl NimbtraceDoubleCount(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    return static_cast<int>(g_calls.size());
}

__declspec(dllexport) int __cdecl NimbtraceDoubleCall(int index, NimbtraceCall* out) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (index < 0 || index >= static_cast<int>(g_calls.size()))
        return 0;
    *out = g_calls[static_cast<size_t>(index)];
    return 1;
}

__declspec(dllexport) void __cdecl NimbtraceDoubleReset(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.clear();
}

} // extern "C"
