#include "regfile/value_text.h"

#include "base/text.h"
#include "regfile/regfile_text.h"
#include "registry/value_types.h"

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

std::vector<BYTE> WidenedText(const BYTE* data, DWORD size, TextWidening widening) {
    if (widening == TextWidening::AnsiCodePage)
        return CodePageUtf16(data, size);
    return detail::AnsiToUtf16Bytes(std::vector<BYTE>(data, data + size));
}

// Comma-separated lower-case hex bytes; wrapped, each continued line ends in
// a backslash and the next is indented by two. `column` is where the list
// starts on its line. A whole machine's binary data goes through here on
// every save: digits come from a table, not from a formatter.
void AppendHexList(std::string* out, const BYTE* bytes, size_t size, bool wrap, size_t column) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < size; ++i) {
        const char pair[2] = {kDigits[bytes[i] >> 4], kDigits[bytes[i] & 0x0F]};
        out->append(pair, 2);
        column += 2;
        if (i + 1 == size)
            break;
        out->push_back(',');
        ++column;
        if (wrap && column > kWrapColumn) {
            out->append("\\\r\n  ");
            column = 2;
        }
    }
}

void AppendHex(std::string* out, unsigned long value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char text[16];
    int count = 0;
    do {
        text[count++] = kDigits[value & 0x0F];
        value >>= 4;
    } while (value != 0 || count < digits);
    while (count > 0)
        out->push_back(text[--count]);
}

} // namespace

void AppendRegString(std::string* out, std::string_view text) {
    out->push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"')
            out->push_back('\\');
        if (c == '\n')
            out->append("\\n");
        else if (c == '\r')
            out->append("\\r");
        else
            out->push_back(c);
    }
    out->push_back('"');
}

std::string FormatRegString(std::string_view text) {
    std::string quoted;
    AppendRegString(&quoted, text);
    return quoted;
}

std::string FormatRegValueName(std::string_view name) {
    return name.empty() ? std::string("@") : FormatRegString(name);
}

std::string FormatRegDword(const BYTE* data) {
    std::string text;
    AppendRegValueData(&text, REG_DWORD, data, 4, {false, TextWidening::KeepBytes});
    return text;
}

void AppendRegValueData(std::string* out, DWORD type, const BYTE* data, DWORD size,
                        const RegTextStyle& style, size_t column) {
    if (type == REG_SZ && style.widening != TextWidening::KeepBytes && IsOneLineString(data, size))
        return AppendRegString(out, std::string_view(base::Chars(data), size - 1));
    if (type == REG_DWORD && size == 4) {
        const DWORD value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                            static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
        out->append("dword:");
        return AppendHex(out, value, 8);
    }
    const size_t start = out->size();
    if (type == REG_BINARY) {
        out->append("hex:");
    } else {
        out->append("hex(");
        AppendHex(out, type, 1);
        out->append("):");
    }
    column += out->size() - start;
    if (IsAnsiTextType(type) && style.widening != TextWidening::KeepBytes) {
        const std::vector<BYTE> bytes = WidenedText(data, size, style.widening);
        return AppendHexList(out, bytes.data(), bytes.size(), style.wrapHexLists, column);
    }
    AppendHexList(out, data, size, style.wrapHexLists, column);
}

std::string FormatRegValueData(DWORD type, const BYTE* data, DWORD size, const RegTextStyle& style,
                               size_t column) {
    std::string text;
    AppendRegValueData(&text, type, data, size, style, column);
    return text;
}

} // namespace regfile
