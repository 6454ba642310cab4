// Drives one engine through its interface, the way any host does: create it,
// set the result callback, start a request, wait for the report, destroy it.
#pragma once

#include "engine/cloud_plugin.h"

#include <atomic>
#include <string>

namespace host {

class Session {
public:
    explicit Session(GetPluginEngineFn entry);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    bool Valid() const { return m_engine != nullptr; }

    enum class Outcome { Report, Interrupted, StartFailed };

    // Starts `mode` with the request (UTF-8 JSON) and waits for the report
    // (UTF-8). While waiting, `interrupt` being raised stops the engine.
    // `onTick` is called about every 100 ms with the elapsed seconds.
    Outcome Run(int mode, const std::string& request, const std::atomic<bool>& interrupt,
                void (*onTick)(double seconds), std::string* report, HRESULT* startResult);

private:
    HRESULT StartWhenIdle(int mode, const WCHAR* request);

    ICloudPlugin* m_engine;
};

// For benchmarks: with HM_PHASE_TIMES set, each call prints to stderr the
// processor seconds the process spent since the call before ("phase NAME
// SECONDS"), so the engine's own work can be told from the host's around it.
// (std::clock: processor time on Linux; on Windows it counts wall time.)
void NotePhase(const char* name);

// "the engine refused the request (0x80070501)" for a Start that failed.
std::string StartRefusal(HRESULT started);

// UTF-16 <-> UTF-8 for text crossing the plug-in boundary.
std::string Utf8FromWide(const WCHAR* text);
std::basic_string<WCHAR> WideFromUtf8(const std::string& text);

} // namespace host
