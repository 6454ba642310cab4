#include "fileref/file_probe.h"

#include "base/built_once.h"
#include "base/common_library.h"
#include "fileref/scan_file_cache.h"
#include "fileref/text_scan.h"
#include "registry/reg_key.h"

#include <mbstring.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

using fileref::Bytes;

namespace {

// Ordered byte-wise, case-sensitive: folders differing only in case stay
// apart, which costs a repeated probe but never a wrong answer.
struct ByteOrder {
    bool operator()(const std::string& a, const std::string& b) const {
        return _mbscmp(Bytes(a), Bytes(b)) < 0;
    }
};
using DirectorySet = std::set<std::string, ByteOrder>;

// Built once, without a lock (base/built_once.h). Only the tests' forgetting
// takes the lock, to keep what it replaces alive: a reader may still hold it.
struct Tables {
    Orvel::TBuiltOnce<DirectorySet> directories;
    Orvel::TBuiltOnce<DWORD> fixedDriveMask;
    std::mutex retireLock;
    std::vector<std::unique_ptr<const DirectorySet>> retiredDirectories;
    std::vector<std::unique_ptr<const DWORD>> retiredMasks;
};

// Set up as the module loads, before any worker runs: no guard on first use.
Tables g_tables;

const char kAppPaths[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
const char kExtShellViews[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ExtShellViews";
constexpr DWORD kPathVariableBuffer = 0x2000;

bool Found(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES;
}
bool IsDirectory(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

DWORD CountedAttributes(const std::string& path) {
    ++ThisThreadFileProbeCounters().fileSystemCalls;
    return GetFileAttributesA(path.c_str());
}

// Redirection off for this thread for the guard's life. A switch-off that
// fails (32-bit Windows, a 64-bit process) leaves nothing to restore.
class CRedirectionOff {
public:
    CRedirectionOff() : m_bOff(Orvel::Wow64DisableWow64FsRedirection(&m_pOld) != 0) {
        if (m_bOff)
            fileref::NoteRedirectionOff(true);
    }
    ~CRedirectionOff() {
        if (!m_bOff)
            return;
        Orvel::Wow64RevertWow64FsRedirection(m_pOld);
        fileref::NoteRedirectionOff(false);
    }
    CRedirectionOff(const CRedirectionOff&) = delete;
    CRedirectionOff& operator=(const CRedirectionOff&) = delete;

private:
    PVOID m_pOld = nullptr;
    bool m_bOff;
};

DWORD AttributesWithoutRedirection(const std::string& path) {
    CRedirectionOff off;
    return CountedAttributes(path);
}

bool ContainsNoCase(const std::string& text, std::string_view lowerWord) {
    const auto it = std::search(
        text.begin(), text.end(), lowerWord.begin(), lowerWord.end(),
        [](char c, char w) { return (c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) == w; });
    return it != text.end();
}

// The WOW64 file system redirector changes only %windir%\System32 (and the
// lastgood copy of it) and %windir%\regedit.exe; any other path answers the
// same with redirection off, so asking again would only cost a call. Matched
// anywhere in the text, byte-wise: a false match costs one call, never an
// answer.
bool RedirectionCanChange(const std::string& path) {
    return ContainsNoCase(path, "system32") || ContainsNoCase(path, "regedit");
}

// Programs registered for a 64-bit folder are often looked for by 32-bit
// installers under "Program Files (x86)", and the other way round.
std::string WithoutX86Folder(const std::string& path) {
    std::string lower = base::ToLowerMb(path);
    constexpr std::string_view kFrom = "program files (x86)";
    constexpr std::string_view kTo = "program files";
    for (size_t at = lower.find(kFrom); at != std::string::npos;
         at = lower.find(kFrom, at + kTo.size()))
        lower.replace(at, kFrom.size(), kTo);
    return lower;
}

DWORD AttributesOfAnyExtension(const std::string& path) {
    WIN32_FIND_DATAA data{};
    ++ThisThreadFileProbeCounters().fileSystemCalls;
    Orvel::TFindHandle search(FindFirstFileA((path + ".*").c_str(), &data));
    return search ? data.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

// What a path that cannot be judged is taken for: a file when its last name
// has an extension, a folder otherwise.
DWORD PresumedAttributes(const std::string& path) {
    const size_t lastName = path.find_last_of('\\') + 1;
    return path.find('.', lastName) != std::string::npos ? FILE_ATTRIBUTE_ARCHIVE
                                                          : FILE_ATTRIBUTE_DIRECTORY;
}

// "PROGRA~1", "MICROS~2.EXE", "AB12CD~1": a generated 8.3 name, at most
// eight characters, a tilde and digits ending the base, an extension of at
// most three.
bool IsShortNameShape(std::string_view name) {
    const size_t dot = name.find('.');
    const std::string_view base = name.substr(0, dot);
    if (base.size() > 8 || (dot != std::string_view::npos && name.size() - dot - 1 > 3))
        return false;
    const size_t tilde = base.find('~');
    if (tilde == 0 || tilde == std::string_view::npos || tilde + 1 == base.size())
        return false;
    return std::all_of(base.begin() + static_cast<ptrdiff_t>(tilde) + 1, base.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// Windows answers for a short name only where the volume keeps them; the
// simulated machine, an offline volume and Wine have none or other ones. A
// path through a short name that does not resolve here cannot be judged, so
// it counts as present: a file when its last name has an extension, a folder
// otherwise. One that resolves is judged as any other path.
DWORD AttributesThroughShortName(const std::string& path) {
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (IsShortNameShape(std::string_view(path).substr(start, end - start))) {
            if (Found(CountedAttributes(path.substr(0, end))))
                return INVALID_FILE_ATTRIBUTES;
            return PresumedAttributes(path);
        }
        start = end + 1;
    }
    return INVALID_FILE_ATTRIBUTES;
}

// A '?' is never part of a Windows file name. The ANSI view puts one where
// the stored name holds a character the code page lacks (a profile folder
// named in Cyrillic); a typed one can only be a wildcard or such a lost
// character. Past it the path cannot be judged, so it counts as present; the
// folder before it is read intact, and when that folder is gone so is the
// path. "\\?\" and "\??\" open a long or an NT path and name nothing.
size_t LostCharacterAt(const std::string& path) {
    const bool prefixed = path.rfind("\\\\?\\", 0) == 0 || path.rfind("\\??\\", 0) == 0;
    return path.find('?', prefixed ? 4 : 0);
}

DWORD AttributesPastLostCharacter(const std::string& path, size_t lost) {
    const size_t folderEnd = path.rfind('\\', lost);
    DWORD folder = INVALID_FILE_ATTRIBUTES;
    if (folderEnd != std::string::npos &&
        (!ProbeFile(path.substr(0, folderEnd + 1), folder) || !IsDirectory(folder)))
        return INVALID_FILE_ATTRIBUTES;
    return PresumedAttributes(path);
}

// GetFileAttributes answers ERROR_PATH_NOT_FOUND when the folder that would
// hold the last name is missing (or a file, or on a drive that is not
// there), ERROR_FILE_NOT_FOUND when only the last name is. "path.*" is
// searched for in that same folder, or below it where the last name is "."
// or "..", so after the first answer the search can find nothing. Only a full
// drive path is taken at its word: an empty or relative text is resolved
// against the current folder, which the search of "".* would list.
bool FolderIsMissing(const std::string& path, DWORD error) {
    const char drive = static_cast<char>(path.empty() ? 0 : path[0] | 0x20);
    return error == ERROR_PATH_NOT_FOUND && path.size() >= 3 && drive >= 'a' && drive <= 'z' &&
           path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

DWORD ProbeUncached(const std::string& path) {
    const size_t lost = LostCharacterAt(path);
    if (lost != std::string::npos)
        return AttributesPastLostCharacter(path, lost);
    DWORD attributes = CountedAttributes(path);
    if (Found(attributes))
        return attributes;
    // Read before any other call sets it; the redirection and folder
    // retries below ask other paths, the search asks in this one's folder
    // with redirection as it was.
    const bool folderMissing = FolderIsMissing(path, GetLastError());
    if (RedirectionCanChange(path)) {
        attributes = AttributesWithoutRedirection(path);
        if (Found(attributes))
            return attributes;
    }
    // Only the folder rewrite can change the answer: on a case-insensitive
    // file system the lower-cased copy alone names what the first look asked
    // for, so it is probed only when the rewrite changed something. Lower-
    // casing changes letters only: without "86)" there is no such folder in
    // any case.
    if (path.find("86)") != std::string::npos) {
        const std::string folded = WithoutX86Folder(path);
        if (!base::EqualNoCase(folded, path)) {
            attributes = CountedAttributes(folded);
            if (Found(attributes))
                return attributes;
        }
    }
    if (!folderMissing) {
        attributes = AttributesOfAnyExtension(path);
        if (Found(attributes))
            return attributes;
    }
    return AttributesThroughShortName(path);
}

void AddPathVariable(DirectorySet& directories) {
    std::vector<char> value(kPathVariableBuffer, '\0');
    const DWORD length = GetEnvironmentVariableA("Path", value.data(), kPathVariableBuffer);
    if (length == 0 || length >= kPathVariableBuffer)
        return;
    const std::string path(value.data(), length);
    size_t start = 0;
    for (;;) {
        while (start < path.size() && path[start] == ';')
            ++start;
        if (start >= path.size())
            break;
        size_t end = start;
        while (end < path.size() && path[end] != ';')
            end = fileref::NextCharIndex(path, end);
        directories.insert(path.substr(start, end - start));
        start = end;
    }
    // The split's last, empty piece: joined with a name it gives the name
    // alone, probed as it stands.
    directories.insert(std::string());
}

DirectorySet BuildSearchDirectories() {
    DirectorySet directories;
    const std::string windows = Orvel::GetWindowsDirectoryA();
    directories.insert(Orvel::GetSystemDirectoryA());
    directories.insert(windows);
    directories.insert(Orvel::PathCombineA(windows, "System"));
    AddPathVariable(directories);
    return directories;
}

const DirectorySet& SearchDirectories() {
    return g_tables.directories.Get(BuildSearchDirectories);
}

bool FoundInSearchDirectories(const std::string& name) {
    for (const std::string& directory : SearchDirectories()) {
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (ProbeFile(Orvel::PathCombineA(directory, name), attributes) && !IsDirectory(attributes))
            return true;
    }
    return false;
}

bool FoundThroughAppPaths(const std::string& name) {
    ++ThisThreadFileProbeCounters().registryOpens;
    RegKey key;
    if (key.OpenPath(HKEY_LOCAL_MACHINE, Orvel::PathCombineA(kAppPaths, name), kReadWrite64) !=
        ERROR_SUCCESS)
        return false;
    std::string value;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (key.QueryStringValue("", value) == ERROR_SUCCESS)
        return ProbeFile(value, attributes);
    if (key.QueryStringValue("Path", value) == ERROR_SUCCESS)
        return ProbeFile(Orvel::PathCombineA(value, name), attributes);
    return false;
}

bool SearchUncached(const std::string& name) {
    return FoundInSearchDirectories(name) || FoundThroughAppPaths(name);
}

bool KeyOpens(HKEY root, const std::string& path) {
    RegKey key;
    return key.OpenPath(root, path, kRead64) == ERROR_SUCCESS;
}

} // namespace

bool ProbeFile(const std::string& path, DWORD& attributes) {
    bool found = false;
    if (fileref::RecallProbe(path, found, attributes))
        return found;
    attributes = ProbeUncached(path);
    found = Found(attributes);
    fileref::KeepProbe(path, found, attributes);
    return found;
}

bool FoundInFolders(const std::string& name, std::span<const std::string> folders) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    return std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
        return ProbeFile(Orvel::PathCombineA(folder, name), attributes);
    });
}

bool FoundAsGivenOrInFolders(const std::string& path, std::span<const std::string> folders) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    return ProbeFile(path, attributes) || FoundInFolders(path, folders);
}

bool SearchFile(const std::string& name) {
    if (name.empty())
        return false;
    if (name.size() >= 3 && name[1] == ':') {
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        return ProbeFile(name, attributes); // a directory counts here
    }
    bool found = false;
    if (fileref::RecallSearch(name, found))
        return found;
    found = SearchUncached(name);
    fileref::KeepSearch(name, found);
    return found;
}

bool FoundInLanguageFolder(const std::string& folder, const std::string& name) {
    // Without a folder the name is searched for, never looked up here: a
    // relative "mui" would be the host's current folder.
    char expanded[kPathVariableBuffer] = {};
    const DWORD length = ExpandEnvironmentStringsA(folder.c_str(), expanded, sizeof(expanded));
    if (folder.empty() || length == 0 || length > sizeof(expanded))
        return false;
    const std::string languages = Orvel::PathCombineA(expanded, "mui");
    WIN32_FIND_DATAA data{};
    ++ThisThreadFileProbeCounters().fileSystemCalls;
    Orvel::TFindHandle search(FindFirstFileA(Orvel::PathCombineA(languages, "*").c_str(), &data));
    if (!search)
        return false;
    do {
        const std::string language = data.cFileName;
        DWORD attributes = INVALID_FILE_ATTRIBUTES;
        if (IsDirectory(data.dwFileAttributes) && language != "." && language != ".." &&
            ProbeFile(Orvel::PathCombineA(Orvel::PathCombineA(languages, language), name),
                      attributes))
            return true;
    } while (FindNextFileA(search.Get(), &data));
    return false;
}

DWORD BuildFixedDriveMask() {
    const DWORD present = GetLogicalDrives();
    DWORD fixed = 0;
    for (int bit = 0; bit < 26; ++bit) {
        const char root[] = {static_cast<char>('A' + bit), ':', '\\', '\0'};
        if ((present & (1u << bit)) != 0 && GetDriveTypeA(root) == DRIVE_FIXED)
            fixed |= 1u << bit;
    }
    return fixed;
}

bool GetFixedDriveMask(DWORD& mask) {
    mask = g_tables.fixedDriveMask.Get(BuildFixedDriveMask);
    return true;
}

bool IsFixedDrive(char letter) {
    if (letter == 0)
        return false;
    const char upper = base::ToUpperMb(std::string(1, letter))[0];
    if (upper < 'A' || upper > 'Z')
        return false;
    DWORD mask = 0;
    GetFixedDriveMask(mask);
    return (mask & (1u << (upper - 'A'))) != 0;
}

bool IsOutOfReach(const std::string& path) {
    if (path.rfind("\\\\", 0) == 0 || path.rfind("%", 0) == 0)
        return true;
    const bool drivePath = path.size() >= 2 && path[1] == ':';
    return drivePath && !IsFixedDrive(path[0]);
}

bool ClassesKeyExists(const std::string& name, const std::string& parent) {
    const std::string path = parent.empty() ? name : Orvel::PathCombineA(parent, name);
    bool exists = false;
    if (fileref::RecallClassKey(path, exists))
        return exists;
    ThisThreadFileProbeCounters().classKeyOpens += 1;
    exists = KeyOpens(HKEY_CLASSES_ROOT, path) ||
             KeyOpens(HKEY_CLASSES_ROOT, Orvel::PathCombineA("Wow6432Node", path));
    fileref::KeepClassKey(path, exists);
    return exists;
}

bool ExtShellViewExists(const std::string& name) {
    return KeyOpens(HKEY_LOCAL_MACHINE, Orvel::PathCombineA(kExtShellViews, name));
}

void ForgetFileSearchTables() {
    std::lock_guard<std::mutex> hold(g_tables.retireLock);
    g_tables.retiredDirectories.push_back(g_tables.directories.Forget());
    g_tables.retiredMasks.push_back(g_tables.fixedDriveMask.Forget());
}
