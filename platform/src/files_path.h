// Windows path rules of the stand-in's file system: how a Win32 path text
// becomes a drive and a list of names, and how that list is found on a
// case-sensitive host folder.
//
// Every file function of files.cpp goes through here, so that GetFileAttributesA,
// FindFirstFileA, CreateFileA and the folder functions agree on what a path
// means, exactly as they do on Windows.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace win32sim::detail {

// A path after Win32 normalisation: an upper-case drive letter and the names
// below its root, with `.`, `..` and empty names already resolved away.
struct WindowsPath {
    char drive = 0;
    std::vector<std::string> names;
    // The text ended in a separator: the last name must be a folder.
    bool trailingSeparator = false;
};

// Win32 normalisation. Separators are `\` and `/`; doubled ones collapse; `..`
// never climbs above the root. A name ending in one dot loses it; the last
// name loses all trailing dots and blanks unless a separator follows. The
// `\\?\` prefix turns all of that off. A path without a drive is taken from
// the root of the system drive, the simulated process's current folder.
// Returns ERROR_SUCCESS or the Win32 error the file functions report.
DWORD ParseWindowsPath(std::string_view text, char systemDrive, WindowsPath* out);

// Characters no file name may hold (wildcards included).
bool IsInvalidNameChar(unsigned char c);
bool HasWildcard(std::string_view name);

// "C:\a\b" (or "C:\" for the root).
std::string FormatWindowsPath(const WindowsPath& path);

// True when `a` is `prefix` followed by more names (names compared ignoring case).
bool StartsWithNames(const std::vector<std::string>& a, const std::vector<std::string>& prefix);

// What a host path holds.
enum class HostKind { Missing, File, Folder };
HostKind KindOf(const std::string& hostPath);

struct HostFolderEntry {
    std::string ansiName; // as the machine sees it
    std::string hostName;
};

// The entries of a host folder but "." and "..", in the order NTFS lists
// them: by upper-cased name, the host spelling breaking ties. Null when the
// folder cannot be read. Shared, and kept while the folder is unchanged.
std::shared_ptr<const std::vector<HostFolderEntry>> ListHostFolder(const std::string& folder);

// The entry of host folder `folder` whose name equals `name` ignoring case
// (an exact spelling wins over other spellings). Empty when there is none.
std::string FindHostEntry(const std::string& folder, const std::string& name);

// Walks `names` below `hostRoot`, matching each name ignoring case.
// `count` limits the walk to the first names. On success `hostPath` holds the
// host path of the last name. Errors: ERROR_PATH_NOT_FOUND when a folder on the
// way is missing or is a file, ERROR_FILE_NOT_FOUND when only the last name
// is missing (then `hostPath` holds where it would be, in the given case).
DWORD WalkHostPath(const std::string& hostRoot, const std::vector<std::string>& names, size_t count,
                   std::string* hostPath);

// DOS wildcard matching as FindFirstFileA does it: `*` and `?` are first
// rewritten the way Windows rewrites them (`?` may match nothing before a dot
// or the end, `*.` stops at the last dot, `.` before a wildcard or at the end
// may match the end of the name), then matched ignoring case.
bool MatchesDosPattern(std::string_view pattern, std::string_view name);

} // namespace win32sim::detail
