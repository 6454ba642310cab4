// The worker's thread handle, and whether the worker has finished.
//
// Exactly one party may close a thread handle. A worker that closed its own
// while the host thread waited on a copy of the value would leave that wait
// on whatever object Win32 hands the value to next. So the host thread alone
// holds, waits on and closes the handle (in Start, Stop and Destroy, which a
// host calls from one thread), and the worker says only that it has finished:
// MarkFinished is its last touch of the engine, after which it leaves through
// FreeLibraryAndExitThread, giving back its reference on the plug-in.
//
// To the host a finished worker is gone: Stop answers S_FALSE and Start is
// accepted. But the thread may still be on its way out of the plug-in's
// code, so whoever next takes the handle waits for the thread itself to end
// before the engine is freed or a new worker starts; that wait is short,
// because the worker has nothing left to do.
#pragma once

#include "base/owned_handle.h"

#include <windows.h>

#include <atomic>

class CWorkerThreadSlot {
public:
    // A worker is running and has not finished.
    bool IsRunning() const noexcept { return m_thread.IsSet() && !HasFinished(); }
    bool HasFinished() const noexcept { return m_finished.load(); }

    // Host thread, before CreateThread: the new worker has not finished.
    void PrepareStart() noexcept { m_finished.store(false); }
    // Host thread: keeps the new worker's handle.
    void Hold(HANDLE thread) noexcept { m_thread = thread; }
    // Host thread: the worker's handle, now the caller's; empty when none.
    Orvel::THandle Take() noexcept { return std::move(m_thread); }

    // Worker thread, as its last access to the engine.
    void MarkFinished() noexcept { m_finished.store(true); }

private:
    Orvel::THandle m_thread;
    std::atomic<bool> m_finished{true};
};
