#include "engine/hivemender.h"

#include "base/debug_log.h"
#include "base/common_library.h"
#include "base/resource_strings.h"
#include "engine/emit_report.h"
#include "engine/scan_report.h"
#include "fix/fix_engine.h"
#include "report/json_reader.h"
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
    int length = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0);
    if (length <= 0 && !text.empty())
        return nullptr;
    BSTR wide = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (wide != nullptr && length > 0)
        MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), wide,
                            length);
    return wide;
}

// A worker must not let an exception escape: it would end the host process.
template <class Work> void RunGuarded(Work&& work) {
    try {
        work();
    } catch (...) {
    }
}

} // namespace

CHivemender::CHivemender() {
    m_dwSectionMask = kDefaultSectionMask;
    m_sectionPaths = OwnedMachineKeys();
}

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
    if (!m_hWorkerThread.IsEmpty()) {
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
    LPTHREAD_START_ROUTINE procedure = mode == ModeScan ? ScanOnThread : FixOnThread;
    DWORD dwThreadId = 0;
    m_hWorkerThread.MarkStarting();
    HANDLE thread = CreateThread(nullptr, 0, procedure, this, 0, &dwThreadId);
    if (thread == nullptr) {
        DWORD error = GetLastError();
        m_hWorkerThread.ClearStarting();
        if (error == 0)
            error = ERROR_GEN_FAILURE;
        Log(kLogError, kLogFile, "CHivemender::Start", __LINE__, __TIMESTAMP__,
            "FAILED: %s - GetLastError = %lu",
            mode == ModeScan
                ? "m_hWorkerThread = CreateThread(0, 0, ScanOnThread, this, 0, &dwThreadId)"
                : "m_hWorkerThread = CreateThread(0, 0, FixOnThread, this, 0, &dwThreadId)",
            static_cast<unsigned long>(error));
        return HResultFromCreateError(error);
    }
    // A worker that has already finished left its handle to us.
    Orvel::THandle finishedWorker(m_hWorkerThread.Publish(thread));
    return S_OK;
}

HRESULT __stdcall CHivemender::Stop() {
    Orvel::THandle thread(m_hWorkerThread.TakeForStop());
    if (!thread)
        return S_FALSE;
    m_bStop = 1;
    if (WaitForSingleObject(thread.Get(), kStopWaitMs) == WAIT_TIMEOUT) {
        Log(kLogError, kLogFile, "CHivemender::Stop", __LINE__, __TIMESTAMP__,
            "The thread refused to stop");
        if (!TerminateThread(thread.Get(), 0))
            Log(kLogFailedCheck, kLogFile, "CHivemender::Stop", __LINE__, __TIMESTAMP__, "%s - %lu",
                "TerminateThread(m_hWorkerThread, 0)", static_cast<unsigned long>(GetLastError()));
    }
    return S_OK;
}

void __stdcall CHivemender::Destroy() {
    delete this;
}

void CHivemender::ReleaseWorkerHandle() {
    Orvel::THandle own(m_hWorkerThread.TakeAtExit());
}

DWORD WINAPI CHivemender::ScanOnThread(LPVOID param) {
    CHivemender& engine = *static_cast<CHivemender*>(param);
    RunGuarded([&] {
        RunScan(engine, SectionScanTable());
        // A stopped scan delivers nothing.
        if (engine.m_bStop == 0)
            BuildScanReport(engine);
    });
    engine.ReleaseWorkerHandle();
    return 0;
}

DWORD WINAPI CHivemender::FixOnThread(LPVOID param) {
    CHivemender& engine = *static_cast<CHivemender*>(param);
    RunGuarded([&] { EmitReport(engine, RunFix(engine)); });
    engine.ReleaseWorkerHandle();
    return 0;
}
