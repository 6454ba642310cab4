#include "scanners/help_files.h"

#include "base/common_library.h"
#include "fileref/file_probe.h"
#include "fileref/reference_check.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "scan/problem_list.h"

#include <string>

void ScanHelpFiles(CEngineState& engine) {
    WaitWhilePaused(engine);
    // One key object serves both lists in turn; the last handle closes with it.
    RegKey key;
    for (const char* path : {kClassicHelpKey, kHtmlHelpKey}) {
        if (key.OpenPath(HKEY_LOCAL_MACHINE, path, kReadWrite64) == ERROR_SUCCESS)
            (void)ScanHelpKey(engine, key);
    }
}

int ScanHelpKey(CEngineState& engine, RegKey& key) {
    WaitWhilePaused(engine);
    if (IsExcluded(engine, key.KeyPathText()))
        return 1;
    std::string helpFile;
    std::string folder;
    for (LONG status = key.BeginValues(helpFile, folder);
         status == ERROR_SUCCESS && engine.m_bStop == 0;
         status = key.NextStringValue(helpFile, folder)) {
        // An empty folder leaves the bare name, which is searched for on the
        // system's search path.
        std::string path = Orvel::PathCombineA(folder, helpFile);
        std::string file;
        if (!CheckFileReference(path, file) && !FoundInLanguageFolder(folder, helpFile))
            AddValueProblem(path, engine, SectionHelpFiles, key, helpFile);
        WaitWhilePaused(engine);
    }
    return 0;
}
