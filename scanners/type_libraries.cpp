#include "scanners/type_libraries.h"

#include "base/text.h"
#include "fileref/reference_check.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"
#include "scanners/class_key_reading.h"

namespace {

// In byte order, the order they are looked at.
constexpr const char* kPlatforms[] = {"Win16", "Win32", "Win64"};

constexpr InterfaceReference kInterfaceReferences[] = {
    {"BaseInterface", "Interface"},
    {"ProxyStubCLSID", "CLSID"},
    {"ProxyStubCLSID32", "CLSID"},
    {"TypeLib", "TypeLib"},
};

bool NameIs(const std::string& name, const char* expected) {
    return base::EqualNoCase(name, expected);
}

// A help folder must be given and must exist.
void CheckHelpDirectory(CEngineState& engine, const RegKey& helpKey) {
    std::string folder, file;
    if (!ReadDefaultText(helpKey, folder) || !CheckFileReference(folder, file))
        AddKeyProblem(helpKey, engine, SectionClasses);
}

// The subkeys of one version: true when one of its locales is usable.
// False as well when the version has no subkey that opens.
bool CheckTypeLibVersion(CEngineState& engine, RegKey& versionKey) {
    bool versionGood = false;
    ForEachIncludedSubkey(engine, versionKey, [&](RegKey& sub) {
        const std::string leaf = sub.LeafName();
        if (NameIs(leaf, "HELPDIR"))
            CheckHelpDirectory(engine, sub);
        else if (!NameIs(leaf, "FLAGS") && CheckTypeLibLocale(engine, sub))
            versionGood = true;
    });
    return versionGood;
}

} // namespace

std::span<const InterfaceReference> InterfaceReferences() {
    return kInterfaceReferences;
}

void ScanTypeLibEntry(CEngineState& engine, RegKey& libraryKey) {
    if (IsKeyExcluded(engine, libraryKey))
        return;
    bool anyGood = false;
    ForEachIncludedSubkey(engine, libraryKey, [&](RegKey& version) {
        if (CheckTypeLibVersion(engine, version))
            anyGood = true;
        else
            AddKeyProblem(version, engine, SectionClasses);
    });
    if (!anyGood)
        AddKeyProblem(libraryKey, engine, SectionClasses);
}

bool CheckTypeLibLocale(CEngineState& engine, const RegKey& localeKey) {
    bool found = false;
    for (const char* platform : kPlatforms) {
        RegKey platformKey;
        if (!OpenIncludedChild(engine, localeKey, platform, platformKey))
            continue;
        found = true;
        std::string path, file;
        if (!ReadDefaultText(platformKey, path) || !CheckFileReference(path, file))
            AddKeyProblem(platformKey, engine, SectionClasses);
    }
    return found;
}

// COM's own interfaces (IUnknown, IClassFactory, IStream...) carry IIDs of
// the block {xxxxxxxx-0000-0000-C000-000000000046}; COM marshals them itself,
// so their key needs no proxy or type library and holding only the name is
// how Windows and Wine register them.
static bool IsComOwnInterface(const std::string& iid) {
    constexpr char kComBlock[] = "-0000-0000-C000-000000000046}";
    return iid.size() == 38 && iid.front() == '{' &&
           base::EqualNoCase(iid.substr(9), kComBlock);
}

int ScanInterfaceEntry(CEngineState& engine, const RegKey& interfaceKey) {
    if (IsKeyExcluded(engine, interfaceKey))
        return 1;
    DWORD subkeys = 0;
    if (interfaceKey.CountChildren(&subkeys, nullptr) != ERROR_SUCCESS)
        return 1;
    if (subkeys == 0 && !IsComOwnInterface(interfaceKey.LeafName())) {
        AddKeyProblem(interfaceKey, engine, SectionClasses);
        return 0;
    }
    for (const InterfaceReference& reference : InterfaceReferences()) {
        RegKey referenceKey;
        if (OpenIncludedChild(engine, interfaceKey, reference.subkey, referenceKey) &&
            !DefaultNamesRegisteredKey(referenceKey, reference.area))
            AddKeyProblem(referenceKey, engine, SectionClasses);
    }
    return 1;
}
