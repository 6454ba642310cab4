// Files and drives of the simulated machine: drive letters mapped to host
// folders, Windows path rules over them (files_path.h), and the WOW64
// redirection of the system folder for a 32-bit process on 64-bit Windows.
#include "codepage.h"
#include "files_hostnames.h"
#include "files_lookup.h"
#include "files_objects.h"
#include "files_path.h"
#include "machine_parts.h"

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <shared_mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace win32sim::detail {
namespace {

struct FileSystem {
    std::vector<DriveSpec> drives;
    char systemDrive = 'C';
    std::vector<std::string> windowsNames; // the Windows folder below its drive's root
    bool wow64Process = true;
};

std::shared_mutex g_mutex;
FileSystem g_fs;

// Redirection is per thread and starts on; a machine reset turns it back on
// for every thread by moving to a new generation.
std::atomic<uint64_t> g_generation{1};
struct ThreadRedirection {
    uint64_t generation = 0;
    bool disabled = false;
};
thread_local ThreadRedirection t_redirection;

bool RedirectionDisabledHere() {
    return t_redirection.generation == g_generation.load() && t_redirection.disabled;
}

void SetRedirectionDisabledHere(bool disabled) {
    t_redirection = {g_generation.load(), disabled};
}

struct QueryTally {
    std::atomic<bool> running{false};
    std::mutex mutex;
    unsigned long long calls = 0;
    // Upper-cased path -> its first spelling.
    std::unordered_map<std::string, std::string> paths;
};

QueryTally& Tally() {
    static QueryTally tally;
    return tally;
}

void NoteFileQuery(LPCSTR path) {
    QueryTally& tally = Tally();
    if (!tally.running.load(std::memory_order_relaxed) || !path)
        return;
    std::lock_guard lock(tally.mutex);
    ++tally.calls;
    tally.paths.emplace(UpperAnsi(path), path);
}

FileSystem Snapshot() {
    std::shared_lock lock(g_mutex);
    return g_fs;
}

const DriveSpec* FindDrive(const FileSystem& fs, char letter) {
    for (const auto& drive : fs.drives) {
        if (drive.letter == letter)
            return &drive;
    }
    return nullptr;
}

// System32 entries that WOW64 leaves alone: the same files serve both kinds
// of process.
bool IsRedirectionExempt(const std::vector<std::string>& names, size_t first) {
    if (first >= names.size())
        return false;
    for (const char* exempt : {"catroot", "catroot2", "driverstore", "logfiles", "spool"}) {
        if (EqualAnsiNoCase(names[first], exempt))
            return true;
    }
    return EqualAnsiNoCase(names[first], "drivers") && first + 1 < names.size() &&
           EqualAnsiNoCase(names[first + 1], "etc");
}

// A 32-bit process asking for <windows>\System32 gets <windows>\SysWOW64
// unless it switched redirection off; <windows>\Sysnative is its way to the
// real System32.
void ApplyRedirection(const FileSystem& fs, WindowsPath* path) {
    if (!fs.wow64Process || path->drive != fs.systemDrive ||
        !StartsWithNames(path->names, fs.windowsNames))
        return;
    std::string& folder = path->names[fs.windowsNames.size()];
    if (EqualAnsiNoCase(folder, "Sysnative"))
        folder = "System32";
    else if (EqualAnsiNoCase(folder, "System32") && !RedirectionDisabledHere() &&
             !IsRedirectionExempt(path->names, fs.windowsNames.size() + 1))
        folder = "SysWOW64";
}

// A path text resolved to its drive's host folder.
struct Located {
    WindowsPath path;
    std::string hostRoot;
    UINT driveType = DRIVE_FIXED;
};

DWORD Locate(LPCSTR text, bool wildcardsAllowedInLast, Located* out) {
    if (!text)
        return ERROR_PATH_NOT_FOUND;
    const FileSystem fs = Snapshot();
    if (DWORD status = ParseWindowsPath(text, fs.systemDrive, &out->path))
        return status;
    const auto& names = out->path.names;
    for (size_t i = 0; i < names.size(); ++i) {
        if (HasWildcard(names[i]) && !(wildcardsAllowedInLast && i + 1 == names.size()))
            return ERROR_INVALID_NAME;
    }
    const DriveSpec* drive = FindDrive(fs, out->path.drive);
    if (!drive)
        return ERROR_PATH_NOT_FOUND;
    out->hostRoot = drive->hostFolder;
    out->driveType = drive->type;
    ApplyRedirection(fs, &out->path);
    return ERROR_SUCCESS;
}

// The host folder that is to hold the last name of a located path.
DWORD LocateParent(const Located& located, std::string* hostParent) {
    const auto& names = located.path.names;
    DWORD status = WalkHostPath(located.hostRoot, names, names.size() - 1, hostParent);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_PATH_NOT_FOUND;
    if (status == ERROR_SUCCESS && KindOf(*hostParent) != HostKind::Folder)
        return ERROR_PATH_NOT_FOUND;
    return status;
}

// The host path of an existing file or folder.
DWORD LocateExisting(const Located& located, std::string* hostPath) {
    const auto& names = located.path.names;
    if (DWORD status = WalkHostPath(located.hostRoot, names, names.size(), hostPath))
        return status;
    // "file.txt\" names a folder that cannot exist.
    if (located.path.trailingSeparator && KindOf(*hostPath) == HostKind::File)
        return ERROR_PATH_NOT_FOUND;
    return ERROR_SUCCESS;
}

FILETIME ToFileTime(const timespec& time) {
    // FILETIME counts 100 ns steps since 1601-01-01.
    constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ull;
    const uint64_t ticks =
        (static_cast<uint64_t>(time.tv_sec) + kSecondsFrom1601To1970) * 10000000ull +
        static_cast<uint64_t>(time.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

DWORD AttributesOf(const struct stat& info) {
    if (S_ISDIR(info.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    DWORD attributes = FILE_ATTRIBUTE_ARCHIVE; // what a freshly written file carries
    if (!(info.st_mode & S_IWUSR))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes;
}

bool FillFindData(const std::string& hostPath, const std::string& ansiName,
                  WIN32_FIND_DATAA* data) {
    struct stat info;
    if (::stat(hostPath.c_str(), &info) != 0 || ansiName.size() >= MAX_PATH)
        return false;
    *data = WIN32_FIND_DATAA{};
    data->dwFileAttributes = AttributesOf(info);
    data->ftCreationTime = ToFileTime(info.st_ctim);
    data->ftLastAccessTime = ToFileTime(info.st_atim);
    data->ftLastWriteTime = ToFileTime(info.st_mtim);
    if (!S_ISDIR(info.st_mode)) {
        const auto size = static_cast<uint64_t>(info.st_size);
        data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data->nFileSizeLow = static_cast<DWORD>(size);
    }
    ansiName.copy(data->cFileName, ansiName.size());
    return true;
}

// The entries of a host folder that match a pattern, in the order NTFS lists
// them: "." and ".." first (not in a drive's root), then by upper-cased name.
std::vector<WIN32_FIND_DATAA> ListMatches(const std::string& hostFolder, bool isRoot,
                                          const std::string& pattern) {
    std::vector<WIN32_FIND_DATAA> matches;
    const auto take = [&](const std::string& ansiName, const std::string& hostName) {
        WIN32_FIND_DATAA data;
        if (MatchesDosPattern(pattern, ansiName) &&
            FillFindData(hostFolder + "/" + hostName, ansiName, &data))
            matches.push_back(data);
    };
    if (!isRoot) {
        take(".", ".");
        take("..", "..");
    }
    if (const auto listed = ListHostFolder(hostFolder)) {
        for (const HostFolderEntry& entry : *listed)
            take(entry.ansiName, entry.hostName);
    }
    return matches;
}

// Splits a FindFirstFileA text into its folder part and its last name as
// written: the path rules would strip the trailing dot that makes "*."
// mean "names without a dot".
void SplitSearchText(const std::string& text, std::string* folder, std::string* pattern) {
    const size_t separator = text.find_last_of("\\/");
    if (separator != std::string::npos) {
        *folder = text.substr(0, separator + 1);
        *pattern = text.substr(separator + 1);
    } else if (text.size() >= 2 && text[1] == ':') {
        *folder = text.substr(0, 2);
        *pattern = text.substr(2);
    } else {
        *folder = "\\";
        *pattern = text;
    }
}

DWORD FindByPattern(const std::string& text, std::vector<WIN32_FIND_DATAA>* matches) {
    std::string folderText, pattern;
    SplitSearchText(text, &folderText, &pattern);
    for (unsigned char c : pattern) {
        if (IsInvalidNameChar(c))
            return ERROR_INVALID_NAME;
    }
    Located located;
    if (DWORD status = Locate(folderText.c_str(), false, &located))
        return status;
    std::string hostFolder;
    if (DWORD status = LocateExisting(located, &hostFolder))
        return status == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : status;
    if (KindOf(hostFolder) != HostKind::Folder)
        return ERROR_PATH_NOT_FOUND;
    *matches = ListMatches(hostFolder, located.path.names.empty(), pattern);
    return matches->empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

// Without wildcards the last name follows the ordinary path rules and finds
// at most the one entry of that name.
DWORD FindExact(const std::string& text, std::vector<WIN32_FIND_DATAA>* matches) {
    Located located;
    if (DWORD status = Locate(text.c_str(), false, &located))
        return status;
    if (located.path.names.empty())
        return ERROR_FILE_NOT_FOUND;
    std::string hostParent;
    if (DWORD status = LocateParent(located, &hostParent))
        return status;
    const std::string hostName = FindHostEntry(hostParent, located.path.names.back());
    WIN32_FIND_DATAA data;
    if (hostName.empty() ||
        !FillFindData(hostParent + "/" + hostName, HostNameToAnsi(hostName), &data))
        return ERROR_FILE_NOT_FOUND;
    matches->push_back(data);
    return ERROR_SUCCESS;
}

template <class T> T Fail(DWORD error, T result) {
    SetLastError(error);
    return result;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

struct OpenRequest {
    bool read = false;
    bool write = false;
    // Append access without write access: every write goes to the end.
    bool appendOnly = false;
};

OpenRequest AccessWanted(DWORD desiredAccess) {
    constexpr DWORD kReadData = 0x0001, kWriteData = 0x0002, kAppendData = 0x0004;
    OpenRequest request;
    request.read = desiredAccess & (GENERIC_READ | GENERIC_ALL | kReadData);
    request.write = desiredAccess & (GENERIC_WRITE | GENERIC_ALL | kWriteData | kAppendData);
    request.appendOnly = !(desiredAccess & (GENERIC_WRITE | GENERIC_ALL | kWriteData)) &&
                         (desiredAccess & kAppendData);
    return request;
}

int OpenFlags(const OpenRequest& request) {
    const int append = request.appendOnly ? O_APPEND : 0;
    if (request.read && request.write)
        return O_RDWR | append;
    return request.write ? O_WRONLY | append : O_RDONLY;
}

// Opens or creates a file by CreateFileA's disposition rules. `lastError`
// receives what a successful call leaves in GetLastError (183 when an
// existing file was opened by a creating disposition).
DWORD OpenHostFile(const std::string& hostPath, bool exists, DWORD disposition,
                   const OpenRequest& request, int* fd, DWORD* lastError) {
    int flags = OpenFlags(request) | O_CLOEXEC;
    *lastError = ERROR_SUCCESS;
    switch (disposition) {
    case CREATE_NEW:
        if (exists)
            return ERROR_FILE_EXISTS;
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        *lastError = exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
        break;
    case OPEN_EXISTING:
        if (!exists)
            return ERROR_FILE_NOT_FOUND;
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        *lastError = exists ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
        break;
    case TRUNCATE_EXISTING:
        if (!exists)
            return ERROR_FILE_NOT_FOUND;
        if (!request.write)
            return ERROR_INVALID_PARAMETER;
        flags |= O_TRUNC;
        break;
    default:
        return ERROR_INVALID_PARAMETER;
    }
    // Truncation needs a writable descriptor even when only reading was asked for.
    if ((flags & O_TRUNC) && !request.write)
        flags = (flags & ~O_ACCMODE) | O_RDWR;
    *fd = ::open(hostPath.c_str(), flags, 0666);
    return *fd < 0 ? ErrorFromErrno(errno) : ERROR_SUCCESS;
}

} // namespace

std::string HostFileOfMachineFile(const std::string& windowsPath) {
    Located located;
    std::string hostPath;
    if (Locate(windowsPath.c_str(), false, &located) != ERROR_SUCCESS ||
        located.path.names.empty() || LocateExisting(located, &hostPath) != ERROR_SUCCESS)
        return {};
    return KindOf(hostPath) == HostKind::File ? hostPath : std::string();
}

OpenFile::~OpenFile() {
    ::close(m_fd);
}

bool FindSearch::Next(WIN32_FIND_DATAA* data) {
    std::lock_guard lock(m_mutex);
    if (m_next >= m_matches.size())
        return false;
    *data = m_matches[m_next++];
    return true;
}

void ResetFiles(const MachineConfig& config) {
    FileSystem fs;
    fs.drives = config.drives;
    fs.wow64Process = config.wow64Process;
    WindowsPath windows;
    if (ParseWindowsPath(config.windowsDir, 'C', &windows) == ERROR_SUCCESS) {
        fs.systemDrive = windows.drive;
        fs.windowsNames = windows.names;
    }
    {
        std::unique_lock lock(g_mutex);
        g_fs = std::move(fs);
    }
    ++g_generation;
}

} // namespace win32sim::detail

namespace win32sim {

namespace {

// HM_SIM_WRITE_FAULT=N (or N+, every one from the Nth) arms the fault in a
// whole program, for tests that run the host as a person does.
FileWriteFault FaultFromEnvironment() {
    FileWriteFault fault;
    if (const char* text = std::getenv("HM_SIM_WRITE_FAULT")) {
        char* end = nullptr;
        fault.nth = std::strtoul(text, &end, 10);
        fault.everyAfter = end != nullptr && *end == '+';
    }
    return fault;
}

std::mutex g_faultMutex;
FileWriteFault g_fault = FaultFromEnvironment();
unsigned long g_writesCounted = 0;

} // namespace

void SetFileWriteFault(const FileWriteFault& fault) {
    std::lock_guard lock(g_faultMutex);
    g_fault = fault;
    g_writesCounted = 0;
}

unsigned long FileWritesCounted() {
    std::lock_guard lock(g_faultMutex);
    return g_writesCounted;
}

namespace detail {
// Counts one write or rename; its error when the armed fault hits it, else 0.
DWORD InjectedWriteFault() {
    std::lock_guard lock(g_faultMutex);
    const unsigned long step = ++g_writesCounted;
    const bool hit = g_fault.nth != 0 && (step == g_fault.nth ||
                                          (g_fault.everyAfter && step > g_fault.nth));
    return hit ? g_fault.error : 0;
}
} // namespace detail

void StartFileQueryTally() {
    detail::QueryTally& tally = detail::Tally();
    std::lock_guard lock(tally.mutex);
    tally.calls = 0;
    tally.paths.clear();
    tally.running = true;
}

FileQueryTally StopFileQueryTally() {
    detail::QueryTally& tally = detail::Tally();
    std::lock_guard lock(tally.mutex);
    tally.running = false;
    FileQueryTally result{tally.calls, tally.paths.size(), {}};
    result.paths.reserve(tally.paths.size());
    for (const auto& entry : tally.paths)
        result.paths.push_back(entry.second);
    return result;
}

} // namespace win32sim

using namespace win32sim;
using namespace win32sim::detail;

extern "C" {

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    NoteFileQuery(lpFileName);
    Located located;
    if (DWORD status = Locate(lpFileName, false, &located))
        return Fail(status, INVALID_FILE_ATTRIBUTES);
    std::string hostPath;
    if (DWORD status = LocateExisting(located, &hostPath))
        return Fail(status, INVALID_FILE_ATTRIBUTES);
    struct stat info;
    if (::stat(hostPath.c_str(), &info) != 0)
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_FILE_ATTRIBUTES);
    return AttributesOf(info);
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    NoteFileQuery(lpFileName);
    if (!lpFileName || !*lpFileName)
        return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
    const std::string text = lpFileName;
    std::string folderText, pattern;
    SplitSearchText(text, &folderText, &pattern);
    if (pattern.empty()) // "folder\" and "C:\" search for nothing
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    std::vector<WIN32_FIND_DATAA> matches;
    const DWORD status =
        HasWildcard(pattern) ? FindByPattern(text, &matches) : FindExact(text, &matches);
    if (status != ERROR_SUCCESS)
        return Fail(status, INVALID_HANDLE_VALUE);
    auto search = std::make_shared<FindSearch>(std::move(matches));
    search->Next(lpFindFileData);
    return InsertHandle(std::move(search));
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    auto search = LookupHandleAs<FindSearch>(hFindFile);
    if (!search)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!search->Next(lpFindFileData))
        return Fail(ERROR_NO_MORE_FILES, FALSE);
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!LookupHandleAs<FindSearch>(hFindFile))
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    return RemoveHandle(hFindFile) ? TRUE : FALSE;
}

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD /*dwShareMode*/,
                          LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                          DWORD dwCreationDisposition, DWORD /*dwFlagsAndAttributes*/,
                          HANDLE /*hTemplateFile*/) {
    Located located;
    if (DWORD status = Locate(lpFileName, false, &located))
        return Fail(status, INVALID_HANDLE_VALUE);
    if (located.path.names.empty())
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    std::string hostParent;
    if (DWORD status = LocateParent(located, &hostParent))
        return Fail(status, INVALID_HANDLE_VALUE);
    const std::string& name = located.path.names.back();
    std::string hostName = FindHostEntry(hostParent, name);
    const bool exists = !hostName.empty();
    if (!exists)
        hostName = AnsiToHostName(name); // a new file keeps the case it was given
    const std::string hostPath = hostParent + "/" + hostName;
    if (KindOf(hostPath) == HostKind::Folder)
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    if (located.path.trailingSeparator)
        return Fail(exists ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME, INVALID_HANDLE_VALUE);
    const OpenRequest request = AccessWanted(dwDesiredAccess);
    int fd = -1;
    DWORD lastError = ERROR_SUCCESS;
    if (DWORD status =
            OpenHostFile(hostPath, exists, dwCreationDisposition, request, &fd, &lastError))
        return Fail(status, INVALID_HANDLE_VALUE);
    HANDLE handle = InsertHandle(std::make_shared<OpenFile>(fd, request.read, request.write));
    SetLastError(lastError);
    return handle;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPVOID /*lpOverlapped*/) {
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    auto file = LookupHandleAs<OpenFile>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!file->CanWrite())
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (DWORD fault = InjectedWriteFault())
        return Fail(fault, FALSE);
    const auto* bytes = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        const ssize_t count = ::write(file->Fd(), bytes + done, nNumberOfBytesToWrite - done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return Fail(errno == ENOSPC ? 112u /* ERROR_DISK_FULL */ : ERROR_GEN_FAILURE, FALSE);
        }
        done += static_cast<DWORD>(count);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    return TRUE;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPVOID /*lpOverlapped*/) {
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    auto file = LookupHandleAs<OpenFile>(hFile);
    if (!file)
        return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (!file->CanRead())
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    auto* bytes = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        const ssize_t count = ::read(file->Fd(), bytes + done, nNumberOfBytesToRead - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return Fail(ERROR_GEN_FAILURE, FALSE);
        if (count == 0)
            break; // end of file: success with fewer bytes
        done += static_cast<DWORD>(count);
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = done;
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    Located located;
    if (DWORD status = Locate(lpFileName, false, &located))
        return Fail(status, FALSE);
    if (located.path.names.empty())
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    std::string hostPath;
    if (DWORD status = LocateExisting(located, &hostPath))
        return Fail(status, FALSE);
    if (KindOf(hostPath) == HostKind::Folder || ::unlink(hostPath.c_str()) != 0)
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (dwFlags & ~static_cast<DWORD>(MOVEFILE_REPLACE_EXISTING))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (DWORD fault = InjectedWriteFault())
        return Fail(fault, FALSE);
    Located from;
    std::string fromHost;
    if (DWORD status = Locate(lpExistingFileName, false, &from))
        return Fail(status, FALSE);
    if (from.path.names.empty())
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (DWORD status = LocateExisting(from, &fromHost))
        return Fail(status, FALSE);
    Located to;
    std::string toParent;
    if (DWORD status = Locate(lpNewFileName, false, &to))
        return Fail(status, FALSE);
    if (to.path.names.empty())
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    if (DWORD status = LocateParent(to, &toParent))
        return Fail(status, FALSE);
    const std::string& name = to.path.names.back();
    std::string toName = FindHostEntry(toParent, name);
    if (!toName.empty()) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING))
            return Fail(ERROR_ALREADY_EXISTS, FALSE);
        if (KindOf(toParent + "/" + toName) == HostKind::Folder)
            return Fail(ERROR_ACCESS_DENIED, FALSE);
    } else {
        toName = AnsiToHostName(name); // a new name keeps the case it was given
    }
    if (::rename(fromHost.c_str(), (toParent + "/" + toName).c_str()) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/) {
    Located located;
    if (DWORD status = Locate(lpPathName, false, &located))
        return Fail(status, FALSE);
    if (located.path.names.empty())
        return Fail(ERROR_ALREADY_EXISTS, FALSE);
    std::string hostParent;
    if (DWORD status = LocateParent(located, &hostParent))
        return Fail(status, FALSE);
    const std::string& name = located.path.names.back();
    if (!FindHostEntry(hostParent, name).empty())
        return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (::mkdir((hostParent + "/" + AnsiToHostName(name)).c_str(), 0777) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    Located located;
    if (DWORD status = Locate(lpPathName, false, &located))
        return Fail(status, FALSE);
    if (located.path.names.empty())
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    std::string hostPath;
    if (DWORD status = WalkHostPath(located.hostRoot, located.path.names, located.path.names.size(),
                                    &hostPath))
        return Fail(status, FALSE);
    if (KindOf(hostPath) != HostKind::Folder)
        return Fail(ERROR_DIRECTORY, FALSE);
    if (::rmdir(hostPath.c_str()) != 0)
        return Fail(ErrorFromErrno(errno), FALSE);
    return TRUE;
}

DWORD WINAPI GetLogicalDrives(void) {
    DWORD mask = 0;
    for (const auto& drive : Snapshot().drives)
        mask |= 1u << (drive.letter - 'A');
    return mask;
}

UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
    const FileSystem fs = Snapshot();
    char letter = fs.systemDrive;
    if (lpRootPathName) {
        // Only a drive's root names a drive: "C:", "C:\" or "C:/".
        const std::string_view root = lpRootPathName;
        const bool isRoot =
            root.size() >= 2 && root[1] == ':' &&
            std::isalpha(static_cast<unsigned char>(root[0])) &&
            (root.size() == 2 || (root.size() == 3 && (root[2] == '\\' || root[2] == '/')));
        if (!isRoot)
            return DRIVE_NO_ROOT_DIR;
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    }
    const DriveSpec* drive = FindDrive(fs, letter);
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* OldValue) {
    // A 64-bit process has nothing to switch off.
    if (!Snapshot().wow64Process)
        return Fail(ERROR_INVALID_FUNCTION, FALSE);
    if (OldValue)
        *OldValue = reinterpret_cast<PVOID>(static_cast<uintptr_t>(RedirectionDisabledHere()));
    SetRedirectionDisabledHere(true);
    return TRUE;
}

BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID OlValue) {
    if (!Snapshot().wow64Process)
        return Fail(ERROR_INVALID_FUNCTION, FALSE);
    SetRedirectionDisabledHere(OlValue != nullptr);
    return TRUE;
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    char value[MAX_PATH];
    std::string path;
    for (const char* name : {"TMP", "TEMP", "USERPROFILE"}) {
        const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
        if (length > 0 && length < sizeof(value)) {
            path = value;
            break;
        }
    }
    if (path.empty()) {
        const UINT length = GetWindowsDirectoryA(value, sizeof(value));
        if (length > 0 && length < sizeof(value))
            path = value;
    }
    if (path.empty() || path.back() != '\\')
        path += '\\';
    if (nBufferLength <= path.size())
        return static_cast<DWORD>(path.size() + 1);
    path.copy(lpBuffer, path.size());
    lpBuffer[path.size()] = '\0';
    return static_cast<DWORD>(path.size());
}

} // extern "C"
