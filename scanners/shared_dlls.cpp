#include "scanners/shared_dlls.h"

#include "fileref/file_probe.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/problem_list.h"

#include <string>

void ScanSharedDlls(CEngineState& engine) {
    WaitWhilePaused(engine);
    RegKey counters;
    if (counters.OpenPath(HKEY_LOCAL_MACHINE, kSharedDllKeys[0], kReadWrite64) != ERROR_SUCCESS)
        return;
    if (counters.CountValues() != ERROR_SUCCESS)
        return;
    std::string file;
    while (engine.m_bStop == 0 && counters.NextValueName(file) == ERROR_SUCCESS) {
        // A file on a share or a stick may be merely out of reach.
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (!IsOutOfReach(file) && !ProbeFile(file, attributes))
            AddValueProblem("*", engine, SectionSharedDlls, counters, file);
    }
}
