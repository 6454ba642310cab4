// The simulated process environment and the folders Windows reports: the
// Windows and system directories and the shell's special folders.
#include "codepage.h"
#include "machine_parts.h"

#include <ctime>
#include <mutex>
#include <sys/time.h>

namespace win32sim::detail {
namespace {

using Variables = std::vector<std::pair<std::string, std::string>>;

std::mutex g_mutex;
Variables g_variables;      // names unique ignoring case, first spelling kept
Variables g_initialFolders; // the variables as the machine started, for the special folders

Variables::iterator FindVariable(Variables& variables, std::string_view name) {
    for (auto it = variables.begin(); it != variables.end(); ++it) {
        if (EqualAnsiNoCase(it->first, name))
            return it;
    }
    return variables.end();
}

bool LookUp(std::string_view name, std::string* value) {
    std::lock_guard lock(g_mutex);
    auto it = FindVariable(g_variables, name);
    if (it == g_variables.end())
        return false;
    *value = it->second;
    return true;
}

// One pass of expansion as Windows does it: a %NAME% that is not defined
// stays as written, and the scan goes on at its closing '%', which may open
// the next name.
std::string Expand(std::string_view source) {
    std::string out;
    size_t i = 0;
    while (i < source.size()) {
        if (source[i] != '%') {
            out.push_back(source[i++]);
            continue;
        }
        const size_t close = source.find('%', i + 1);
        std::string value;
        if (close != std::string_view::npos && close > i + 1 &&
            LookUp(source.substr(i + 1, close - i - 1), &value)) {
            out += value;
            i = close + 1;
        } else {
            out.push_back('%');
            ++i;
        }
    }
    return out;
}

// Windows' ANSI form reserves one byte more than it reports on success, so
// a buffer of exactly the reported size is refused.
constexpr DWORD kAnsiExpansionSlack = 1;

std::string Initial(std::string_view name, std::string fallback) {
    std::lock_guard lock(g_mutex);
    auto it = FindVariable(g_initialFolders, name);
    return it == g_initialFolders.end() ? fallback : it->second;
}

std::string SystemDriveRoot() {
    return CurrentConfig().windowsDir.substr(0, 2);
}

std::string SpecialFolder(int csidl) {
    const std::string windows = CurrentConfig().windowsDir;
    const std::string programData = Initial("ProgramData", SystemDriveRoot() + "\\ProgramData");
    const std::string appData =
        Initial("APPDATA",
                Initial("USERPROFILE", SystemDriveRoot() + "\\Users\\User") + "\\AppData\\Roaming");
    switch (csidl) {
    case CSIDL_WINDOWS:
        return windows;
    case CSIDL_SYSTEM:
        return windows + "\\system32";
    case CSIDL_FONTS:
        return windows + "\\Fonts";
    case CSIDL_PROGRAM_FILES:
        return Initial("ProgramFiles", SystemDriveRoot() + "\\Program Files");
    case CSIDL_APPDATA:
        return appData;
    case CSIDL_TEMPLATES:
        return appData + "\\Microsoft\\Windows\\Templates";
    case CSIDL_COMMON_APPDATA:
        return programData;
    case CSIDL_COMMON_TEMPLATES:
        return programData + "\\Microsoft\\Windows\\Templates";
    default:
        return {};
    }
}

// The GetWindowsDirectoryA family: length without the zero when it fits,
// else the size needed with the zero and the buffer untouched.
UINT CopyFolder(const std::string& folder, LPSTR buffer, UINT size) {
    if (size <= folder.size())
        return static_cast<UINT>(folder.size() + 1);
    folder.copy(buffer, folder.size());
    buffer[folder.size()] = '\0';
    return static_cast<UINT>(folder.size());
}

} // namespace

void ResetEnvironment(const std::vector<std::pair<std::string, std::string>>& variables) {
    Variables fresh;
    for (const auto& [name, value] : variables) {
        auto it = FindVariable(fresh, name);
        if (it == fresh.end())
            fresh.emplace_back(name, value);
        else
            it->second = value;
    }
    std::lock_guard lock(g_mutex);
    g_variables = fresh;
    g_initialFolders = std::move(fresh);
}

} // namespace win32sim::detail

using namespace win32sim;
using namespace win32sim::detail;

extern "C" {

DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
    const std::string expanded = Expand(lpSrc ? lpSrc : "");
    const DWORD reported = static_cast<DWORD>(expanded.size() + 1);
    if (!lpDst)
        nSize = 0;
    if (nSize < reported + kAnsiExpansionSlack) {
        if (lpDst && nSize > 0)
            lpDst[0] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return reported + kAnsiExpansionSlack;
    }
    expanded.copy(lpDst, expanded.size());
    lpDst[expanded.size()] = '\0';
    return reported;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    std::string value;
    if (!lpName || !LookUp(lpName, &value)) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    if (nSize <= value.size())
        return static_cast<DWORD>(value.size() + 1);
    value.copy(lpBuffer, value.size());
    lpBuffer[value.size()] = '\0';
    return static_cast<DWORD>(value.size());
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
    if (!lpName || !*lpName || std::strchr(lpName, '=')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(g_mutex);
    auto it = FindVariable(g_variables, lpName);
    if (!lpValue) {
        if (it != g_variables.end())
            g_variables.erase(it);
    } else if (it != g_variables.end()) {
        it->second = lpValue;
    } else {
        g_variables.emplace_back(lpName, lpValue);
    }
    return TRUE;
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyFolder(CurrentConfig().windowsDir, lpBuffer, uSize);
}

// The real System32, as Windows reports it to 32-bit processes too; their
// accesses to it are redirected later, by the file functions.
UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyFolder(CurrentConfig().windowsDir + "\\system32", lpBuffer, uSize);
}

UINT WINAPI GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize) {
    return CopyFolder(CurrentConfig().windowsDir + "\\SysWOW64", lpBuffer, uSize);
}

BOOL WINAPI SHGetSpecialFolderPathA(void* /*hwnd*/, LPSTR pszPath, int csidl, BOOL fCreate) {
    const std::string folder = SpecialFolder(csidl);
    if (folder.empty() || folder.size() >= MAX_PATH) {
        if (pszPath)
            pszPath[0] = '\0';
        return FALSE;
    }
    if (fCreate && GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // Create the chain of folders down to the special folder.
        for (size_t cut = folder.find('\\', 3);; cut = folder.find('\\', cut + 1)) {
            CreateDirectoryA(folder.substr(0, cut).c_str(), nullptr);
            if (cut == std::string::npos)
                break;
        }
    }
    folder.copy(pszPath, folder.size());
    pszPath[folder.size()] = '\0';
    return TRUE;
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    timeval now;
    ::gettimeofday(&now, nullptr);
    tm local;
    ::localtime_r(&now.tv_sec, &local);
    lpSystemTime->wYear = static_cast<WORD>(local.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(local.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(local.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(local.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(local.tm_min);
    lpSystemTime->wSecond = static_cast<WORD>(local.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
}

} // extern "C"
