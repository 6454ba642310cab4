#include "engine/hivemender.h"

#include "base/debug_log.h"
#include "base/common_library.h"
#include "base/resource_strings.h"
#include "base/text.h"
#include "engine/emit_report.h"
#include "engine/failure_report.h"
#include "fix/fix_engine.h"
#include "report/json_reader.h"
#include "report/problem_report.h"
#include "scanners/section_table.h"

#include <new>
#include <utility>

namespace {

constexpr char kLogFile[] = "CHivemender";
constexpr DWORD kStopWaitMs = 2000;
constexpr HRESULT kAlreadyRunning = static_cast<HRESULT>(0x80070501);

enum StartMode { ModeScan = 0, ModeFix = 1 };

HRESULT HResultFromCreateError(DWORD error) {
    return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

BSTR WidenToBstr(const std::string& text) {
    base::WideText wide;
    if (!base::ToWide(CP_THREAD_ACP, text, &wide))
        return nullptr;
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

void LogStartFailure(const char* call, DWORD error) {
    Log(kLogError, kLogFile, "CHivemender::Start", __LINE__, __TIMESTAMP__,
        "FAILED: %s - GetLastError = %lu", call, static_cast<unsigned long>(error));
}

// A reference on this module for a worker. A host may unload the plug-in
// as soon as Destroy returns, while the worker is still on its way out of
// our code; the reference keeps that code mapped until the worker is gone.
Orvel::TModuleHandle ReferenceOwnModule() {
    static const char anchor = 0;
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, &anchor, &module);
    return Orvel::TModuleHandle(module);
}

// Waits until a thread has ended. Used only where the thread has finished
// or been terminated, so the wait is short; a thread still inside the
// engine must not outlive it.
void WaitUntilGone(const Orvel::THandle& thread) {
    if (thread)
        WaitForSingleObject(thread.Get(), INFINITE);
}

} // namespace

CHivemender::CHivemender() : CHivemender(SectionScanTable()) {}

CHivemender::CHivemender(std::span<const SectionScan> sections) : CEngineState(sections) {}

CHivemender::~CHivemender() {
    Stop();
}

BSTR __stdcall CHivemender::GetDisplayName() {
    try {
        return WidenToBstr(Orvel::LoadStringA(IDS_DISPLAY_NAME, EngineModule()));
    } catch (...) {
        return nullptr;
    }
}

HRESULT __stdcall CHivemender::Start(int mode, const WCHAR* request) {
    try {
        return StartOrThrow(mode, request);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT CHivemender::StartOrThrow(int mode, const WCHAR* request) {
    if (m_hWorkerThread.IsRunning()) {
        Log(kLogError, kLogFile, "CHivemender::Start", __LINE__, __TIMESTAMP__, "ERROR: %s = %lu",
            "ERROR_ALREADY_THREAD", static_cast<unsigned long>(ERROR_ALREADY_THREAD));
        return kAlreadyRunning;
    }
    // The request is replaced even when the mode turns out to be invalid.
    m_request.RemoveAll();
    ParseRequest(RequestTextFromWide(request), m_request);
    if (mode != ModeScan && mode != ModeFix) {
        Log(kLogError, kLogFile, "CHivemender::Start", __LINE__, __TIMESTAMP__, "ERROR: %s = %lu",
            "ERROR_INVALID_PARAMETER", static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
        return E_INVALIDARG;
    }
    return StartWorker(mode);
}

HRESULT CHivemender::StartWorker(int mode) {
    // A worker that has finished may still be leaving our code.
    WaitUntilGone(m_hWorkerThread.Take());
    Orvel::TModuleHandle module = ReferenceOwnModule();
    if (!module) {
        const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_GEN_FAILURE;
        LogStartFailure("GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, ...)", error);
        return HResultFromCreateError(error);
    }
    // A scan starts from a lowered stop flag, lowered here rather than by the
    // worker so that a Stop right after this Start always counts. A fix keeps
    // the flag as it is: after a Stop it repairs nothing.
    const int stopBefore = mode == ModeScan ? m_bStop.exchange(0) : m_bStop.load();
    LPTHREAD_START_ROUTINE procedure = mode == ModeScan ? ScanOnThread : FixOnThread;
    DWORD dwThreadId = 0;
    m_hWorkerModule = module.Get();
    m_hWorkerThread.PrepareStart();
    HANDLE thread = CreateThread(nullptr, 0, procedure, this, 0, &dwThreadId);
    if (thread == nullptr) {
        DWORD error = GetLastError();
        m_bStop = stopBefore;
        if (error == 0)
            error = ERROR_GEN_FAILURE;
        LogStartFailure(
            mode == ModeScan
                ? "m_hWorkerThread = CreateThread(0, 0, ScanOnThread, this, 0, &dwThreadId)"
                : "m_hWorkerThread = CreateThread(0, 0, FixOnThread, this, 0, &dwThreadId)",
            error);
        return HResultFromCreateError(error);
    }
    // The worker gives the reference back as it leaves.
    module.Release();
    m_hWorkerThread.Hold(thread);
    return S_OK;
}

HRESULT __stdcall CHivemender::Stop() {
    Orvel::THandle thread = m_hWorkerThread.Take();
    if (!thread)
        return S_FALSE;
    if (m_hWorkerThread.HasFinished()) {
        WaitUntilGone(thread);
        return S_FALSE;
    }
    m_bStop = 1;
    if (WaitForSingleObject(thread.Get(), kStopWaitMs) == WAIT_TIMEOUT) {
        Log(kLogError, kLogFile, "CHivemender::Stop", __LINE__, __TIMESTAMP__,
            "The thread refused to stop");
        if (!TerminateThread(thread.Get(), 0))
            Log(kLogFailedCheck, kLogFile, "CHivemender::Stop", __LINE__, __TIMESTAMP__, "%s - %lu",
                "TerminateThread(m_hWorkerThread, 0)", static_cast<unsigned long>(GetLastError()));
        // Termination is asynchronous: the thread may still be inside the
        // engine, which Destroy is about to free.
        WaitUntilGone(thread);
    }
    return S_OK;
}

void __stdcall CHivemender::Destroy() {
    delete this;
}

void CHivemender::ScanAndReport() noexcept {
    try {
        RunScan(*this, m_sectionScanners);
        // A stopped scan delivers nothing.
        if (m_bStop == 0)
            EmitReport(*this, ScanReportText(m_problems, m_userNames));
    } catch (...) {
        // A half-filled, unordered list is not one a fix may number from.
        m_problems.clear();
        if (m_bStop == 0)
            ReportCurrentFailure(*this, FailedScanReportText);
    }
}

void CHivemender::FixAndReport() noexcept {
    try {
        EmitReport(*this, RunFix(*this));
    } catch (...) {
        ReportCurrentFailure(*this, FailedFixReportText);
    }
}

void CHivemender::LeaveWorker() noexcept {
    HMODULE module = m_hWorkerModule;
    m_hWorkerThread.MarkFinished();
    FreeLibraryAndExitThread(module, 0);
}

DWORD WINAPI CHivemender::ScanOnThread(LPVOID param) {
    CHivemender& engine = *static_cast<CHivemender*>(param);
    engine.ScanAndReport();
    engine.LeaveWorker();
}

DWORD WINAPI CHivemender::FixOnThread(LPVOID param) {
    CHivemender& engine = *static_cast<CHivemender*>(param);
    engine.FixAndReport();
    engine.LeaveWorker();
}
