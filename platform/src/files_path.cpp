#include "files_path.h"

#include "codepage.h"
#include "files_hostnames.h"

#include <algorithm>
#include <cctype>
#include <dirent.h>
#include <mutex>
#include <memory>
#include <unordered_map>
#include <time.h>
#include <sys/stat.h>

namespace win32sim::detail {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsAllDots(std::string_view name) {
    return !name.empty() && name.find_first_not_of('.') == std::string_view::npos;
}

std::vector<std::string> SplitNames(std::string_view text, bool verbatim) {
    std::vector<std::string> names;
    std::string current;
    for (char c : text) {
        if (c == '\\' || (!verbatim && c == '/')) {
            names.push_back(std::move(current));
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    names.push_back(std::move(current));
    return names;
}

// Win32 drops one dot ending a folder name ("dir.\x" is "dir\x") and every
// trailing dot and blank of the final name ("a.txt. " is "a.txt"); a blank
// before a separator stays and makes a different name.
std::vector<std::string> NormaliseNames(std::vector<std::string> raw, bool trailingSeparator) {
    std::vector<std::string> names;
    for (size_t i = 0; i < raw.size(); ++i) {
        std::string name = std::move(raw[i]);
        if (name == ".")
            continue;
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
            continue;
        }
        const bool last = i + 1 == raw.size();
        if (last && !trailingSeparator) {
            const size_t keep = name.find_last_not_of(". ");
            name.erase(keep == std::string::npos ? 0 : keep + 1);
        } else if (!IsAllDots(name) && !name.empty() && name.back() == '.') {
            name.pop_back();
        }
        if (!name.empty())
            names.push_back(std::move(name));
    }
    return names;
}

DWORD CheckNames(const std::vector<std::string>& names) {
    for (const auto& name : names) {
        for (unsigned char c : name) {
            if (IsInvalidNameChar(c))
                return ERROR_INVALID_NAME;
        }
    }
    return ERROR_SUCCESS;
}

DWORD ParseVerbatim(std::string_view rest, WindowsPath* out) {
    if (rest.size() < 2 || rest[1] != ':' || !std::isalpha(static_cast<unsigned char>(rest[0])))
        return ERROR_PATH_NOT_FOUND;
    out->drive = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
    rest.remove_prefix(2);
    out->trailingSeparator = !rest.empty() && rest.back() == '\\';
    for (auto& name : SplitNames(rest, true)) {
        if (!name.empty())
            out->names.push_back(std::move(name));
    }
    return CheckNames(out->names);
}

} // namespace

bool IsInvalidNameChar(unsigned char c) {
    return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == ':';
}

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != std::string::npos;
}

DWORD ParseWindowsPath(std::string_view text, char systemDrive, WindowsPath* out) {
    *out = WindowsPath{};
    if (text.empty())
        return ERROR_PATH_NOT_FOUND;
    if (text.substr(0, 4) == "\\\\?\\")
        return ParseVerbatim(text.substr(4), out);
    if (text.size() >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1]))
        return ERROR_BAD_NETPATH; // \\server\share: the simulated machine has no network
    std::string_view rest = text;
    if (text.size() >= 2 && text[1] == ':') {
        if (!std::isalpha(static_cast<unsigned char>(text[0])))
            return ERROR_INVALID_NAME;
        out->drive = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
        rest.remove_prefix(2);
    } else {
        out->drive = systemDrive;
    }
    out->trailingSeparator = !rest.empty() && IsSeparator(rest.back());
    out->names = NormaliseNames(SplitNames(rest, false), out->trailingSeparator);
    return CheckNames(out->names);
}

std::string FormatWindowsPath(const WindowsPath& path) {
    std::string text{path.drive, ':'};
    for (const auto& name : path.names)
        text += "\\" + name;
    if (path.names.empty())
        text += "\\";
    return text;
}

bool StartsWithNames(const std::vector<std::string>& a, const std::vector<std::string>& prefix) {
    if (a.size() <= prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (!EqualAnsiNoCase(a[i], prefix[i]))
            return false;
    }
    return true;
}

HostKind KindOf(const std::string& hostPath) {
    struct stat info;
    if (::stat(hostPath.c_str(), &info) != 0)
        return HostKind::Missing;
    return S_ISDIR(info.st_mode) ? HostKind::Folder : HostKind::File;
}

namespace {

struct FolderListing {
    timespec modified{};
    ino_t inode = 0;
    std::shared_ptr<const std::vector<HostFolderEntry>> entries;
};

// A scan asks about thousands of missing files in a few large folders, by
// name and by pattern; on a case-sensitive host each would otherwise read
// the whole folder. A listing is trusted only while the folder's identity
// and modification time are those it was read at, and only when that time
// lies well before the reading: a host file system stamps times from a
// coarse clock, so a folder changed within the same tick as the reading
// would look unchanged.
class FolderListingCache {
public:
    std::shared_ptr<const std::vector<HostFolderEntry>> List(const std::string& folder) {
        struct stat info;
        if (::stat(folder.c_str(), &info) != 0)
            return nullptr;
        return List(folder, info);
    }

