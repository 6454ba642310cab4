// What a scan or a fix works on: the engine's state as the worker sees it.
//
// The state is whole once constructed: it is built from the section table
// it scans (scanners/section_table.h holds the product's), and what that
// table says is kept here alone. The engine object (engine/hivemender.h)
// owns the threads and the plug-in interface and derives from this;
// everything below the engine folder (the driver, the scanners, the fix)
// takes the state alone, so none of them needs the class at the top, and
// their tests build a state without it. Nothing is locked: the host thread
// writes only the two flags, and the worker alone touches the rest while it
// runs.
#pragma once

#include "report/json_object.h"
#include "report/user_profiles.h"
#include "scan/exclusion_list.h"
#include "report/problem_record.h"
#include "scan/scan_driver.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <set>
#include <span>
#include <string>

// Every section but services and drivers.
constexpr DWORD kDefaultSectionMask = 0x77F;

struct CEngineState {
    // A state that scans the sections of `sections`, in its order; with no
    // table, one that scans nothing.
    explicit CEngineState(std::span<const SectionScan> sections = {});
    CEngineState(const CEngineState&) = delete;
    CEngineState& operator=(const CEngineState&) = delete;

    // The section scanners a scan runs, in their order, and the machine
    // areas below HKEY_LOCAL_MACHINE they own (which the machine software
    // walk leaves to them), taken from the same table.
    const std::span<const SectionScan> m_sectionScanners;
    const std::multimap<int, std::string> m_sectionPaths;
    DWORD m_dwSectionMask = kDefaultSectionMask;
    int m_nServiceProblems = 0;
    // Whether the user is an administrator, asked once as a scan begins: the
    // check impersonates and builds a descriptor, too dear to repeat for each
    // finding. The admission gate and the administrator-only sections read it.
    bool m_bAdministrator = false;
    // Written by the host thread, polled by the worker. Only Start lowers
    // the stop flag, for a scan, before the worker exists: a worker that
    // lowered it itself could swallow a Stop issued right after Start.
    std::atomic<int> m_bStop{0};
    std::atomic<int> m_bPause{0};
    std::set<std::string> m_comSeen;
    std::set<std::string> m_fontSeen;
    // The system's media folder, read by the sound-event scanner on first
    // use. Kept per engine, like the exclusion list, so that two engines may
    // scan at once without a lock.
    std::string m_mediaDirectory;
    ProblemList m_problems;
    // The key of the finding recorded last, and its lower-cased identity
    // part (problem_list.cpp).
    std::string m_lastFindingKey;
    std::string m_lastFindingKeyId;
    JsonObject m_request;
    // Per engine rather than per process, so that two engines may scan at once.
    CExclusionList m_exclusions;
    CUserNameCache m_userNames;
};

// For the scanners and the fix loop: sleeps while the pause flag is raised.
inline void WaitWhilePaused(const CEngineState& engine) {
    constexpr DWORD kPausePollMs = 100;
    while (engine.m_bPause != 0)
        Sleep(kPausePollMs);
}

// The user name a report shows for a key path (see CUserNameCache).
inline std::string GetUserNameForKeyPath(CEngineState& engine, const std::string& keyPath) {
    return engine.m_userNames.NameForKeyPath(keyPath);
}
