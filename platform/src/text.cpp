// Code page conversions and BSTRs.
//
// The simulated machine runs with ANSI code page 1252 and OEM code page 437.
// Conversions follow the Win32 contract the engine leans on: a length of -1
// means "up to and including the terminator" (so the count includes it), an
// output size of 0 asks for the size, and a buffer that is too small fails
// with ERROR_INSUFFICIENT_BUFFER rather than cutting the text.
#include "codepage.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using win32sim::detail::AnsiCharToUtf16;
using win32sim::detail::DecodeUtf8;
using win32sim::detail::EncodeUtf8;

enum class Charset { Ansi1252, Utf8, Unsupported };

Charset CharsetOf(UINT codePage) {
    switch (codePage) {
    case CP_ACP:
    case CP_THREAD_ACP:
    case 1252:
        return Charset::Ansi1252;
    case CP_UTF8:
        return Charset::Utf8;
    default:
        return Charset::Unsupported;
    }
}

// Copies a converted result into the caller's buffer under the size rules
// shared by both directions. Returns the count, or 0 with the last error set.
template <class Char> int Deliver(const std::basic_string<Char>& result, Char* dest, int destSize) {
    const int needed = static_cast<int>(result.size());
    if (destSize == 0)
        return needed;
    if (needed > destSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(dest, result.data(), result.size() * sizeof(Char));
    return needed;
}

// Layout of a BSTR: a 32-bit byte count, the characters, a 16-bit zero.
// The BSTR points at the characters.
constexpr size_t kBstrPrefix = sizeof(DWORD);

} // namespace

extern "C" {

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Charset charset = CharsetOf(CodePage);
    if (charset == Charset::Unsupported) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (charset == Charset::Utf8 && (dwFlags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS))) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const size_t length =
        cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const auto* bytes = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    std::u16string wide;
    if (charset == Charset::Ansi1252) {
        if (cchWideChar == 0) // one character for each byte
            return static_cast<int>(length);
        wide.resize(length);
        for (size_t i = 0; i < length; ++i)
            wide[i] = AnsiCharToUtf16(bytes[i]);
    } else if (!DecodeUtf8(std::string_view(lpMultiByteStr, length), &wide) &&
               (dwFlags & MB_ERR_INVALID_CHARS)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return Deliver(wide, lpWideCharStr, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
    (void)dwFlags;
    if (!lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const Charset charset = CharsetOf(CodePage);
    // UTF-8 has no default character: asking for one is a caller error.
    if (charset == Charset::Unsupported ||
        (charset == Charset::Utf8 && (lpDefaultChar || lpUsedDefaultChar))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = 0;
    if (cchWideChar < 0) {
        while (lpWideCharStr[length])
            ++length;
        ++length;
    } else {
        length = static_cast<size_t>(cchWideChar);
    }
    std::string narrow;
    if (charset == Charset::Utf8 && cbMultiByte == 0) // the size only
        return static_cast<int>(win32sim::detail::Utf8Size(std::u16string_view(lpWideCharStr, length)));
    if (charset == Charset::Utf8) {
        narrow = EncodeUtf8(std::u16string_view(lpWideCharStr, length));
    } else {
        const char fallback = lpDefaultChar ? *lpDefaultChar : '?';
        bool usedDefault = false;
        narrow.reserve(length);
        for (size_t i = 0; i < length; ++i) {
            unsigned char c;
            if (!win32sim::detail::Utf16ToAnsiChar(lpWideCharStr[i], &c)) {
                c = static_cast<unsigned char>(fallback);
                usedDefault = true;
            }
            narrow.push_back(static_cast<char>(c));
        }
        if (lpUsedDefaultChar)
            *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    return Deliver(narrow, lpMultiByteStr, cbMultiByte);
}

UINT WINAPI GetACP(void) {
    return 1252;
}

UINT WINAPI GetOEMCP(void) {
    return 437;
}

BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    const size_t bytes = static_cast<size_t>(ui) * sizeof(OLECHAR);
    if (bytes > 0xFFFFFFF0u) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* block =
        static_cast<unsigned char*>(std::calloc(1, kBstrPrefix + bytes + sizeof(OLECHAR)));
    if (!block)
        return nullptr;
    const DWORD byteCount = static_cast<DWORD>(bytes);
    std::memcpy(block, &byteCount, sizeof(byteCount));
    auto* text = reinterpret_cast<OLECHAR*>(block + kBstrPrefix);
    if (strIn)
        std::memcpy(text, strIn, bytes);
    return text;
}

BSTR WINAPI SysAllocString(const OLECHAR* psz) {
    if (!psz)
        return nullptr;
    UINT length = 0;
    while (psz[length])
        ++length;
    return SysAllocStringLen(psz, length);
}

void WINAPI SysFreeString(BSTR bstrString) {
    if (bstrString)
        std::free(reinterpret_cast<unsigned char*>(bstrString) - kBstrPrefix);
}

UINT WINAPI SysStringLen(BSTR pbstr) {
    if (!pbstr)
        return 0;
    DWORD byteCount;
    std::memcpy(&byteCount, reinterpret_cast<unsigned char*>(pbstr) - kBstrPrefix,
                sizeof(byteCount));
    return byteCount / sizeof(OLECHAR);
}

} // extern "C"
