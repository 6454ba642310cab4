// A table or value the engine builds on first use and keeps for the process
// (the system folders, the search directories, a function looked up in a
// system library): the one way the engine builds such things.
//
// Built without a lock, on purpose. Stop terminates a worker that does not
// stop within two seconds, and a worker terminated while building would
// leave a mutex, or the guard of a function-local static, held for good:
// every later scan would wait on it. Here two threads that build at the same
// time each build a copy, the first to publish it wins and the other copy
// is thrown away, so a build must have no effect but its result. Declare the
// holder `static constinit`: it is then set up before any code runs, with no
// guard of its own.
//
//   const std::string& SystemFolder() {
//       static constinit Orvel::TBuiltOnce<std::string> folder;
//       return folder.Get([] { return ReadSystemFolder(); });
//   }
#pragma once

#include <atomic>
#include <memory>

namespace Orvel {

template <class T> class TBuiltOnce {
public:
    constexpr TBuiltOnce() = default;
    TBuiltOnce(const TBuiltOnce&) = delete;
    TBuiltOnce& operator=(const TBuiltOnce&) = delete;

    // The value, built by `build()` if no thread has published one yet. The
    // holder never frees what it published: a reader may hold it any time.
    template <class Build> const T& Get(Build build) {
        const T* value = m_value.load(std::memory_order_acquire);
        if (value != nullptr)
            return *value;
        auto fresh = std::make_unique<const T>(build());
        if (m_value.compare_exchange_strong(value, fresh.get(), std::memory_order_acq_rel))
            value = fresh.release();
        return *value;
    }

    // For tests that change the machine under the engine: the next Get
    // builds afresh. The caller receives the old value (or null) to keep
    // alive for as long as a reader may still hold it.
    std::unique_ptr<const T> Forget() {
        return std::unique_ptr<const T>(m_value.exchange(nullptr, std::memory_order_acq_rel));
    }

private:
    std::atomic<const T*> m_value{nullptr};
};

} // namespace Orvel
