#include "host/exclusion_file.h"

#include "host/session.h"
#include "registry/root_names.h"

#include <algorithm>

namespace host {
namespace {

const char kUtf16LeMark[] = "\xFF\xFE";
const char kUtf8Mark[] = "\xEF\xBB\xBF";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Utf8FromUtf16Le(const std::string& bytes) {
    std::basic_string<WCHAR> wide;
    for (size_t at = 0; at + 1 < bytes.size(); at += 2)
        wide.push_back(static_cast<WCHAR>(static_cast<unsigned char>(bytes[at]) |
                                          static_cast<unsigned char>(bytes[at + 1]) << 8));
    return Utf8FromWide(wide.c_str());
}

std::string Utf16LeFromUtf8(const std::string& text) {
    std::string bytes;
    for (WCHAR unit : WideFromUtf8(text)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// The first line end decides; a file of one unfinished line gets CR LF.
std::string FirstLineEnd(const std::string& text) {
    const size_t at = text.find_first_of("\r\n");
    if (at == std::string::npos)
        return "\r\n";
    return text.compare(at, 2, "\r\n") == 0 ? "\r\n" : text.substr(at, 1);
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// A line's key as the engine compares it: markers cut, no trailing backslash.
std::string KeyOfLine(std::string line) {
    for (const char* marker : {"=LOCKED", "=BLOCKED"}) {
        const size_t at = line.find(marker);
        if (at != std::string::npos)
            line.resize(at);
    }
    while (!line.empty() && line.back() == '\\')
        line.pop_back();
    return Upper(line);
}

bool NamesKey(const std::string& line) {
    return !line.empty() && line[0] != ';' && line[0] != '[' && line[0] != ' ';
}

auto FindKey(std::vector<std::string>& lines, const std::string& keyPath) {
    const std::string wanted = Upper(keyPath);
    return std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return NamesKey(line) && KeyOfLine(line) == wanted;
    });
}

} // namespace

ExclusionFile ParseExclusionFile(const std::string& bytes) {
    ExclusionFile file;
    std::string text = bytes;
    if (StartsWith(bytes, kUtf16LeMark)) {
        file.encoding = ExclusionFile::Encoding::Utf16Le;
        file.mark = kUtf16LeMark;
        text = Utf8FromUtf16Le(bytes.substr(2));
    } else if (StartsWith(bytes, kUtf8Mark)) {
        file.mark = kUtf8Mark;
        text = bytes.substr(3);
    }
    file.lineEnd = FirstLineEnd(text);
    file.endsWithLineEnd = text.empty() || text.back() == '\n' || text.back() == '\r';
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        file.lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return file;
}

std::string SerializeExclusionFile(const ExclusionFile& file) {
    std::string text;
    for (size_t i = 0; i < file.lines.size(); ++i) {
        text += file.lines[i];
        if (i + 1 < file.lines.size() || file.endsWithLineEnd)
            text += file.lineEnd;
    }
    if (file.encoding == ExclusionFile::Encoding::Utf16Le)
        return file.mark + Utf16LeFromUtf8(text);
    return file.mark + text;
}

std::vector<std::string> ExcludedKeys(const ExclusionFile& file) {
    std::vector<std::string> keys;
    std::copy_if(file.lines.begin(), file.lines.end(), std::back_inserter(keys), NamesKey);
    return keys;
}

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

bool AddExclusion(ExclusionFile* file, const std::string& keyPath) {
    if (FindKey(file->lines, keyPath) != file->lines.end())
        return false;
    file->lines.push_back(keyPath);
    file->endsWithLineEnd = true;
    return true;
}

bool RemoveExclusion(ExclusionFile* file, const std::string& keyPath) {
    const auto found = FindKey(file->lines, keyPath);
    if (found == file->lines.end())
        return false;
    file->lines.erase(found);
    return true;
}

} // namespace host
