#include "tests/fix/pellwatch_double.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace {

std::mutex g_lock;
std::vector<PellwatchCall> g_calls;

} // namespace

extern "C" {

__declspec(dllexport) int __cdecl UpdateFixedProblems(int kind, StatusSummary* summary) {
    PellwatchCall call{};
    call.kind = kind;
    if (summary != nullptr)
        std::memcpy(call.summary, summary, sizeof(call.summary));
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.push_back(call);
    return 1;
}

__declspec(dllexport) int __cdecl PellwatchDoubleCount(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    return static_cast<int>(g_calls.size());
}

__declspec(dllexport) int __cdecl PellwatchDoubleCall(int index, PellwatchCall* out) {
    std::lock_guard<std::mutex> hold(g_lock);
    if (index < 0 || index >= static_cast<int>(g_calls.size()))
        return 0;
    *out = g_calls[static_cast<size_t>(index)];
    return 1;
}

__declspec(dllexport) void __cdecl PellwatchDoubleReset(void) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_calls.clear();
}

} // extern "C"
