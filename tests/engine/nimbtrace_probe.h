// Reads what the Nimbtrace double recorded, through its exports.
#pragma once

#include "tests/engine/nimbtrace_double.h"

#include <windows.h>

#include <string>
#include <vector>

namespace hmtest {

class NimbtraceProbe {
public:
    static HMODULE Module() { return GetModuleHandleA("Nimbtrace.dll"); }

    static std::vector<NimbtraceCall> Calls() {
        std::vector<NimbtraceCall> calls;
        auto count = Lookup<NimbtraceCountFn>("NimbtraceDoubleCount");
        auto at = Lookup<NimbtraceCallAtFn>("NimbtraceDoubleCall");
        if (count == nullptr || at == nullptr)
            return calls;
        calls.resize(static_cast<size_t>(count()));
        for (size_t i = 0; i < calls.size(); ++i)
            at(static_cast<int>(i), &calls[i]);
        return calls;
    }

    static void Reset() {
        if (auto reset = Lookup<NimbtraceResetFn>("NimbtraceDoubleReset"))
            reset();
    }

private:
    template <class Fn> static Fn Lookup(const char* name) {
        HMODULE module = Module();
        if (module == nullptr)
            return nullptr;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
};

// __TIMESTAMP__'s shape: "Sun Dec  6 09:08:51 2026".
bool LooksLikeBuildTimestamp(const std::string& text);

} // namespace hmtest
