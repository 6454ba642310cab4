// The page's engine: one thread owns the plug-in and its Session, and every
// engine call and every change to the machine happens on it, one at a time.
// The HTTP handlers hand it work and wait; work that arrives while it is
// busy is refused ("busy"), never queued behind a fix or an undo.
#pragma once

#include "host/platform.h"
#include "host/report_format.h"
#include "host/session.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace host {

class UiWorker {
public:
    // Loads the plug-in on the worker thread; `error` is set when it fails.
    // `machine` names the machine whose lock each change takes.
    UiWorker(std::string pluginPath, MachineOptions machine);
    ~UiWorker();
    UiWorker(const UiWorker&) = delete;
    UiWorker& operator=(const UiWorker&) = delete;

    struct Result {
        bool ok = false;
        bool busy = false;    // refused: another operation is running
        std::string text;     // on success: the operation's strict JSON; else the message
    };

    // Each runs on the worker and waits for it.
    Result Scan();
    Result Fix(long scanNumber, const std::vector<int>& ids);
    Result Explain(long scanNumber, int id);
    Result Backups();
    Result Restore(const std::string& fileName);
    Result Exclusions();
    Result ChangeExclusion(const std::string& keyPath, bool add);

    // Stops the engine's current request (the page's Stop, Ctrl-C).
    void Stop() { m_stop = true; }
    // What runs now ("" when idle) and for how long.
    std::string Activity(double* seconds) const;

private:
    using Work = std::function<Result(Session&)>;
    Result Submit(const char* activity, Work work);
    Result OnFreshMachine(Session& session, const char* command,
                          const std::function<Result(Session&)>& operation);
    Result RunEngine(Session& session, int mode, const std::string& request, std::string* report);
    void Loop();

    const std::string m_pluginPath;
    const MachineOptions m_machine;
    const bool m_force;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Work m_work;               // the accepted work, until the worker takes it
    const char* m_activity = nullptr;
    std::chrono::steady_clock::time_point m_started;
    bool m_hasResult = false;
    Result m_result;
    bool m_quit = false;

    // The last scan the page showed: fixes and explanations name its ids.
    long m_scanNumber = 0;
    Report m_seen;

    std::thread m_thread; // last: starts once everything above exists
};

} // namespace host
