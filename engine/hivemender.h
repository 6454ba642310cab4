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

#include <windows.h>

class CHivemender final : public ICloudPlugin, public CEngineState {
public:
    CHivemender();
    ~CHivemender();
    CHivemender(const CHivemender&) = delete;
    CHivemender& operator=(const CHivemender&) = delete;

    BSTR __stdcall GetDisplayName() override;
    HRESULT __stdcall Start(int mode, const WCHAR* request) override;
    HRESULT __stdcall Stop() override;
    void __stdcall Destroy() override;

    // Worker thread entry points; `param` is the engine.
    static DWORD WINAPI ScanOnThread(LPVOID param);
    static DWORD WINAPI FixOnThread(LPVOID param);

    CWorkerThreadSlot m_hWorkerThread;

private:
    HRESULT StartWorker(int mode);
    HRESULT StartOrThrow(int mode, const WCHAR* request);
    // The worker's last step: give up the thread handle, touch nothing after.
    void ReleaseWorkerHandle();
};

// Every section but services and drivers.
constexpr DWORD kDefaultSectionMask = 0x77F;
