#include "scanners/classes_root.h"

#include "fileref/command_path.h"
#include "fileref/reference_check.h"
#include "base/text.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"
#include "scanners/class_key_reading.h"
#include "scanners/file_types.h"
#include "scanners/type_libraries.h"

#include <cstring>

namespace {

// In byte order, the order they are checked.
constexpr const char* kServerSubkeyNames[] = {
    "InProcHandler",  "InProcHandler32", "InProcServer",
    "InProcServer32", "LocalServer",     "LocalServer32",
};

// COM loads an in-process server named without a folder through the
// library search, whose folders this scan cannot know.
constexpr const char kInProcServer32[] = "InProcServer32";

// Each subkey of the root's `area`, then a pause, until a stop. What `scan`
// returns about an entry matters to no one here.
template <typename Scan>
void ScanArea(CEngineState& engine, const RegKey& root, const char* area, Scan scan) {
    RegKey areaKey;
    if (root.OpenChild(area, areaKey) != ERROR_SUCCESS || engine.m_bStop != 0 ||
        IsKeyExcluded(engine, areaKey))
        return;
    ForEachIncludedSubkey(engine, areaKey, [&](RegKey& entry) { (void)scan(engine, entry); },
                          PauseTest::AfterEach);
}

void ScanExtensions(CEngineState& engine, RegKey& root) {
    ForEachIncludedSubkey(
        engine, root,
        [&](RegKey& sub) {
            if (sub.LeafName().rfind('.', 0) == 0)
                ScanFileExtension(engine, sub);
        },
        PauseTest::AfterEach);
}

void ScanShellClass(CEngineState& engine, const RegKey& root, const char* name) {
    RegKey classKey;
    if (root.OpenChild(name, classKey) == ERROR_SUCCESS && engine.m_bStop == 0)
        ScanClassKey(engine, classKey);
}

// A ProgID names a key directly below the classes root. One that begins
// with a backslash would be opened from the root itself ("\" is the root,
// "\CLSID" the whole class area), and a finding there would delete it.
bool OpenProgId(const std::string& progId, RegKey& progIdKey) {
    return progId[0] != '\\' &&
           progIdKey.OpenPath(HKEY_CLASSES_ROOT, progId, KEY_READ) == ERROR_SUCCESS;
}

// A ProgID's "CLSID" key holds a reference in its default value. One with
// subkeys of its own is a class area, not a reference: a ProgID text such
// as "Wow6432Node" leads to the 32-bit class area, which must never be
// reported for deletion.
bool IsClassReference(const RegKey& key) {
    DWORD subkeys = 0;
    return key.CountChildren(&subkeys, nullptr) == ERROR_SUCCESS && subkeys == 0;
}

void CheckProgIdClass(CEngineState& engine, const RegKey& progIdKey) {
    RegKey clsid;
    if (OpenIncludedChild(engine, progIdKey, "CLSID", clsid) && IsClassReference(clsid) &&
        !DefaultNamesRegisteredKey(clsid, "CLSID"))
        AddKeyProblem(clsid, engine, SectionClasses);
}

bool IsEmptyKey(const RegKey& key) {
    DWORD subkeys = 0, values = 0;
    return key.CountChildren(&subkeys, &values) == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

// Entries some installers mark with a "symkey" value are theirs to manage.
bool HasSymkeyValue(RegKey& entry) {
    if (entry.CountValues() != ERROR_SUCCESS)
        return false;
    std::string name;
    while (entry.NextValueName(name) == ERROR_SUCCESS) {
        if (base::ToLowerMb(name).find("symkey") != std::string::npos)
            return true;
    }
    return false;
}

// False when the entry, having no subkeys and no usable AppID, was
// reported whole.
bool CheckAppId(CEngineState& engine, const RegKey& entry, bool hasSubkeys) {
    std::string appId;
    const bool read = entry.QueryStringValue("AppID", appId) == ERROR_SUCCESS;
    const bool good = read && IsRegisteredAppId(appId);
    if (good)
        return true;
    if (hasSubkeys) {
        if (read)
            AddValueProblem("*", engine, SectionClasses, entry, "AppID");
        return true;
    }
    AddKeyProblem(entry, engine, SectionClasses);
    return false;
}

void CheckServer(CEngineState& engine, const RegKey& entry, const char* name) {
    RegKey server;
    if (!OpenIncludedChild(engine, entry, name, server))
        return;
    if (HasInstallerDescriptor(server, name))
        return;
    std::string command, file;
    if (ReadDefaultText(server, command)) {
        if (CheckFileReference(command, file))
            return;
        if (std::strcmp(name, kInProcServer32) == 0 && GetFileNamePart(file) == file)
            return;
    }
    AddKeyProblem(server, engine, SectionClasses);
}

void CheckEntryProgId(CEngineState& engine, const RegKey& entry) {
    RegKey progId;
    if (!OpenIncludedChild(engine, entry, "ProgID", progId))
        return;
    std::string name;
    if (!ReadDefaultText(progId, name) || !ClassesKeyExists(name, ""))
        AddKeyProblem(progId, engine, SectionClasses);
}

} // namespace

bool IsRegisteredAppId(const std::string& appId) {
    return !appId.empty() && ClassesKeyExists(appId, "AppID");
}

std::span<const char* const> ServerSubkeyNames() {
    return kServerSubkeyNames;
}

void ScanClassesRoot(CEngineState& engine) {
    engine.m_comSeen.clear();
    RegKey root;
    if (root.OpenPath(HKEY_CLASSES_ROOT, "", kRead64) == ERROR_SUCCESS)
        (void)WalkClassesRoot(engine, root);
}

int WalkClassesRoot(CEngineState& engine, RegKey& root) {
    if (IsKeyExcluded(engine, root))
        return 1;
    ScanArea(engine, root, "TypeLib", ScanTypeLibEntry);
    ScanArea(engine, root, "CLSID", ScanClsidEntry);
    ScanArea(engine, root, "Interface", ScanInterfaceEntry);
    ScanExtensions(engine, root);
    ScanShellClass(engine, root, "*");
    ScanShellClass(engine, root, "Folder");
    return 0;
}

int ScanFileExtension(CEngineState& engine, const RegKey& extensionKey) {
    if (IsKeyExcluded(engine, extensionKey))
        return 1;
    ScanClassKey(engine, extensionKey);
    std::string progId;
    if (ReadDefaultText(extensionKey, progId)) {
        if (!engine.m_comSeen.insert(progId).second)
            return 1;
        RegKey progIdKey;
        if (OpenProgId(progId, progIdKey)) {
            ScanClassKey(engine, progIdKey);
            CheckProgIdClass(engine, progIdKey);
            return 1;
        }
    }
    if (IsEmptyKey(extensionKey))
        AddKeyProblem(extensionKey, engine, SectionClasses);
    return 1;
}

int ScanClsidEntry(CEngineState& engine, RegKey& entryKey) {
    if (IsKeyExcluded(engine, entryKey))
        return 1;
    DWORD subkeys = 0;
    if (entryKey.CountChildren(&subkeys, nullptr) != ERROR_SUCCESS)
        return 1;
    if (HasSymkeyValue(entryKey))
        return 1;
    std::string description;
    if (subkeys == 0 && ReadDefaultText(entryKey, description))
        return 1;
    if (!CheckAppId(engine, entryKey, subkeys != 0))
        return 0;
    RegKey typeLib;
    if (OpenIncludedChild(engine, entryKey, "TypeLib", typeLib) &&
        !DefaultNamesRegisteredKey(typeLib, "TypeLib"))
        AddKeyProblem(typeLib, engine, SectionClasses);
    ScanClassKey(engine, entryKey);
    for (const char* name : ServerSubkeyNames())
        CheckServer(engine, entryKey, name);
    CheckEntryProgId(engine, entryKey);
    return 1;
}
