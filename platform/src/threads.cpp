// Threads, waits and the generic CloseHandle.
//
// A thread handle names a ThreadState shared between the handle table and the
// running thread, so closing the handle while the thread runs (or the thread
// closing its own handle) leaves the thread alone, as on Windows. The value
// is recycled by the next handle created, which is how a stale copy ends up
// waiting on an unrelated object.
//
// TerminateThread cannot stop a host thread: the state is marked finished
// with the given exit code, so waits and GetExitCodeThread answer at once,
// and the host thread runs on (detached) until its routine returns. The
// engine only terminates a worker that has ignored its stop flag for seconds,
// so the difference is confined to what that stray worker still does.
#include "handles.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using win32sim::detail::KernelObject;

class ThreadState : public KernelObject {
public:
    explicit ThreadState(DWORD id) : m_id(id) {}

    DWORD Id() const { return m_id; }

    // Records the exit code unless the thread already counts as finished
    // (the routine returning after a TerminateThread changes nothing).
    void Finish(DWORD exitCode) {
        {
            std::lock_guard lock(m_mutex);
            if (m_finished)
                return;
            m_finished = true;
            m_exitCode = exitCode;
        }
        m_changed.notify_all();
    }

    bool WaitFinished(DWORD milliseconds) {
        std::unique_lock lock(m_mutex);
        if (milliseconds == INFINITE) {
            m_changed.wait(lock, [this] { return m_finished; });
            return true;
        }
        return m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [this] { return m_finished; });
    }

    DWORD ExitCode() {
        std::lock_guard lock(m_mutex);
        return m_exitCode;
    }

private:
    const DWORD m_id;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_finished = false;
    DWORD m_exitCode = STILL_ACTIVE;
};

// Thread ids are multiples of 4, as on Windows; never 0.
std::atomic<DWORD> g_nextThreadId{0x100};
thread_local DWORD t_threadId = 0;

DWORD NewThreadId() {
    return g_nextThreadId.fetch_add(4);
}

bool IsPseudoHandle(HANDLE handle) {
    const auto value = reinterpret_cast<LONG_PTR>(handle);
    return value == -1 || value == -2; // GetCurrentProcess(), GetCurrentThread()
}

} // namespace

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId) {
    (void)lpThreadAttributes;
    (void)dwStackSize;
    if (!lpStartAddress || dwCreationFlags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto state = std::make_shared<ThreadState>(NewThreadId());
    HANDLE handle = win32sim::detail::InsertHandle(state);
    try {
        std::thread([state, lpStartAddress, lpParameter] {
            t_threadId = state->Id();
            state->Finish(lpStartAddress(lpParameter));
        }).detach();
    } catch (const std::system_error&) {
        win32sim::detail::RemoveHandle(handle);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId)
        *lpThreadId = state->Id();
    return handle;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    auto thread = win32sim::detail::LookupHandleAs<ThreadState>(hHandle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return thread->WaitFinished(dwMilliseconds) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
}

BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    auto thread = win32sim::detail::LookupHandleAs<ThreadState>(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    thread->Finish(dwExitCode);
    return TRUE;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    auto thread = win32sim::detail::LookupHandleAs<ThreadState>(hThread);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = thread->ExitCode();
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (IsPseudoHandle(hObject))
        return TRUE;
    return win32sim::detail::RemoveHandle(hObject) ? TRUE : FALSE;
}

DWORD WINAPI GetCurrentThreadId(void) {
    if (t_threadId == 0)
        t_threadId = NewThreadId();
    return t_threadId;
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}

} // extern "C"
