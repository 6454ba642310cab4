// The worker's thread handle, shared between the host thread and the worker.
//
// Both ends want to close it: the worker when it finishes (so that a later
// Start is accepted without a Stop), and Stop after waiting for the worker.
// Two closers would close one handle twice, and because Win32 hands a closed
// handle's value to the next handle created, a Stop that waits on a value the
// worker has just closed may silently wait on some unrelated object.
//
// So the handle has exactly one owner at any moment, and ownership moves by
// atomic exchange:
//   - Start marks the slot "starting" before CreateThread and then swaps the
//     new handle in for the mark. A worker that ends before that swap finds
//     only the mark, takes it, and leaves the handle to Start, whose swap then
//     fails; Start closes the handle itself.
//   - The worker's last act is to take whatever the slot holds. It closes a
//     real handle and touches the engine no more, so a Destroy that follows
//     is safe.
//   - Stop takes the handle before it waits. It then owns it: it waits on a
//     handle nobody else can close, and closes it afterwards. The worker,
//     finding the slot empty, closes nothing.
#pragma once

#include <windows.h>

#include <atomic>

class CWorkerThreadSlot {
public:
    // No worker is running and none is being started.
    bool IsEmpty() const noexcept { return m_h.load() == nullptr; }

    // Host thread, before CreateThread.
    void MarkStarting() noexcept { m_h.store(StartingMark()); }
    // Host thread, when CreateThread failed.
    void ClearStarting() noexcept { m_h.store(nullptr); }

    // Host thread: stores the new worker's handle. Returns null when the slot
    // now owns it, or the handle itself when the worker has already ended and
    // the caller must close it.
    HANDLE Publish(HANDLE thread) noexcept {
        HANDLE expected = StartingMark();
        return m_h.compare_exchange_strong(expected, thread) ? nullptr : thread;
    }

    // Host thread (Stop): the running worker's handle, now owned by the
    // caller, or null when there is none.
    HANDLE TakeForStop() noexcept {
        HANDLE current = m_h.load();
        while (current != nullptr && current != StartingMark()) {
            if (m_h.compare_exchange_weak(current, nullptr))
                return current;
        }
        return nullptr;
    }

    // Worker thread, as its last access to the engine: the handle to close,
    // or null when Stop or Start already owns it.
    HANDLE TakeAtExit() noexcept {
        HANDLE taken = m_h.exchange(nullptr);
        return taken == StartingMark() ? nullptr : taken;
    }

private:
    static HANDLE StartingMark() noexcept {
        // An address of ours is never a handle value.
        static const char mark = 0;
        return const_cast<char*>(&mark);
    }

    std::atomic<HANDLE> m_h{nullptr};
};
