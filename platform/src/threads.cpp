// Threads, waits and the generic CloseHandle.
//
// A thread handle names a ThreadState shared between the handle table and the
// running thread, so closing the handle while the thread runs (or the thread
// closing its own handle) leaves the thread alone, as on Windows. The value
// is recycled by the next handle created, which is how a stale copy ends up
// waiting on an unrelated object.
//
// A thread's handle is signalled when the thread is gone: its routine has
// returned, or it has left through FreeLibraryAndExitThread. That function
// jumps straight back to the stand-in's own frame at the bottom of the thread
// (running no destructors of the frames it leaves, as ExitThread does not),
// and only there drops the module reference, so the caller's code may be
// unmapped the moment the reference is gone.
//
// TerminateThread cannot stop a host thread. On Windows it is asynchronous
// too: the thread ends some time after the call, and a wait on its handle is
// the only way to know it has. The stand-in keeps that contract and stretches
// the "some time": the thread is marked terminated with the given exit code
// (which its routine's own return no longer changes), and its handle is
// signalled only once the host thread has really left its routine. So a
// caller that waits after terminating never frees what the stray thread
// still uses; it waits as long as the stray takes to get back to us.
#include "handles.h"

#include <atomic>
#include <chrono>
#include <csetjmp>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include <pthread.h>

namespace {

using win32sim::detail::KernelObject;

class ThreadState : public KernelObject {
public:
    explicit ThreadState(DWORD id) : m_id(id) {}
    ~ThreadState() override {
        // The last reference may be the thread's own, as it ends.
        if (m_host.joinable())
            m_host.detach();
    }

    // The host thread running the routine, joined by the first wait that
    // sees the routine done.
    void Adopt(std::thread host) { m_host = std::move(host); }

    DWORD Id() const { return m_id; }

    // The host thread has left: signals the handle. A code given earlier by
    // TerminateThread stays.
    void Finish(DWORD exitCode) {
        {
            std::lock_guard lock(m_mutex);
            if (!m_terminated)
                m_exitCode = exitCode;
            m_finished = true;
        }
        m_changed.notify_all();
    }

    // Fixes the exit code; the handle is signalled when the thread has left.
    void Terminate(DWORD exitCode) {
        std::lock_guard lock(m_mutex);
        if (m_finished || m_terminated)
            return;
        m_terminated = true;
        m_exitCode = exitCode;
    }

    // True once the thread is gone: its routine is done and the host thread
    // has ended too, thread-local storage freed and all, so that a caller may
    // unload what that thread ran or end the process.
    bool WaitFinished(DWORD milliseconds) {
        if (!WaitRoutineDone(milliseconds))
            return false;
        std::lock_guard lock(m_joinMutex);
        if (m_host.joinable())
            m_host.join();
        return true;
    }

    bool WaitRoutineDone(DWORD milliseconds) {
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
    bool m_terminated = false;
    std::mutex m_joinMutex;
    std::thread m_host;
    DWORD m_exitCode = STILL_ACTIVE;
};

// Thread ids are multiples of 4, as on Windows; never 0.
std::atomic<DWORD> g_nextThreadId{0x100};
thread_local DWORD t_threadId = 0;

// Where FreeLibraryAndExitThread leaves to: the bottom frame of a thread made
// by CreateThread (null on every other thread), and what it leaves with.
thread_local std::jmp_buf* t_exitTarget = nullptr;
thread_local DWORD t_exitCode = 0;
thread_local HMODULE t_moduleToFree = nullptr;

DWORD NewThreadId() {
    return g_nextThreadId.fetch_add(4);
}

// The routine's exit code, whether it returns or leaves through
// FreeLibraryAndExitThread.
DWORD RunRoutine(LPTHREAD_START_ROUTINE start, LPVOID parameter) {
    std::jmp_buf exitTarget;
    t_exitTarget = &exitTarget;
    if (setjmp(exitTarget) != 0)
        return t_exitCode;
    return start(parameter);
}

// The bottom frame of every thread CreateThread makes.
void RunThread(const std::shared_ptr<ThreadState>& state, LPTHREAD_START_ROUTINE start,
               LPVOID parameter) {
    t_threadId = state->Id();
    const DWORD exitCode = RunRoutine(start, parameter);
    t_exitTarget = nullptr;
    if (t_moduleToFree != nullptr)
        FreeLibrary(std::exchange(t_moduleToFree, nullptr));
    state->Finish(exitCode);
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
        state->Adopt(std::thread(RunThread, state, lpStartAddress, lpParameter));
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
    thread->Terminate(dwExitCode);
    return TRUE;
}

void WINAPI FreeLibraryAndExitThread(HMODULE hLibModule, DWORD dwExitCode) {
    if (t_exitTarget != nullptr) {
        t_moduleToFree = hLibModule;
        t_exitCode = dwExitCode;
        std::longjmp(*t_exitTarget, 1);
    }
    // A thread the stand-in did not make has no frame of ours to return to.
    FreeLibrary(hLibModule);
    pthread_exit(nullptr);
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
