#include "regfile/value_text.h"

#include "base/text.h"
#include "regfile/regfile_text.h"
#include "registry/value_types.h"

#include <cstdio>
#include <vector>

namespace regfile {
namespace {

// regedit wraps a hex list once a line passes this column.
constexpr size_t kWrapColumn = 76;

bool IsOneLineString(const BYTE* data, DWORD size) {
    if (size == 0 || data[size - 1] != 0)
        return false;
    for (DWORD i = 0; i + 1 < size; ++i) {
        if (data[i] == 0 || data[i] == '\r' || data[i] == '\n')
            return false;
    }
    return true;
}

std::vector<BYTE> CodePageUtf16(const BYTE* data, DWORD size) {
    std::vector<BYTE> bytes;
    if (size == 0)
        return bytes;
    base::WideText wide;
    if (!base::ToWide(CP_ACP, std::string_view(base::Chars(data), size), &wide))
        wide.assign(data, data + size); // not text in the code page after all: byte by byte
    for (WCHAR unit : wide) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
}

std::vector<BYTE> Utf16Of(const BYTE* data, DWORD size, TextWidening widening) {
    if (widening == TextWidening::KeepBytes)
        return std::vector<BYTE>(data, data + size);
    if (widening == TextWidening::AnsiCodePage)
        return CodePageUtf16(data, size);
    return detail::AnsiToUtf16Bytes(std::vector<BYTE>(data, data + size));
}

// Comma-separated lower-case hex bytes after `prefix`; wrapped, each
// continued line ends in a backslash and the next is indented by two.
std::string HexList(const std::string& prefix, const std::vector<BYTE>& bytes, bool wrap,
                    size_t column) {
    std::string text = prefix;
    text.reserve(prefix.size() + bytes.size() * 3);
    column += prefix.size();
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof(digits), "%02x", bytes[i]);
        text += digits;
        column += 2;
        if (i + 1 == bytes.size())
            break;
        text += ',';
        ++column;
        if (wrap && column > kWrapColumn) {
            text += "\\\r\n  ";
            column = 2;
        }
    }
    return text;
}

} // namespace

std::string FormatRegString(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        if (c == '\n')
            quoted += "\\n";
        else if (c == '\r')
            quoted += "\\r";
        else
            quoted += c;
    }
    return quoted + "\"";
}

std::string FormatRegValueName(std::string_view name) {
    return name.empty() ? std::string("@") : FormatRegString(name);
}

std::string FormatRegDword(const BYTE* data) {
    const DWORD value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                        static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    char text[16];
    std::snprintf(text, sizeof(text), "dword:%08lx", static_cast<unsigned long>(value));
    return text;
}

std::string FormatRegValueData(DWORD type, const BYTE* data, DWORD size, const RegTextStyle& style,
                               size_t column) {
    if (type == REG_SZ && style.widening != TextWidening::KeepBytes && IsOneLineString(data, size))
        return FormatRegString(std::string_view(base::Chars(data), size - 1));
    if (type == REG_DWORD && size == 4)
        return FormatRegDword(data);
    if (type == REG_BINARY)
        return HexList("hex:", std::vector<BYTE>(data, data + size), style.wrapHexLists, column);
    char prefix[24];
    std::snprintf(prefix, sizeof(prefix), "hex(%lx):", static_cast<unsigned long>(type));
    const std::vector<BYTE> bytes = IsAnsiTextType(type) ? Utf16Of(data, size, style.widening)
                                                         : std::vector<BYTE>(data, data + size);
    return HexList(prefix, bytes, style.wrapHexLists, column);
}

} // namespace regfile