    // `info`: the folder's stat, just taken by the caller.
    std::shared_ptr<const std::vector<HostFolderEntry>> List(const std::string& folder,
                                                             const struct stat& info) {
        std::lock_guard lock(m_mutex);
        auto it = m_listings.find(folder);
        if (it != m_listings.end() && Matches(it->second, info))
            return it->second.entries;
        auto entries = Read(folder);
        if (entries && IsSettled(info.st_mtim))
            m_listings.insert_or_assign(folder, FolderListing{info.st_mtim, info.st_ino, entries});
        return entries;
    }

private:
    static bool Matches(const FolderListing& listing, const struct stat& info) {
        return listing.inode == info.st_ino && listing.modified.tv_sec == info.st_mtim.tv_sec &&
               listing.modified.tv_nsec == info.st_mtim.tv_nsec;
    }

    static bool IsSettled(const timespec& modified) {
        constexpr time_t kSettledSeconds = 2;
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return modified.tv_sec + kSettledSeconds < now.tv_sec;
    }

    static std::shared_ptr<const std::vector<HostFolderEntry>> Read(const std::string& folder) {
        DIR* dir = ::opendir(folder.c_str());
        if (!dir)
            return nullptr;
        auto entries = std::make_shared<std::vector<HostFolderEntry>>();
        while (const dirent* entry = ::readdir(dir)) {
            const std::string hostName = entry->d_name;
            if (hostName != "." && hostName != "..")
                entries->push_back({HostNameToAnsi(hostName), hostName});
        }
        ::closedir(dir);
        std::sort(entries->begin(), entries->end(), ListedBefore);
        return entries;
    }

    static bool ListedBefore(const HostFolderEntry& a, const HostFolderEntry& b) {
        const int order = CompareAnsiNoCase(a.ansiName, b.ansiName);
        return order != 0 ? order < 0 : a.hostName < b.hostName;
    }

    std::mutex m_mutex;
    std::unordered_map<std::string, FolderListing> m_listings;
};

FolderListingCache& Listings() {
    static FolderListingCache cache;
    return cache;
}

} // namespace

std::shared_ptr<const std::vector<HostFolderEntry>> ListHostFolder(const std::string& folder) {
    return Listings().List(folder);
}

namespace {

// The host spelling of `name` in a folder's listing, or empty.
std::string FindListedEntry(const std::shared_ptr<const std::vector<HostFolderEntry>>& entries,
                            const std::string& name) {
    if (!entries)
        return {};
    // Several host spellings of one Windows name: the listing's order puts
    // the same one first every time.
    auto it = std::lower_bound(entries->begin(), entries->end(), name,
                               [](const HostFolderEntry& entry, const std::string& wanted) {
                                   return CompareAnsiNoCase(entry.ansiName, wanted) < 0;
                               });
    return it != entries->end() && EqualAnsiNoCase(it->ansiName, name) ? it->hostName
                                                                       : std::string();
}

} // namespace

std::string FindHostEntry(const std::string& folder, const std::string& name) {
    const std::string exact = AnsiToHostName(name);
    if (KindOf(folder + "/" + exact) != HostKind::Missing)
        return exact;
    return FindListedEntry(ListHostFolder(folder), name);
}

