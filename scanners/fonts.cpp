#include "scanners/fonts.h"

#include "base/common_library.h"
#include "fileref/file_probe.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "scan/problem_list.h"

#include <shlobj.h>

namespace {

constexpr LONG kNoFontsFolder = ERROR_PATH_NOT_FOUND;

// A registration names its file bare (in the Fonts folder) or by full path.
// Font data is read raw: a path that still holds a variable, like one on a
// share or a stick, cannot be judged and is left alone.
bool FontFilePresent(const std::string& fontsFolder, const std::string& fontFile) {
    if (IsOutOfReach(fontFile))
        return true;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    return ProbeFile(fontFile, attributes) ||
           ProbeFile(Orvel::PathCombineA(fontsFolder, fontFile), attributes);
}

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
    RegKey key;
    if (key.OpenPath(HKEY_LOCAL_MACHINE, kFontKeys[0], kReadWrite64) == ERROR_SUCCESS)
        (void)ScanFontKey(engine, key);
}

LONG ScanFontKey(CEngineState& engine, RegKey& key) {
    WaitWhilePaused(engine);
    if (IsExcluded(engine, key.KeyPathText()))
        return ERROR_SUCCESS;
    char fontsFolder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, fontsFolder, CSIDL_FONTS, FALSE))
        return kNoFontsFolder;
    std::string name;
    std::string fontFile;
    LONG status = key.BeginValues(name, fontFile);
    for (; status == ERROR_SUCCESS && engine.m_bStop == 0;
         status = key.NextStringValue(name, fontFile)) {
        if ((IsVerticalFace(name) || NoteFontFile(engine, key, name, fontFile)) &&
            !FontFilePresent(fontsFolder, fontFile))
            AddValueProblem("*", engine, SectionFonts, key, name);
        WaitWhilePaused(engine);
    }
    return status;
}

bool NoteFontFile(CEngineState& engine, const RegKey& key, const std::string& valueName,
                  const std::string& fontFile) {
    if (engine.m_fontSeen.insert(fontFile).second)
        return true;
    AddValueProblem("*", engine, SectionFonts, key, valueName);
    return false;
}
