#include "scanners/file_types.h"

#include "base/built_once.h"
#include "base/common_library.h"
#include "fileref/file_probe.h"
#include "fileref/reference_check.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"
#include "scanners/class_key_reading.h"

#include <shlobj.h>

#include <algorithm>
#include <vector>

namespace {

// A command whose path comes out this short ("%1", a drive letter) is not
// a program the shell would run: nothing to judge it by.
constexpr size_t kShortestVerbPath = 4;
constexpr size_t kShortestTemplateCommandPath = 5;

bool BeginsWithBrace(const std::string& text) {
    return !text.empty() && text[0] == '{';
}

// A verb carried out by DDE alone needs no command while its server runs,
// and the shell's own server always does: Wine registers the Folder class's
// "open" verb so, and removing it would stop folders opening.
bool IsDdeOnlyVerb(const RegKey& verbKey) {
    RegKey ddeexec;
    return verbKey.OpenChild("ddeexec", ddeexec) == ERROR_SUCCESS;
}

// Ways a verb works without a command: a COM class carries it out
// (ExplorerCommandHandler, or a DropTarget subkey naming one), or it is a
// cascading menu whose entries are listed elsewhere (SubCommands, empty or
// naming CommandStore verbs; ExtendedSubCommandsKey naming a key).
bool VerbWorksWithoutCommand(const RegKey& verbKey) {
    std::string text;
    if (verbKey.QueryStringValue("ExplorerCommandHandler", text) == ERROR_SUCCESS)
        return !text.empty() && ClassesKeyExists(text, "CLSID");
    DWORD type = REG_NONE;
    if (verbKey.QueryValueType("SubCommands", type) == ERROR_SUCCESS ||
        verbKey.QueryValueType("ExtendedSubCommandsKey", type) == ERROR_SUCCESS)
        return true;
    RegKey dropTarget;
    return verbKey.OpenChild("DropTarget", dropTarget) == ERROR_SUCCESS &&
           dropTarget.QueryStringValue("CLSID", text) == ERROR_SUCCESS && !text.empty() &&
           ClassesKeyExists(text, "CLSID");
}

bool VerbCommandRuns(const RegKey& commandKey) {
    if (HasInstallerDescriptor(commandKey, "command"))
        return true;
    std::string command;
    if (commandKey.QueryStringValue("", command) == ERROR_SUCCESS) {
        std::string file;
        if (CheckFileReference(command, file) || file.size() < kShortestVerbPath)
            return true;
    }
    // Verbs of modern applications run through a COM class instead.
    std::string delegate;
    return commandKey.QueryStringValue("DelegateExecute", delegate) == ERROR_SUCCESS &&
           ClassesKeyExists(delegate, "CLSID");
}

// A handler is named by a braced CLSID, in the leaf's default value or, when
// that is empty or not braced, in the leaf's own name.
void CheckHandlerLeaf(CEngineState& engine, const RegKey& leaf) {
    std::string clsid;
    if (leaf.QueryStringValue("", clsid) != ERROR_SUCCESS || !BeginsWithBrace(clsid))
        clsid = leaf.LeafName();
    if (!BeginsWithBrace(clsid))
        return;
    if (!ClassesKeyExists(clsid, "CLSID") && !ExtShellViewExists(clsid))
        AddKeyProblem(leaf, engine, SectionClasses);
}

void CheckHandlerTree(CEngineState& engine, RegKey& key) {
    if (IsKeyExcluded(engine, key))
        return;
    DWORD subkeys = 0;
    if (key.CountChildren(&subkeys, nullptr) != ERROR_SUCCESS)
        return;
    if (subkeys == 0) {
        CheckHandlerLeaf(engine, key);
        return;
    }
    ForEachIncludedSubkey(engine, key, [&](RegKey& child) { CheckHandlerTree(engine, child); });
}

std::vector<std::string> ReadTemplateDirectories() {
    std::vector<std::string> folders = {
        Orvel::PathCombineA(Orvel::GetWindowsDirectoryA(), "ShellNew")};
    for (int csidl : {CSIDL_TEMPLATES, CSIDL_COMMON_TEMPLATES}) {
        char folder[MAX_PATH] = {};
        if (SHGetSpecialFolderPathA(nullptr, folder, csidl, FALSE))
            folders.emplace_back(folder);
    }
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    return folders;
}

} // namespace

