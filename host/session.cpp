#include "host/session.h"

#include "base/text.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace host {
namespace {

// The callback is a plain function pointer, so the report it brings lands
// in process-wide state; a host runs one request at a time.
std::mutex g_mutex;
std::condition_variable g_arrived;
bool g_hasReport = false;
std::string g_report;

void __stdcall ReceiveReport(const WCHAR* report) {
    std::string text = Utf8FromWide(report);
    std::lock_guard lock(g_mutex);
    g_report = std::move(text);
    g_hasReport = true;
    g_arrived.notify_all();
}

constexpr HRESULT kWorkerAlreadyRunning = static_cast<HRESULT>(0x80070501);

} // namespace

void NotePhase(const char* name) {
    static const bool enabled = std::getenv("HM_PHASE_TIMES") != nullptr;
    static std::clock_t last = 0;
    if (!enabled)
        return;
    const std::clock_t now = std::clock();
    std::fprintf(stderr, "phase %s %.3f\n", name, static_cast<double>(now - last) / CLOCKS_PER_SEC);
    last = now;
}

std::string StartRefusal(HRESULT started) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(started));
    return std::string("the engine refused the request (") + code + ")";
}

// Both as Windows converts: a lone surrogate, or bytes that are no UTF-8,
// become U+FFFD. ASCII, nearly all of a report of many problems, is the
// same in UTF-8 and is copied as it stands; each run of other characters is
// converted on its own, which changes nothing, as no surrogate is ASCII.
std::string Utf8FromWide(const WCHAR* text) {
    std::string utf8;
    for (const WCHAR* at = text; at != nullptr && *at != 0;) {
        for (; *at != 0 && *at < 0x80; ++at)
            utf8 += static_cast<char>(*at);
        const WCHAR* other = at;
        while (*at >= 0x80)
            ++at;
        if (at != other)
            utf8 += base::FromWide(CP_UTF8, base::WideView(other, static_cast<size_t>(at - other)));
    }
    return utf8;
}

base::WideText WideFromUtf8(const std::string& text) {
    return base::ToWide(CP_UTF8, text);
}

Session::Session(GetPluginEngineFn entry) : m_engine(entry()) {
    if (m_engine)
        m_engine->m_pfnResult = &ReceiveReport;
}

Session::~Session() {
    if (m_engine)
        m_engine->Destroy();
}

// The report arrives from inside the worker, which still has to let go of
// its thread handle afterwards; a request that follows at once may find it
// not quite gone. Stop would end it but also cancel the next fix, so wait.
HRESULT Session::StartWhenIdle(int mode, const WCHAR* request) {
    HRESULT result = m_engine->Start(mode, request);
    for (int attempt = 0; result == kWorkerAlreadyRunning && attempt < 500; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        result = m_engine->Start(mode, request);
    }
    return result;
}

Session::Outcome Session::Run(int mode, const std::string& request,
                              const std::atomic<bool>& interrupt, void (*onTick)(double),
                              std::string* report, HRESULT* startResult) {
    {
        std::lock_guard lock(g_mutex);
        g_hasReport = false;
        g_report.clear();
    }
    const std::basic_string<WCHAR> wide = WideFromUtf8(request);
    *startResult = StartWhenIdle(mode, wide.c_str());
    if (FAILED(*startResult))
        return Outcome::StartFailed;
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock lock(g_mutex);
    while (!g_hasReport) {
        if (interrupt) {
            lock.unlock();
            m_engine->Stop();
            return Outcome::Interrupted;
        }
        g_arrived.wait_for(lock, std::chrono::milliseconds(100));
        if (onTick) {
            const std::chrono::duration<double> elapsed =
                std::chrono::steady_clock::now() - started;
            onTick(elapsed.count());
        }
    }
    *report = std::move(g_report);
    return Outcome::Report;
}

} // namespace host
