#include "scanners/value_reasons.h"

#include "registry/reg_key.h"
#include "report/problem_record.h"
#include "scanners/app_paths.h"
#include "scanners/classes_root.h"
#include "scanners/file_types.h"
#include "scanners/fonts.h"
#include "scanners/help_files.h"
#include "scanners/shared_dlls.h"
#include "scanners/software_keys.h"
#include "scanners/sound_events.h"
#include "scanners/startup_entries.h"

namespace {

// A rule for one string value: true when it is broken, `file` then being
// the file it found missing.
using StringValueRule = bool (*)(const std::string& name, std::string& data, std::string& file);

std::string Missing(const std::string& file) {
    return "file: " + file + " (missing)";
}

// The value walks read data as stored; the rules that read one value by
// name read it expanded, as a non-empty text.
std::string StoredValueReason(const RegKey& key, const std::string& name, StringValueRule rule) {
    std::string data, file;
    DWORD type = REG_NONE;
    if (key.QueryStoredString(name, data, type) != ERROR_SUCCESS || !rule(name, data, file))
        return {};
    return Missing(file);
}

bool ReadText(const RegKey& key, const std::string& name, std::string& text) {
    return key.QueryStringValue(name, text) == ERROR_SUCCESS && !text.empty();
}

std::string FontReason(RegKey& key, const std::string& name) {
    std::string fontFile, firstName, folder;
    if (!FindFontRegistration(key, name, fontFile, firstName))
        return {};
    if (!firstName.empty())
        return "file: " + fontFile + " (already registered as \"" + firstName + "\")";
    if (GetFontsFolder(folder) && !FontFilePresent(folder, fontFile))
        return Missing(fontFile);
    return {};
}

std::string ClassesReason(const RegKey& key, const std::string& name) {
    std::string text, file;
    const bool read = key.QueryStringValue(name, text) == ERROR_SUCCESS;
    if (name == "AppID")
        return !read || IsRegisteredAppId(text) ? ""
               : text.empty()                   ? "AppID: empty"
                                                : "AppID: " + text + " (not registered)";
    if (name == "Commmand" && read && ShellNewCommandIsBroken(text, file))
        return Missing(file);
    if (name == "FileName" && read && !text.empty() && TemplateFileIsMissing(text))
        return Missing(text);
    return {};
}

} // namespace

std::string ValueProblemReason(int section, RegKey& key, const std::string& valueName) {
    std::string text, file;
    switch (section) {
    case SectionUserSoftware:
    case SectionMachineSoftware:
        return StoredValueReason(key, valueName, SoftwareValueIsBroken);
    case SectionClasses:
        return ClassesReason(key, valueName);
    case SectionFonts:
        return FontReason(key, valueName);
    case SectionStartup:
        return StoredValueReason(key, valueName, StartupValueIsBroken);
    case SectionSoundEvents:
        return ReadText(key, valueName, text) && !SoundFound(ReadMediaDirectory(), text)
                   ? Missing(text)
                   : "";
    case SectionAppPaths:
        return ReadText(key, valueName, text) && AppPathFoldersAreBroken(valueName, text, file)
                   ? Missing(file)
                   : "";
    case SectionSharedDlls:
        return SharedFileIsMissing(valueName) ? Missing(valueName) : "";
    case SectionHelpFiles:
        return StoredValueReason(key, valueName, HelpValueIsBroken);
    default:
        return {};
    }
}
