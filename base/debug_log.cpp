#include "base/debug_log.h"

#include "base/built_once.h"
#include "base/common_library.h"
#include "base/shipped_library.h"

#include <atomic>
#include <string>

namespace {

// Process-wide sink state. The load and the lookup are each tried once per
// process; two threads racing through them only repeat a harmless call with
// the same result, so atomics suffice and no lock is taken.
std::atomic<HMODULE> g_hNimbtrace{nullptr};
std::atomic<bool> g_bLoadTried{false};
std::atomic<void*> g_pOutputA{nullptr}; // a NimbtraceOutputFn
std::atomic<bool> g_bLookupTried{false};

constexpr char kLibraryName[] = "Nimbtrace.dll";

std::string ThisModulePath() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(EngineModule(), path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : MAX_PATH - 1);
}

HMODULE LoadedLibrary() {
    if (!g_bLoadTried.exchange(true))
        g_hNimbtrace = LoadShippedLibrary(kLibraryName);
    HMODULE library = g_hNimbtrace;
    if (library == nullptr)
        return nullptr;
    // Someone may have unloaded it behind our back; then the sink is off.
    if (GetModuleHandleA(kLibraryName) == nullptr) {
        g_hNimbtrace = nullptr;
        return nullptr;
    }
    return library;
}

NimbtraceOutputFn OutputFunction(HMODULE library) {
    if (!g_bLookupTried.exchange(true))
        g_pOutputA = reinterpret_cast<void*>(GetProcAddress(library, "OutputA"));
    return reinterpret_cast<NimbtraceOutputFn>(g_pOutputA.load());
}

void Forward(int level, const char* file, const char* function, int line, const char* timestamp,
             const char* format, va_list args) {
    HMODULE library = LoadedLibrary();
    if (library == nullptr)
        return;
    NimbtraceOutputFn output = OutputFunction(library);
    if (output == nullptr)
        return;
    static constinit Orvel::TBuiltOnce<std::string> modulePath;
    output(level, modulePath.Get(ThisModulePath).c_str(), file, function, line, timestamp, format,
           args);
}

} // namespace

void Log(int level, const char* file, const char* function, int line, const char* timestamp,
         const char* format, ...) {
    const DWORD lastError = GetLastError();
    va_list args;
    va_start(args, format);
    try {
        Forward(level, file, function, line, timestamp, format, args);
    } catch (...) {
        // A log call never fails its caller.
    }
    va_end(args);
    SetLastError(lastError);
}
