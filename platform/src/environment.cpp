// Stub implementations: replaced area by area.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <windows.h>

extern "C" {
DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
UINT WINAPI GetSystemWow64DirectoryA(LPSTR lpBuffer, UINT uSize) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI SHGetSpecialFolderPathA(void* hwnd, LPSTR pszPath, int csidl, BOOL fCreate) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
}
}

#include "machine_parts.h"
namespace win32sim::detail {
void ResetEnvironment(const std::vector<std::pair<std::string, std::string>>&) {}
}
