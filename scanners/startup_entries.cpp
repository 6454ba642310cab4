#include "scanners/startup_entries.h"

#include "scan/engine_state.h"
#include "fileref/reference_check.h"
#include "registry/reg_key.h"
#include "scan/exclusion_list.h"
#include "scan/problem_list.h"
#include "scan/scan_driver.h"

#include <string>

void ScanStartupEntries(CEngineState& engine) {
    // One key object serves every key in turn; the last handle closes with it.
    RegKey key;
    for (const char* path : kStartupKeys) {
        if (key.OpenPath(HKEY_LOCAL_MACHINE, path, kReadWrite64) == ERROR_SUCCESS)
            (void)ScanStartupKey(engine, key);
    }
}

LONG ScanStartupKey(CEngineState& engine, RegKey& key) {
    WaitWhilePaused(engine);
    if (IsExcluded(engine, key.KeyPathText()))
        return 1;
    std::string name;
    std::string data;
    LONG status = key.BeginValues(name, data);
    for (; status == ERROR_SUCCESS && engine.m_bStop == 0;
         status = key.NextStringValue(name, data)) {
        std::string file;
        if (!CheckFileReference(data, file))
            AddValueProblem(data, engine, SectionStartup, key, name);
        WaitWhilePaused(engine);
    }
    return status;
}