std::span<const std::string> TemplateDirectories() {
    static constinit Orvel::TBuiltOnce<std::vector<std::string>> folders;
    return folders.Get(ReadTemplateDirectories);
}

int ScanClassKey(CEngineState& engine, const RegKey& classKey) {
    if (IsKeyExcluded(engine, classKey))
        return 1;
    CheckDefaultIcon(engine, classKey);
    CheckShellVerbs(engine, classKey);
    CheckShellExtensions(engine, classKey);
    CheckShellNew(engine, classKey);
    return 1;
}

void CheckDefaultIcon(CEngineState& engine, const RegKey& classKey) {
    RegKey icon;
    std::string text;
    if (!OpenIncludedChild(engine, classKey, "DefaultIcon", icon) || !ReadDefaultText(icon, text))
        return;
    std::string file;
    if (!CheckFileReference(text, file))
        AddKeyProblem(icon, engine, SectionClasses);
}

void CheckShellVerbs(CEngineState& engine, const RegKey& classKey) {
    RegKey shell;
    if (!OpenIncludedChild(engine, classKey, "Shell", shell))
        return;
    DWORD verbs = 0;
    if (shell.CountChildren(&verbs, nullptr) != ERROR_SUCCESS || verbs == 0) {
        AddKeyProblem(shell, engine, SectionClasses);
        return;
    }
    ForEachIncludedSubkey(engine, shell, [&](RegKey& verb) { CheckShellVerb(engine, verb); });
}

void CheckShellVerb(CEngineState& engine, const RegKey& verbKey) {
    if (IsKeyExcluded(engine, verbKey))
        return;
    RegKey command;
    if (verbKey.OpenChild("Command", command) != ERROR_SUCCESS) {
        if (!IsDdeOnlyVerb(verbKey) && !VerbWorksWithoutCommand(verbKey))
            AddKeyProblem(verbKey, engine, SectionClasses);
        return;
    }
    if (IsKeyExcluded(engine, command) || !VerbCommandRuns(command))
        AddKeyProblem(verbKey, engine, SectionClasses);
}

void CheckShellExtensions(CEngineState& engine, const RegKey& classKey) {
    RegKey shellEx;
    if (classKey.OpenChild("ShellEx", shellEx) == ERROR_SUCCESS)
        CheckHandlerTree(engine, shellEx);
}

void CheckShellNew(CEngineState& engine, const RegKey& classKey) {
    RegKey shellNew;
    DWORD values = 0;
    if (!OpenIncludedChild(engine, classKey, "ShellNew", shellNew) ||
        shellNew.CountChildren(nullptr, &values) != ERROR_SUCCESS)
        return;
    if (values == 0) {
        AddKeyProblem(shellNew, engine, SectionClasses);
        return;
    }
    std::string command;
    if (shellNew.QueryStringValue("Commmand", command) == ERROR_SUCCESS) {
        std::string file;
        if (ShellNewCommandIsBroken(command, file)) {
            AddValueProblem(command, engine, SectionClasses, shellNew, "Commmand");
            return;
        }
    }
    // Any other kind of template (an empty new file, data) needs no file.
    std::string fileName;
    if (shellNew.QueryStringValue("FileName", fileName) != ERROR_SUCCESS)
        return;
    if (fileName.empty())
        AddKeyProblem(shellNew, engine, SectionClasses);
    else if (TemplateFileIsMissing(fileName))
        AddValueProblem("*", engine, SectionClasses, shellNew, "FileName");
}

bool ShellNewCommandIsBroken(std::string& command, std::string& file) {
    return !CheckFileReference(command, file) && file.size() >= kShortestTemplateCommandPath;
}

bool TemplateFileIsMissing(const std::string& fileName) {
    return !FoundAsGivenOrInFolders(fileName, TemplateDirectories());
}
