// Stub implementations: replaced area by area.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <windows.h>

extern "C" {
LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions, REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor, PFILETIME lpftLastWriteTime) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, DWORD Reserved) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
LONG WINAPI RegCloseKey(HKEY hKey) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
}

#include "machine_parts.h"
namespace win32sim::detail {
void ResetRegistry(const MachineConfig&) {}
void AddKeyDenial(const DeniedKey&) {}
void EnterRegistryPrivilege() {}
void LeaveRegistryPrivilege() {}
}
