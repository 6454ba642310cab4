// Stub implementations: replaced area by area.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <windows.h>

extern "C" {
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI FindClose(HANDLE hFindFile) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten, LPVOID lpOverlapped) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, LPVOID lpOverlapped) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
DWORD WINAPI GetLogicalDrives(void) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
UINT WINAPI GetDriveTypeA(LPCSTR lpRootPathName) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI Wow64DisableWow64FsRedirection(PVOID* OldValue) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI Wow64RevertWow64FsRedirection(PVOID OlValue) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
}

#include "machine_parts.h"
namespace win32sim::detail {
void ResetFiles(const MachineConfig&) {}
}
