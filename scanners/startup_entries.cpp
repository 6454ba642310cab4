#include "scanners/startup_entries.h"

#include "fileref/reference_check.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"

#include <string>

void ScanStartupEntries(CEngineState& engine) {
    ForEachMachineKey(kStartupKeys, [&](RegKey& key) { (void)ScanStartupKey(engine, key); });
}

LONG ScanStartupKey(CEngineState& engine, RegKey& key) {
    if (WaitThenIsExcluded(engine, key))
        return 1;
    return ForEachStringValue(engine, key, [&](const std::string& name, std::string& data) {
        std::string file;
        if (StartupValueIsBroken(name, data, file))
            AddValueProblem(data, engine, SectionStartup, key, name);
    });
}

bool StartupValueIsBroken(const std::string& /*name*/, std::string& data, std::string& file) {
    return !CheckFileReference(data, file);
}
