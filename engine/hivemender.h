// The engine object a host drives through ICloudPlugin.
//
// One host thread calls the interface; at most one worker thread at a time
// runs a scan or a fix. Nothing is locked: the host signals the worker only
// through m_bStop, and the worker alone touches the problem list, the request
// and the scratch sets while it runs (Start refuses to start a second one).
// Every scanner, the driver, the reports and the fix take the engine as their
// first argument, so its state is public.
#pragma once

#include "engine/cloud_plugin.h"
#include "engine/worker_thread_slot.h"
#include "report/json_object.h"
#include "report/user_profiles.h"
#include "scan/exclusion_list.h"
#include "scan/problem_record.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <set>
#include <string>

class CHivemender final : public ICloudPlugin {
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
    DWORD m_dwSectionMask = 0;
    int m_nServiceProblems = 0;
    // Written by the host thread, polled by the worker.
    std::atomic<int> m_bStop{0};
    std::atomic<int> m_bPause{0};
    std::set<std::string> m_comSeen;
    std::set<std::string> m_fontSeen;
    // Machine areas that have a scanner of their own, below HKEY_LOCAL_MACHINE.
    std::multimap<int, std::string> m_sectionPaths;
    ProblemList m_problems;
    JsonObject m_request;
    // Per engine rather than per process, so that two engines may scan at once.
    CExclusionList m_exclusions;
    CUserNameCache m_userNames;

private:
    HRESULT StartWorker(int mode);
    HRESULT StartOrThrow(int mode, const WCHAR* request);
    // The worker's last step: give up the thread handle, touch nothing after.
    void ReleaseWorkerHandle();
};

// Every section but services and drivers.
constexpr DWORD kDefaultSectionMask = 0x77F;
