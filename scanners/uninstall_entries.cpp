#include "scanners/uninstall_entries.h"

#include "fileref/reference_check.h"
#include "scanners/entry_walk.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/subkey_loop.h"
#include "scan/problem_list.h"

#include <string>

namespace {

// Tried in this order; both are tested when both are set.
const char* const kUninstallCommands[] = {"QuietUninstallString", "UninstallString"};

// Windows Installer packages are removed through their product code, which
// needs no command: the flag alone (a DWORD of 1) is a way to uninstall.
bool IsInstallerPackage(const RegKey& entry) {
    DWORD flag = 0;
    return entry.QueryDwordValue("WindowsInstaller", flag) == ERROR_SUCCESS && flag == 1;
}

// Entries the list of programs never shows need no way to uninstall:
// Windows' own components (SystemComponent = 1) and the name-less stubs
// Windows keeps for its features (AddressBook, DirectDrawEx, IE40...).
bool IsHiddenFromProgramList(const RegKey& entry) {
    DWORD flag = 0;
    std::string name;
    return (entry.QueryDwordValue("SystemComponent", flag) == ERROR_SUCCESS && flag == 1) ||
           entry.QueryStringValue("DisplayName", name) != ERROR_SUCCESS || name.empty();
}

} // namespace

void ScanUninstallEntries(CEngineState& engine) {
    ScanEachEntry(engine, kUninstallKeys[0], ScanUninstallEntry);
}

int ScanUninstallEntry(CEngineState& engine, RegKey& entry) {
    if (WaitThenIsExcluded(engine, entry))
        return 1;
    bool hasCommand = false;
    for (const char* valueName : kUninstallCommands) {
        std::string command;
        if (entry.QueryStringValue(valueName, command) != ERROR_SUCCESS || command.empty())
            continue;
        hasCommand = true;
        std::string file;
        if (!CheckFileReference(command, file))
            AddKeyProblem(entry, engine, SectionUninstall);
    }
    if (!hasCommand && !IsInstallerPackage(entry) && !IsHiddenFromProgramList(entry))
        AddKeyProblem(entry, engine, SectionUninstall);
    return 0;
}