namespace {

// The folder a walk of this thread last found a name missing from, past
// which it went on: a scan asks about thousands of files in one removed
// folder. `path` is the missing name's host spelling below `folder`.
struct MissingFolder {
    std::string folder;
    std::string name;
    std::string path;
};
thread_local MissingFolder t_missingFolder;

// Whether `exact` lies below the folder found missing last, and that folder
// is still missing: the listing of the folder above it, as trusted as any
// (unchanged since read), still lacks the name. Then nothing below it can
// be there, whatever the case of the rest, and the looks at the path and the
// folders on it would only find that again.
bool BelowMissingFolder(const std::string& exact) {
    const MissingFolder& missing = t_missingFolder;
    if (missing.path.empty() || exact.size() <= missing.path.size() ||
        exact[missing.path.size()] != '/' || exact.compare(0, missing.path.size(), missing.path) != 0)
        return false;
    struct stat info {};
    return ::stat(missing.folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           FindListedEntry(Listings().List(missing.folder, info), missing.name).empty();
}

} // namespace

DWORD WalkHostPath(const std::string& hostRoot, const std::vector<std::string>& names, size_t count,
                   std::string* hostPath) {
    // Most paths are spelled as the host holds them: one look at the whole
    // path answers for every name on it, as an exact spelling wins anyway.
    std::string exact = hostRoot;
    for (size_t i = 0; i < count; ++i)
        exact += "/" + AnsiToHostName(names[i]);
    if (BelowMissingFolder(exact)) {
        *hostPath = t_missingFolder.path;
        return ERROR_PATH_NOT_FOUND;
    }
    if (count > 0 && KindOf(exact) != HostKind::Missing) {
        *hostPath = std::move(exact);
        return ERROR_SUCCESS;
    }
    // A scan's misses mostly lie in a folder spelled as the host holds it,
    // or just below one: the walk below would reach that very folder name by
    // name, so the walk starts there, from the name after it, whose exact
    // spelling is known to be missing. Two levels up at most, so that a
    // path missing from near the root costs no more looks than the walk.
    std::string host = hostRoot;
    size_t first = 0;
    struct stat info {};
    bool listedFirst = false;
    size_t end = exact.size();
    for (size_t up = 1; up <= 2 && up < count; ++up) {
        end = exact.rfind('/', end - 1);
        std::string prefix = exact.substr(0, end);
        if (::stat(prefix.c_str(), &info) != 0)
            continue;
        if (!S_ISDIR(info.st_mode)) // a file on the way: the walk says which error
            break;
        host = std::move(prefix);
        first = count - up;
        listedFirst = true;
        break;
    }
    for (size_t i = first; i < count; ++i) {
        const bool last = i + 1 == count;
        const std::string entry = listedFirst && i == first
                                      ? FindListedEntry(Listings().List(host, info), names[i])
                                      : FindHostEntry(host, names[i]);
        if (entry.empty()) {
            *hostPath = host + "/" + AnsiToHostName(names[i]);
            if (last)
                return ERROR_FILE_NOT_FOUND;
            t_missingFolder = MissingFolder{host, names[i], *hostPath};
            return ERROR_PATH_NOT_FOUND;
        }
        host += "/" + entry;
        if (!last && KindOf(host) != HostKind::Folder)
            return ERROR_PATH_NOT_FOUND;
    }
    *hostPath = host;
    return ERROR_SUCCESS;
}

namespace {

// Windows hands FindFirstFile patterns to the file system with three DOS
// wildcards in place of some `?`, `*` and `.`; these stand for them.
enum PatternToken : int { kAnyRun = 256, kDosStar, kDosQm, kDosDot };

std::vector<int> TranslatePattern(std::string_view pattern) {
    std::vector<int> tokens;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
        if (c == '?')
            tokens.push_back(kDosQm);
        else if (c == '*')
            tokens.push_back(next == '.' ? kDosStar : kAnyRun);
        else if (c == '.' && (next == '?' || next == '*' || next == '\0'))
            tokens.push_back(kDosDot);
        else
            tokens.push_back(UpperAnsi(static_cast<unsigned char>(c)));
    }
    return tokens;
}

class DosMatcher {
public:
    DosMatcher(std::vector<int> tokens, std::string_view name)
        : m_tokens(std::move(tokens)), m_name(name), m_lastDot(name.rfind('.')),
          m_memo((m_tokens.size() + 1) * (name.size() + 1), kUnknown) {}

    bool Matches() { return Match(0, 0); }

private:
    static constexpr signed char kUnknown = -1;

    bool Match(size_t t, size_t n) {
        signed char& memo = m_memo[t * (m_name.size() + 1) + n];
        if (memo == kUnknown)
            memo = Compute(t, n) ? 1 : 0;
        return memo == 1;
    }

    bool Compute(size_t t, size_t n) {
        const size_t end = m_name.size();
        if (t == m_tokens.size())
            return n == end;
        const bool atEnd = n == end;
        switch (m_tokens[t]) {
        case kAnyRun:
            for (size_t k = n; k <= end; ++k) {
                if (Match(t + 1, k))
                    return true;
            }
            return false;
        case kDosStar: {
            // Eats anything but the name's last dot.
            const size_t limit =
                (m_lastDot != std::string_view::npos && m_lastDot >= n) ? m_lastDot : end;
            for (size_t k = n; k <= limit; ++k) {
                if (Match(t + 1, k))
                    return true;
            }
            return false;
        }
        case kDosQm:
            if (atEnd || m_name[n] == '.')
                return Match(t + 1, n);
            return Match(t + 1, n + 1);
        case kDosDot:
            if (atEnd)
                return Match(t + 1, n);
            return m_name[n] == '.' && Match(t + 1, n + 1);
        default:
            return !atEnd && UpperAnsi(static_cast<unsigned char>(m_name[n])) == m_tokens[t] &&
                   Match(t + 1, n + 1);
        }
    }

    std::vector<int> m_tokens;
    std::string_view m_name;
    size_t m_lastDot;
    std::vector<signed char> m_memo;
};

} // namespace

bool MatchesDosPattern(std::string_view pattern, std::string_view name) {
    return DosMatcher(TranslatePattern(pattern), name).Matches();
}

} // namespace win32sim::detail
