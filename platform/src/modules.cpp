// Stub implementations: replaced area by area.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <windows.h>

extern "C" {
HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
}
