// Stub implementations: replaced area by area.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <windows.h>

extern "C" {
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BOOL WINAPI CloseHandle(HANDLE hObject) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
DWORD WINAPI GetCurrentThreadId(void) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
void WINAPI Sleep(DWORD dwMilliseconds) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
}
}
