#include "scanners/app_paths.h"

#include "fileref/reference_check.h"
#include "scanners/entry_walk.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/subkey_loop.h"
#include "scan/problem_list.h"

#include <string>

namespace {

const char kSearchFolders[] = "Path";

// A non-empty string value, expanded; a value of another type counts as absent.
bool ReadSetting(const RegKey& entry, const char* valueName, std::string& text) {
    return entry.QueryStringValue(valueName, text) == ERROR_SUCCESS && !text.empty();
}

} // namespace

void ScanAppPaths(CEngineState& engine) {
    ScanEachEntry(engine, kAppPathKeys[0], ScanAppPathEntry);
}

int ScanAppPathEntry(CEngineState& engine, RegKey& entry) {
    if (WaitThenIsExcluded(engine, entry))
        return 1;
    bool namesSomething = false;
    std::string file;
    std::string program;
    if (ReadSetting(entry, "", program)) {
        namesSomething = true;
        // The whole entry goes: its folders no longer matter.
        if (!CheckFileReference(program, file)) {
            AddKeyProblem(entry, engine, SectionAppPaths);
            return 0;
        }
    }
    std::string folders;
    if (ReadSetting(entry, kSearchFolders, folders)) {
        namesSomething = true;
        if (AppPathFoldersAreBroken(kSearchFolders, folders, file))
            AddValueProblem(folders, engine, SectionAppPaths, entry, kSearchFolders);
    }
    // Windows keeps entries that only set how a program starts
    // (BlockOnTSNonInstallMode, UseShortName, DropTarget...): only one
    // holding nothing at all is left over.
    DWORD values = 0;
    if (!namesSomething && entry.CountChildren(nullptr, &values) == ERROR_SUCCESS &&
        values == 0)
        AddKeyProblem(entry, engine, SectionAppPaths);
    return 0;
}

bool AppPathFoldersAreBroken(const std::string& /*name*/, std::string& folders, std::string& file) {
    // A missing element of the list is dropped; anything else deletes "Path".
    return !CheckFileReference(folders, file);
}
