#include "scanners/fonts.h"

#include "fileref/file_probe.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"

#include <shlobj.h>

#include <map>

namespace {

constexpr LONG kNoFontsFolder = ERROR_PATH_NOT_FOUND;

// East Asian fonts register a vertical-writing face, "@" and the face's
// name, in the same file as the face itself (Wine does so for every such
// font it finds). That pair is no repeat: removing either entry would take a
// working font's registration away.
bool IsVerticalFace(const std::string& valueName) {
    return valueName.rfind('@', 0) == 0;
}

} // namespace

void ScanFonts(CEngineState& engine) {
    engine.m_fontSeen.clear();
    ForEachMachineKey(kFontKeys, [&](RegKey& key) { (void)ScanFontKey(engine, key); });
}

LONG ScanFontKey(CEngineState& engine, RegKey& key) {
    if (WaitThenIsExcluded(engine, key))
        return ERROR_SUCCESS;
    std::string fontsFolder;
    if (!GetFontsFolder(fontsFolder))
        return kNoFontsFolder;
    return ForEachStringValue(engine, key, [&](const std::string& name, std::string& fontFile) {
        if ((IsVerticalFace(name) || NoteFontFile(engine, key, name, fontFile)) &&
            !FontFilePresent(fontsFolder, fontFile))
            AddValueProblem("*", engine, SectionFonts, key, name);
    });
}

bool NoteFontFile(CEngineState& engine, const RegKey& key, const std::string& valueName,
                  const std::string& fontFile) {
    if (engine.m_fontSeen.insert(fontFile).second)
        return true;
    AddValueProblem("*", engine, SectionFonts, key, valueName);
    return false;
}

bool GetFontsFolder(std::string& folder) {
    char path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, path, CSIDL_FONTS, FALSE))
        return false;
    folder = path;
    return true;
}

bool FontFilePresent(const std::string& fontsFolder, const std::string& fontFile) {
    // Font data is read raw: a path that still holds a variable, like one on
    // a share or a stick, cannot be judged and is left alone.
    return IsOutOfReach(fontFile) || FoundAsGivenOrInFolders(fontFile, {&fontsFolder, 1});
}

bool FindFontRegistration(RegKey& key, const std::string& valueName, std::string& fontFile,
                          std::string& firstName) {
    // The scan's memory of the files met, rebuilt in its order up to the
    // registration asked about.
    std::map<std::string, std::string> firstNames;
    std::string name, file;
    for (LONG status = key.BeginValues(name, file); status == ERROR_SUCCESS;
         status = key.NextStringValue(name, file)) {
        if (name == valueName) {
            fontFile = file;
            const auto first = firstNames.find(file);
            firstName = IsVerticalFace(name) || first == firstNames.end() ? "" : first->second;
            return true;
        }
        if (!IsVerticalFace(name))
            firstNames.emplace(file, name);
    }
    return false;
}
