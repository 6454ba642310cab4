#include "scanners/shared_dlls.h"

#include "fileref/file_probe.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"

#include <string>

void ScanSharedDlls(CEngineState& engine) {
    WaitWhilePaused(engine);
    ForEachMachineKey(kSharedDllKeys, [&](RegKey& counters) {
        if (counters.CountValues() != ERROR_SUCCESS)
            return;
        std::string file;
        while (engine.m_bStop == 0 && counters.NextValueName(file) == ERROR_SUCCESS) {
            if (SharedFileIsMissing(file))
                AddValueProblem("*", engine, SectionSharedDlls, counters, file);
        }
    });
}

bool SharedFileIsMissing(const std::string& file) {
    // A file on a share or a stick may be merely out of reach.
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    return !IsOutOfReach(file) && !ProbeFile(file, attributes);
}
