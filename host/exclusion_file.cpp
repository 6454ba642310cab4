#include "host/exclusion_file.h"

#include "base/text.h"
#include "host/session.h"
#include "registry/root_names.h"

namespace host {
namespace {

// The text in the ANSI code page; false when a character has no exact
// spelling there (the engine would read a '?' or a look-alike).
bool ToAnsi(const std::string& utf8, std::string* ansi) {
    const base::WideText wide = WideFromUtf8(utf8);
    bool usedDefault = false;
    *ansi = base::FromWide(CP_ACP, wide, WC_NO_BEST_FIT_CHARS, &usedDefault);
    return !usedDefault && base::ToWide(CP_ACP, *ansi) == wide;
}

std::string LineEntry(const ExclusionFile& file, size_t index) {
    return ExclusionEntry(EngineLine(file, index));
}

} // namespace

std::string ExclusionKeyPath(const std::string& keyPath, std::string* error) {
    HKEY root = nullptr;
    std::string subkey;
    const bool known = keyPath.find_first_of("\r\n") == std::string::npos &&
                       SplitKeyPath(keyPath, RootNames::RegFileNames, &root, &subkey) &&
                       *LongRootName(root) != '\0';
    if (!known) {
        *error = "the key path " + keyPath +
                 " does not start with HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CLASSES_ROOT or "
                 "HKEY_CURRENT_USER (or HKLM, HKU, HKCR, HKCU)";
        return {};
    }
    while (!subkey.empty() && subkey.back() == '\\')
        subkey.pop_back();
    return std::string(LongRootName(root)) + (subkey.empty() ? "" : "\\" + subkey);
}

std::string ExclusionLine(const std::string& keyPath, const std::string& currentUserSid,
                          std::string* error) {
    static const std::string currentUser = "HKEY_CURRENT_USER";
    std::string path = keyPath;
    if (path.compare(0, currentUser.size(), currentUser) == 0)
        path.replace(0, currentUser.size(), "HKEY_USERS\\" + currentUserSid);
    std::string line;
    std::string why;
    if (!ToAnsi(path, &line))
        why = "the engine reads the list in the code page " + std::to_string(GetACP()) +
              ", which cannot spell every character of it";
    else
        why = WhyNotExcludable(line);
    if (why.empty())
        return line;
    *error = "cannot exclude " + path + ": " + why;
    return {};
}

size_t CoveringLine(const ExclusionFile& file, const std::string& ansiLine) {
    const std::string key = KeyEntry(ansiLine);
    for (size_t i = 0; i < file.lines.size(); ++i) {
        const std::string entry = LineEntry(file, i);
        if (!entry.empty() && EntryCovers(entry, key))
            return i;
    }
    return file.lines.size();
}

void AppendLine(ExclusionFile* file, const std::string& ansiLine) {
    file->lines.push_back(EncodeLine(*file, ansiLine));
    file->endsWithLineEnd = true;
}

size_t RemoveLines(ExclusionFile* file, const std::string& ansiLine) {
    const std::string key = KeyEntry(ansiLine);
    size_t removed = 0;
    for (size_t i = file->lines.size(); i-- > 0;) {
        if (LineEntry(*file, i) == key) {
            file->lines.erase(file->lines.begin() + static_cast<std::ptrdiff_t>(i));
            ++removed;
        }
    }
    return removed;
}

std::string Utf8Line(const ExclusionFile& file, size_t index) {
    return Utf8FromWide(WideLine(file, index).c_str());
}

std::vector<std::string> ExcludedKeys(const ExclusionFile& file) {
    std::vector<std::string> keys;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        if (!LineEntry(file, i).empty())
            keys.push_back(Utf8Line(file, i));
    }
    return keys;
}

} // namespace host
