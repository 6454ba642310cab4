// Stub implementations: replaced area by area.
#pragma GCC diagnostic ignored "-Wunused-parameter"
#include <windows.h>

extern "C" {
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte, LPWSTR lpWideCharStr, int cchWideChar) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
UINT WINAPI GetACP(void) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
UINT WINAPI GetOEMCP(void) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
BSTR WINAPI SysAllocString(const OLECHAR* psz) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
void WINAPI SysFreeString(BSTR bstrString) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
}
UINT WINAPI SysStringLen(BSTR pbstr) {
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return 0;
}
}
