#include "scanners/help_files.h"

#include "base/common_library.h"
#include "fileref/file_probe.h"
#include "fileref/reference_check.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"

#include <string>

namespace {

constexpr const char* kHelpScanOrder[] = {kClassicHelpKey, kHtmlHelpKey};

} // namespace

void ScanHelpFiles(CEngineState& engine) {
    WaitWhilePaused(engine);
    ForEachMachineKey(kHelpScanOrder, [&](RegKey& key) { (void)ScanHelpKey(engine, key); });
}

int ScanHelpKey(CEngineState& engine, RegKey& key) {
    if (WaitThenIsExcluded(engine, key))
        return 1;
    (void)ForEachStringValue(engine, key, [&](const std::string& helpFile, std::string& data) {
        std::string file;
        if (HelpValueIsBroken(helpFile, data, file))
            AddValueProblem(data, engine, SectionHelpFiles, key, helpFile);
    });
    return 0;
}

bool HelpValueIsBroken(const std::string& helpFile, std::string& data, std::string& file) {
    // An empty folder leaves the bare name, which is searched for on the
    // system's search path; a localised file may sit in a language folder.
    const std::string folder = data;
    data = Orvel::PathCombineA(folder, helpFile);
    return !CheckFileReference(data, file) && !FoundInLanguageFolder(folder, helpFile);
}
