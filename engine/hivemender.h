// The engine object a host drives through ICloudPlugin.
//
// One host thread calls the interface; at most one worker thread at a time
// runs a scan or a fix. Nothing is locked: the host signals the worker only
// through m_bStop, and the worker alone touches the problem list, the request
// and the scratch sets while it runs (Start refuses to start a second one).
// The state a scan or a fix works on is the CEngineState base, which is all
// the layers below this one see.
#pragma once

#include "engine/cloud_plugin.h"
#include "engine/worker_thread_slot.h"
#include "scan/engine_state.h"
#include "scan/scan_driver.h"

#include <windows.h>

#include <span>

class CHivemender final : public ICloudPlugin, public CEngineState {
public:
    // An engine that scans the product's sections (scanners/section_table.h),
    // or those of `sections`.
    CHivemender();
    explicit CHivemender(std::span<const SectionScan> sections);
    ~CHivemender();
    CHivemender(const CHivemender&) = delete;
    CHivemender& operator=(const CHivemender&) = delete;

    BSTR __stdcall GetDisplayName() override;
    HRESULT __stdcall Start(int mode, const WCHAR* request) override;
    HRESULT __stdcall Stop() override;
    void __stdcall Destroy() override;

    // Worker thread entry points; `param` is the engine. Neither returns:
    // each leaves through FreeLibraryAndExitThread.
    static DWORD WINAPI ScanOnThread(LPVOID param);
    static DWORD WINAPI FixOnThread(LPVOID param);

    CWorkerThreadSlot m_hWorkerThread;

private:
    HRESULT StartWorker(int mode);
    HRESULT StartOrThrow(int mode, const WCHAR* request);
    // The workers' work, each ending in exactly one report or, for a stopped
    // scan, none.
    void ScanAndReport() noexcept;
    void FixAndReport() noexcept;
    // The worker's last step: says it has finished, touches the engine no
    // more, and gives back the reference on the plug-in that Start took.
    [[noreturn]] void LeaveWorker() noexcept;

    // The worker's reference on this module; the worker owns it.
    HMODULE m_hWorkerModule = nullptr;
};
