#include "fileref/command_path.h"

#include "base/common_library.h"
#include "fileref/file_probe.h"
#include "fileref/text_scan.h"

#include <windows.h>

#include <cstring>

using fileref::Bytes;
using fileref::CharAt;
using fileref::NextCharIndex;

namespace {

const char* const kKnownExtensions[] = {".exe", ".dll", ".com", ".hlp", ".fon", ".ocx",
                                        ".386", ".vxd", ".drv", ".sys", ".lnk", ".tmp"};
const char* const kRundllNames[] = {"rundll32", "rundll", "rundll32.exe", "rundll.exe"};

// Shape alone: ExtractCommandPath only splits off a directory part for texts
// that are plainly rooted; a leading quote means the caller did not strip it.
bool LooksRooted(const std::string& text) {
    if (text.size() <= 3)
        return false;
    return (text[0] == '\\' && text[1] == '\\') || (text[1] == ':' && text[2] == '\\');
}

// A dot at one of the positions from `from` down to `downTo`, never below 1.
bool DotBetween(const std::string& text, ptrdiff_t from, ptrdiff_t downTo) {
    for (ptrdiff_t p = from; p >= downTo && p >= 1; --p) {
        if (text[static_cast<size_t>(p)] == '.')
            return true;
    }
    return false;
}

struct PathSplit {
    std::string directory; // up to and including the last backslash, or empty
    std::string rest;
    bool restHasDot = false;
};

enum class PassResult { Cut, EndsInExtension, NoDot, Widen };

// One pass over the rest with extension window `window`; on Cut `text`
// holds the path.
PassResult WideningPass(const PathSplit& split, size_t window, std::string& text) {
    const std::string& rest = split.rest;
    for (size_t j = 0; j < rest.size(); j = NextCharIndex(rest, j)) {
        const char c = rest[j];
        if (IsNameBreaking(c)) {
            text = split.directory + rest.substr(0, j);
            return PassResult::Cut;
        }
        if (!IsPathDelimiter(c))
            continue;
        const std::string head = rest.substr(0, j);
        const ptrdiff_t pj = static_cast<ptrdiff_t>(j);
        if (split.restHasDot && j > 0 &&
            DotBetween(rest, pj - 1, pj - static_cast<ptrdiff_t>(window))) {
            text = split.directory + head;
            return PassResult::Cut;
        }
        if (split.directory.empty()) {
            // A bare program name: the search decides, but the name stays bare.
            if (SearchFile(head)) {
                text = head;
                return PassResult::Cut;
            }
            continue;
        }
        const std::string candidate = Orvel::PathCombineA(split.directory, head);
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (ProbeFile(candidate, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            text = candidate;
            return PassResult::Cut;
        }
    }
    if (!split.restHasDot)
        return PassResult::NoDot;
    const ptrdiff_t length = static_cast<ptrdiff_t>(rest.size());
    if (DotBetween(rest, length - 1, length - static_cast<ptrdiff_t>(window)))
        return PassResult::EndsInExtension;
    return PassResult::Widen;
}

// Last resort when neither extensions nor probes found the end: the first
// argument-like character after the first one.
bool FallbackCut(const PathSplit& split, std::string& text) {
    const std::string& rest = split.rest;
    if (rest.empty())
        return false;
    for (size_t previous = 0, i = NextCharIndex(rest, 0); i < rest.size();
         previous = i, i = NextCharIndex(rest, i)) {
        const char c = rest[i];
        const bool afterBlank = rest[previous] == ' ';
        if (c == '%' || c == ',' || c == ';' || c == '@') {
            text = split.directory + rest.substr(0, afterBlank ? i - 1 : i);
            return true;
        }
        if (c == '-' && afterBlank) {
            // The blank stays: a trailing blank is ignored when the path is probed.
            text = split.directory + rest.substr(0, i);
            return true;
        }
    }
    return false;
}

} // namespace

bool IsPathDelimiter(char c) {
    return c == ' ' || c == '%' || c == ',' || c == '-' || c == ';' || c == '@';
}

bool IsNameBreaking(char c) {
    return c == '"' || c == '*' || c == '/' || c == '<' || c == '>' || c == '?' || c == '|';
}

bool ExtractCommandPath(std::string& text) {
    const bool rooted = LooksRooted(text);
    PathSplit split;
    split.rest = text;
    for (size_t i = 0; i < text.size(); i = NextCharIndex(text, i)) {
        const char c = text[i];
        if (c == ';' && IsRootedPath(text.substr(i + 1))) {
            text.resize(i); // a list of paths: its first element
            return true;
        }
        if (c == '.')
            split.restHasDot = true;
        if (!rooted)
            continue;
        if (c == '"')
            break;
        if (c == '\\') {
            split.directory = text.substr(0, i + 1);
            split.rest = text.substr(i + 1);
            split.restHasDot = false;
        }
    }
    for (size_t window = 4; split.rest.size() > window; window += 2) {
        const PassResult result = WideningPass(split, window, text);
        if (result == PassResult::Cut || result == PassResult::EndsInExtension)
            return true;
        if (result == PassResult::NoDot)
            break;
    }
    return FallbackCut(split, text);
}

bool IsRootedPath(const std::string& text, char& driveLetter) {
    driveLetter = 0;
    if (text.empty())
        return false;
    size_t i = text[0] == '"' ? 1 : 0;
    while (i < text.size() && _ismbcspace(static_cast<unsigned char>(text[i])))
        i = NextCharIndex(text, i);
    if (text.size() < i + 2)
        return false;
    if (text[i] == '\\' && text[i + 1] == '\\')
        return true;
    if (text[i + 1] == ':' && CharAt(text, i + 2) == '\\') {
        driveLetter = text[i];
        return true;
    }
    return false;
}

bool IsRootedPath(const std::string& text) {
    char driveLetter = 0;
    return IsRootedPath(text, driveLetter);
}

bool IsRundllHost(const std::string& name) {
    for (const char* spelling : kRundllNames) {
        if (fileref::EqualNoCase(name, spelling))
            return true;
    }
    return false;
}

bool GetFileExtension(const std::string& path, std::string& extension) {
    // Forward, by whole characters, so a trail byte is never read as '\\'.
    ptrdiff_t lastDot = -1;
    ptrdiff_t lastSeparator = -1;
    for (size_t i = 0; i < path.size(); i = NextCharIndex(path, i)) {
        if (path[i] == '\\')
            lastSeparator = static_cast<ptrdiff_t>(i);
        else if (path[i] == '.' && i >= 1)
            lastDot = static_cast<ptrdiff_t>(i);
    }
    if (lastDot < 1 || lastDot < lastSeparator)
        return false;
    extension = path.substr(static_cast<size_t>(lastDot));
    return true;
}

bool HasKnownFileExtension(const std::string& path) {
    std::string extension;
    if (!GetFileExtension(path, extension) || extension.size() > 4)
        return false;
    for (const char* known : kKnownExtensions) {
        if (fileref::EqualNoCase(extension, known))
            return true;
    }
    return false;
}

std::string GetFileNamePart(const std::string& path) {
    const unsigned char* separator = _mbsrchr(Bytes(path), '\\');
    if (separator == nullptr)
        return path;
    return path.substr(static_cast<size_t>(separator - Bytes(path)) + 1);
}

bool ExpandSystemRootPath(std::string& path) {
    static const char kSystemRoot[] = "\\SystemRoot\\";
    constexpr size_t kSystemRootLength = sizeof(kSystemRoot) - 1;
    if (path.size() > 2 && path[1] == ':')
        return false;
    if (base::StartsWithNoCase(path, kSystemRoot)) {
        char windows[MAX_PATH] = {};
        ::GetWindowsDirectoryA(windows, MAX_PATH);
        path = Orvel::PathCombineA(windows, path.substr(kSystemRootLength));
        return true;
    }
    const unsigned char* colon = path.empty() ? nullptr : _mbschr(Bytes(path), ':');
    if (colon == nullptr)
        return false;
    const size_t at = static_cast<size_t>(colon - Bytes(path));
    if (at > 0)
        path.erase(0, at - 1); // a device prefix before the drive letter falls away
    return true;
}
