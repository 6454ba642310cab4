#include "support/conformance.h"

#include <atomic>

// The engine runs its scan on one worker thread, waits for it with a
// timeout, and terminates it only when it ignores its stop flag.
namespace {

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<DWORD> seenId{0};
    std::atomic<HANDLE> ownHandle{nullptr};
    std::atomic<BOOL> closedOwn{FALSE};
    std::atomic<bool> done{false};
};

DWORD WINAPI WaitForGate(LPVOID parameter) {
    auto* gate = static_cast<Gate*>(parameter);
    gate->seenId = GetCurrentThreadId();
    while (!gate->open)
        Sleep(1);
    return 11;
}

// Closes its own handle as soon as it knows the value, then ends.
DWORD WINAPI CloseOwnHandle(LPVOID parameter) {
    auto* gate = static_cast<Gate*>(parameter);
    HANDLE own;
    while ((own = gate->ownHandle.load()) == nullptr)
        Sleep(1);
    gate->closedOwn = CloseHandle(own);
    gate->done = true;
    return 0;
}

// A worker that never looks at a stop flag; only the gate lets it go. It is
// static so a worker that outlives its test still finds it.
std::atomic<bool> g_releaseStubborn{false};
DWORD WINAPI IgnoreStop(LPVOID) {
    while (!g_releaseStubborn)
        Sleep(1);
    return 0;
}

} // namespace

TEST(Threads, WaitsTimeOutWhileRunningAndSucceedAfter) {
    Gate gate;
    SetLastError(0xdeadbeef);
    HANDLE thread = CreateThread(nullptr, 0, WaitForGate, &gate, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 20));
    gate.open = true;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 0)) << "stays signalled";
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, ClosingTheHandleLeavesTheThreadRunning) {
    Gate gate;
    HANDLE thread = CreateThread(nullptr, 0, WaitForGate, &gate, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_TRUE(CloseHandle(thread));
    gate.open = true;
    while (gate.seenId == 0)
        Sleep(1);
    Sleep(20); // let it leave before `gate` goes out of scope
}

TEST(Threads, BadHandles) {
    Gate gate;
    gate.open = true;
    HANDLE thread = CreateThread(nullptr, 0, WaitForGate, &gate, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    ASSERT_TRUE(CloseHandle(thread));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle(thread)) << "second close";
    EXPECT_EQ(unsigned(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(thread, 0));
    EXPECT_EQ(unsigned(ERROR_INVALID_HANDLE), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(unsigned(ERROR_INVALID_HANDLE), GetLastError());
}

// Termination is asynchronous: the handle is signalled once the thread is
// gone (the stand-in's host thread leaves when its routine returns, hence the
// release), and the exit code is the one given, not the routine's.
TEST(Threads, TerminatedThreadEndsWithTheGivenCode) {
    g_releaseStubborn = false;
    HANDLE thread = CreateThread(nullptr, 0, IgnoreStop, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 10));
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(TerminateThread(thread, 42));
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    g_releaseStubborn = true;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    EXPECT_TRUE(CloseHandle(thread));
}

// The hazard behind "exactly one closer": a worker closes its own handle,
// the value goes to the next handle created, and a wait on the stale copy
// waits on that new object instead.
TEST(Threads, AClosedHandleValueIsRecycled) {
    Gate closer;
    HANDLE first = CreateThread(nullptr, 0, CloseOwnHandle, &closer, 0, nullptr);
    ASSERT_NE(nullptr, first);
    closer.ownHandle = first;
    while (!closer.done)
        Sleep(1);
    EXPECT_TRUE(closer.closedOwn.load());
    Sleep(20); // the worker is leaving its routine

    Gate blocker;
    HANDLE second = CreateThread(nullptr, 0, WaitForGate, &blocker, 0, nullptr);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(first, second) << "the next handle reuses the freed value";
    if (first == second) {
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(first, 20))
            << "the stale copy names the new thread";
    }
    blocker.open = true;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(second, 5000));
    EXPECT_TRUE(CloseHandle(second));
}
