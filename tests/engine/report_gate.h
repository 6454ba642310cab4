// A result callback that holds the engine's worker inside the report
// delivery until the test opens the gate: the one place where a host can
// keep a worker running on purpose. Waits in Sleep so that a terminated
// worker holds no lock.
#pragma once

#include "engine/cloud_plugin.h"

#include <windows.h>

#include <atomic>

namespace hmtest {

class ReportGate {
public:
    // Closes the gate; a worker that reports waits up to `holdMs`.
    static void Close(DWORD holdMs) {
        s_open = false;
        s_entered = 0;
        s_left = 0;
        s_holdMs = holdMs;
    }
    static void Open() { s_open = true; }
    static int Entered() { return s_entered; }
    static int Left() { return s_left; }

    // Polls until a worker is inside the callback; false after `limitMs`.
    static bool WaitUntilEntered(DWORD limitMs = 10000) {
        for (DWORD waited = 0; s_entered == 0; waited += 5) {
            if (waited >= limitMs)
                return false;
            Sleep(5);
        }
        return true;
    }

    static void __stdcall Callback(const WCHAR*) {
        ++s_entered;
        for (DWORD waited = 0; !s_open && waited < s_holdMs; waited += 5)
            Sleep(5);
        ++s_left;
    }

private:
    static inline std::atomic<bool> s_open{true};
    static inline std::atomic<int> s_entered{0};
    static inline std::atomic<int> s_left{0};
    static inline std::atomic<DWORD> s_holdMs{0};
};

} // namespace hmtest
