// The .reg reader: decodes the file to 1252 text, then reads it line by line.
//
// A line is classified by its first character ([ key, @ or " value, ;
// comment); a value's data by its leading tag, through a table of tag
// readers. Only hex data may continue on the next line (a trailing
// backslash), as regedit writes it. Errors name the physical line.
#include "regfile/regfile.h"

#include "base/text.h"
#include "regfile/regfile_text.h"
#include "registry/root_names.h"
#include "registry/value_types.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace regfile {
namespace {

using detail::AnsiToUtf16Bytes;
using detail::Utf16BytesToAnsi;

enum class Version { Regedit4, Regedit5 };

// The file's lines one at a time, read where they lie in its text: a
// machine's file is hundreds of megabytes and is never held again as a list
// of lines. Starts on the first line; at the end it keeps the last line's
// number, for messages about what the file lacks.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) : m_text(text) { Advance(); }

    bool OnLine() const { return m_onLine; }
    std::string_view Text() const { return m_line; }
    int Number() const { return m_number > 0 ? m_number : 1; }
    // Where the current line starts in the text.
    size_t LineStart() const { return static_cast<size_t>(m_line.data() - m_text.data()); }

    // Moves to the next line; false at the end of the text.
    bool Advance() {
        if (m_next >= m_text.size()) {
            m_onLine = false;
            return false;
        }
        size_t end = m_text.find('\n', m_next);
        if (end == std::string_view::npos)
            end = m_text.size();
        m_line = m_text.substr(m_next, end - m_next);
        if (!m_line.empty() && m_line.back() == '\r')
            m_line.remove_suffix(1);
        m_next = end + 1;
        ++m_number;
        m_onLine = true;
        return true;
    }

private:
    std::string_view m_text;
    size_t m_next = 0;
    std::string_view m_line;
    int m_number = 0;
    bool m_onLine = false;
};

// --- decoding ----------------------------------------------------------------------

// The file's text: UTF-16LE with BOM (regedit's own form) and UTF-8 with
// BOM as UTF-8 (`wide`), 8-bit text as the 1252 it is. Only text that needs
// converting is copied: a machine's 8-bit file is read where it lies, and
// is hundreds of megabytes.
std::string_view DecodeFile(const uint8_t* bytes, size_t size, std::string* decoded, bool* wide) {
    *wide = true;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        detail::WideText units((size - 2) / 2, WCHAR{});
        for (size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<WCHAR>(bytes[2 + 2 * i] | (bytes[3 + 2 * i] << 8));
        *decoded = detail::Utf8Of(units.data(), units.size());
        return *decoded;
    }
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        // Checked and made whole: what is not UTF-8 becomes U+FFFD.
        const detail::WideText units =
            detail::Utf16Of(std::string_view(reinterpret_cast<const char*>(bytes) + 3, size - 3));
        *decoded = detail::Utf8Of(units.data(), units.size());
        return *decoded;
    }
    *wide = false;
    return {reinterpret_cast<const char*>(bytes), size};
}

// Characters of UTF-8 text: the bytes that start one.
size_t Utf8Length(std::string_view text) {
    size_t count = 0;
    for (char c : text)
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    return count;
}

// Windows' limits on key names and on nesting below a root key.
constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxKeyDepth = 512;

// Blanks are spaces and tabs; a line's end may also keep the CR of a CR LF.
// (Tested a character at a time: asked between every two bytes of hex
// data, a search of the set of blanks was a twentieth of a machine's load.)
std::string_view TrimLeft(std::string_view text) {
    size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    return text.substr(start);
}

std::string_view Trim(std::string_view text) {
    return base::TrimRight(TrimLeft(text), " \t\r");
}

// Nothing but blanks or a comment may follow a value's data.
bool OnlyTrailer(std::string_view rest) {
    rest = TrimLeft(rest);
    return rest.empty() || rest.front() == ';';
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char c = text[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != prefix[i])
            return false;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
}

// --- the reader ----------------------------------------------------------------------

class Reader {
public:
    // `textOffset`: where the text starts in the file's bytes when it is
    // those bytes (an 8-bit file, read where it lies), else npos.
    Reader(std::string_view text, std::string sourceName, bool wide, KeyReceiver& receiver,
           size_t textOffset)
        : m_lines(text), m_sourceName(std::move(sourceName)), m_wide(wide), m_receiver(receiver),
          m_textOffset(textOffset) {}

    bool Read(std::string* error);

private:
    bool ReadHeader();
    bool ReadKeyLine(std::string_view text);
    bool ReadValueLine(std::string_view text);
    bool ReadQuoted(std::string_view* text, std::string* out);
    bool ReadData(std::string_view text, ValueOp* value);
    bool ReadString(std::string_view text, ValueOp* value);
    bool ReadDword(std::string_view text, ValueOp* value);
    bool ReadHex(std::string_view text, ValueOp* value);
    bool ReadHexBytes(std::string_view text, std::vector<BYTE>* bytes);
    bool CheckKeyNames(std::string_view path);
    bool HandOver();
    bool Fail(const std::string& what);

    LineCursor m_lines;
    std::string m_sourceName;
    Version m_version = Version::Regedit5;
    bool m_wide; // the text is UTF-8 and the script wide
    KeyReceiver& m_receiver;
    size_t m_textOffset;
    // The key being read, until the next [key] line or the end hands it over.
    std::optional<KeyOp> m_key;
    std::string m_error;
};

// What Windows refuses to create, refused here with the line, before
// anything is applied: a NUL would silently cut the name (and merge the key
// into a shorter one), and nesting beyond Windows' limit only costs time
// and stack.
bool Reader::CheckKeyNames(std::string_view path) {
    if (path.find('\0') != std::string_view::npos)
        return Fail("a key name holds a NUL character: " + detail::Abbreviated(path));
    size_t depth = 0;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos)
            end = path.size();
        const size_t length = m_wide ? Utf8Length(path.substr(start, end - start)) : end - start;
        if (length > kMaxKeyNameLength)
            return Fail("a key name of " + std::to_string(length) + " characters (at most " +
                        std::to_string(kMaxKeyNameLength) + "): " + detail::Abbreviated(path));
        // The first name is the root's.
        if (length > 0 && ++depth > kMaxKeyDepth + 1)
            return Fail("keys nested deeper than " + std::to_string(kMaxKeyDepth) +
                        " levels: " + detail::Abbreviated(path));
        start = end + 1;
    }
    return true;
}

bool Reader::Fail(const std::string& what) {
    m_error = m_sourceName + ":" + std::to_string(m_lines.Number()) + ": " + what;
    return false;
}

// Hands the key read so far to the receiver. The text before the current
// line is not read again; the receiver may give it back.
bool Reader::HandOver() {
    if (!m_key)
        return true;
    if (!m_receiver.Take(*m_key, m_wide, &m_error))
        return false;
    m_key.reset();
    if (m_textOffset != std::string_view::npos && m_lines.OnLine())
        m_receiver.Behind(m_textOffset + m_lines.LineStart());
    return true;
}

bool Reader::Read(std::string* error) {
    bool ok = ReadHeader();
    while (ok && m_lines.Advance()) {
        const std::string_view text = TrimLeft(m_lines.Text());
        if (Trim(text).empty() || text.front() == ';')
            continue;
        if (text.front() == '[')
            ok = ReadKeyLine(text);
        else if (text.front() == '@' || text.front() == '"')
            ok = ReadValueLine(text);
        else
            ok = Fail("expected a [key] line, a value line or a comment");
    }
    if (ok)
        ok = HandOver();
    if (!ok && error)
        *error = m_error;
    return ok;
}

bool Reader::ReadHeader() {
    const std::string_view header = m_lines.OnLine() ? Trim(m_lines.Text()) : std::string_view();
    if (header == "Windows Registry Editor Version 5.00")
        m_version = Version::Regedit5;
    else if (header == "REGEDIT4")
        m_version = Version::Regedit4;
    else
        return Fail("not a registry file (the first line is neither "
                    "\"Windows Registry Editor Version 5.00\" nor \"REGEDIT4\")");
    return true;
}

bool Reader::ReadKeyLine(std::string_view text) {
    const size_t close = text.rfind(']');
    if (close == std::string_view::npos)
        return Fail("missing ']' at the end of the key name");
    std::string_view path = text.substr(1, close - 1);
    KeyOp key;
    if (!path.empty() && path.front() == '-') {
        key.remove = true;
        path.remove_prefix(1);
    }
    key.keyPath = std::string(path);
    key.line = m_lines.Number();
    if (!CheckKeyNames(path))
        return false;
    HKEY root;
    std::string subkey;
    if (!SplitKeyPath(key.keyPath, RootNames::RegFileNames, &root, &subkey))
        return Fail("unknown root key in [" + std::string(path) + "]");
    if (key.remove && subkey.find_first_not_of('\\') == std::string::npos)
        return Fail("a root key cannot be deleted");
    if (!HandOver())
        return false;
    m_key = std::move(key);
    return true;
}

bool Reader::ReadValueLine(std::string_view text) {
    if (!m_key)
        return Fail("value line before the first [key] line");
    ValueOp value;
    if (text.front() == '@') {
        value.isDefault = true;
        text.remove_prefix(1);
    } else if (!ReadQuoted(&text, &value.name)) {
        return false;
    }
    text = TrimLeft(text);
    if (text.empty() || text.front() != '=')
        return Fail("missing '=' after the value name");
    text = TrimLeft(text.substr(1));
    if (!ReadData(text, &value))
        return false;
    // regedit ignores the values listed under a key it is told to delete.
    if (!m_key->remove)
        m_key->values.push_back(std::move(value));
    return true;
}

// Reads "text" with the escapes regedit writes (\\ and \") and the line
// breaks Wine's regedit writes (\n, \r); any other backslash stays as is.
bool Reader::ReadQuoted(std::string_view* text, std::string* out) {
    std::string_view rest = text->substr(1);
    for (size_t i = 0; i < rest.size(); ++i) {
        // Plain text up to the next quote or backslash goes in at once.
        size_t special = i;
        while (special < rest.size() && rest[special] != '"' && rest[special] != '\\')
            ++special;
        out->append(rest.data() + i, special - i);
        if ((i = special) == rest.size())
            break;
        const char c = rest[i];
        if (c == '"') {
            *text = rest.substr(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < rest.size()) {
            const char next = rest[++i];
            switch (next) {
            case '\\':
                out->push_back('\\');
                break;
            case '"':
                out->push_back('"');
                break;
            case 'n':
                out->push_back('\n');
                break;
            case 'r':
                out->push_back('\r');
                break;
            default:
                out->push_back('\\');
                out->push_back(next);
            }
            continue;
        }
        out->push_back(c); // a backslash at the end of the line
    }
    return Fail("missing closing '\"'");
}

bool Reader::ReadData(std::string_view text, ValueOp* value) {
    using Handler = bool (Reader::*)(std::string_view, ValueOp*);
    static const struct {
        std::string_view tag;
        Handler handler;
    } kTags[] = {
        {"\"", &Reader::ReadString},
        {"dword:", &Reader::ReadDword},
        {"hex", &Reader::ReadHex},
    };
    if (!text.empty() && text.front() == '-') {
        if (!OnlyTrailer(text.substr(1)))
            return Fail("unexpected text after '-'");
        value->remove = true;
        return true;
    }
    for (const auto& entry : kTags) {
        if (StartsWithNoCase(text, entry.tag))
            return (this->*entry.handler)(text, value);
    }
    return Fail("unrecognised value data (expected \"text\", dword:, hex: or hex(type):)");
}

bool Reader::ReadString(std::string_view text, ValueOp* value) {
    std::string decoded;
    if (!ReadQuoted(&text, &decoded))
        return false;
    if (!OnlyTrailer(text))
        return Fail("unexpected text after the closing '\"'");
    value->type = REG_SZ;
    if (m_wide) {
        value->data = detail::Utf16BytesOf(decoded);
        value->data.insert(value->data.end(), {0, 0});
        return true;
    }
    value->data.reserve(decoded.size() + 1);
    value->data.assign(decoded.begin(), decoded.end());
    value->data.push_back(0);
    return true;
}

bool Reader::ReadDword(std::string_view text, ValueOp* value) {
    text.remove_prefix(6);
    DWORD number = 0;
    size_t digits = 0;
    while (digits < text.size() && HexDigit(text[digits]) >= 0) {
        number = (number << 4) | static_cast<DWORD>(HexDigit(text[digits]));
        ++digits;
    }
    if (digits == 0 || digits > 8 || !OnlyTrailer(text.substr(digits)))
        return Fail("dword: takes one to eight hexadecimal digits");
    value->type = REG_DWORD;
    value->data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                   static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
    return true;
}

bool Reader::ReadHex(std::string_view text, ValueOp* value) {
    text.remove_prefix(3);
    DWORD type = REG_BINARY;
    if (!text.empty() && text.front() == '(') {
        const size_t close = text.find(')');
        const std::string_view digits =
            text.substr(1, close == std::string_view::npos ? 0 : close - 1);
        if (close == std::string_view::npos || digits.empty() || digits.size() > 8)
            return Fail("hex(type): takes the type as one to eight hexadecimal digits");
        type = 0;
        for (char c : digits) {
            if (HexDigit(c) < 0)
                return Fail("hex(type): takes the type as one to eight hexadecimal digits");
            type = (type << 4) | static_cast<DWORD>(HexDigit(c));
        }
        text.remove_prefix(close + 1);
    }
    if (text.empty() || text.front() != ':')
        return Fail("missing ':' after hex");
    std::vector<BYTE> bytes;
    bytes.reserve(text.size() / 3 + 1); // "xx," a byte: this line's, at least
    if (!ReadHexBytes(text.substr(1), &bytes))
        return false;
    // Version 5 files hold string types as UTF-16LE, REGEDIT4 as ANSI; the A
    // functions take ANSI, the W functions (a wide script) UTF-16LE.
    value->type = type;
    const bool utf16 = m_version == Version::Regedit5;
    if (!IsAnsiTextType(type) || utf16 == m_wide)
        value->data = std::move(bytes);
    else
        value->data = utf16 ? Utf16BytesToAnsi(bytes) : AnsiToUtf16Bytes(bytes);
    return true;
}

// Reads "xx,xx,..." up to the end of the value, following continuation lines.
bool Reader::ReadHexBytes(std::string_view text, std::vector<BYTE>* bytes) {
    for (;;) {
        // Almost every byte is "xx," with nothing around it: one step each.
        while (text.size() >= 3 && text[2] == ',') {
            const int high = HexDigit(text[0]), low = HexDigit(text[1]);
            if (high < 0 || low < 0)
                break;
            bytes->push_back(static_cast<BYTE>(high * 16 + low));
            text.remove_prefix(3);
        }
        text = TrimLeft(text);
        if (text.empty() || text.front() == ';')
            return true;
        if (text.front() == '\\' && Trim(text.substr(1)).empty()) {
            if (!m_lines.Advance())
                return Fail("the file ends inside a continued line");
            text = m_lines.Text();
            continue;
        }
        const int high = HexDigit(text[0]);
        const int low = text.size() > 1 ? HexDigit(text[1]) : -1;
        if (high < 0)
            return Fail("bad byte in hex data: '" + std::string(text.substr(0, 2)) + "'");
        bytes->push_back(static_cast<BYTE>(low < 0 ? high : high * 16 + low));
        text = TrimLeft(text.substr(low < 0 ? 1 : 2));
        if (!text.empty() && text.front() == ',')
            text.remove_prefix(1);
        else if (!text.empty() && text.front() != '\\' && text.front() != ';')
            return Fail("expected ',' between hex bytes");
    }
}

// Lines that may open a key: a whole machine's list of keys is sized once
// instead of doubling (and being held twice while it moves).
size_t CountKeyLines(std::string_view text) {
    size_t count = 0;
    for (size_t at = text.find('['); at != std::string_view::npos; at = text.find('[', at + 1))
        count += at > 0 && text[at - 1] == '\n';
    return count;
}

// Keeps every key: the whole script.
class ScriptBuilder : public KeyReceiver {
public:
    ScriptBuilder(Script& script, size_t keyLines) : m_script(script) {
        m_script.keys.reserve(keyLines);
    }
    bool Take(KeyOp& key, bool, std::string*) override {
        // A script is held whole: no key keeps room for values, nor hex data
        // (read a byte at a time) for bytes, it will not get.
        key.values.shrink_to_fit();
        for (ValueOp& value : key.values)
            value.data.shrink_to_fit();
        m_script.keys.push_back(std::move(key));
        return true;
    }

private:
    Script& m_script;
};

bool ReadText(const uint8_t* bytes, size_t size, const std::string& sourceName,
              KeyReceiver* receiver, Script* script, std::string* error) {
    std::string decoded;
    bool wide = false;
    const std::string_view text = DecodeFile(bytes, size, &decoded, &wide);
    std::optional<ScriptBuilder> builder;
    if (!receiver)
        receiver = &builder.emplace(*script, CountKeyLines(text));
    // 8-bit text is the file's bytes themselves; the rest was decoded.
    Reader reader(text, sourceName, wide, *receiver, wide ? std::string_view::npos : 0);
    if (!reader.Read(error))
        return false;
    if (script)
        script->wide = wide;
    return true;
}

} // namespace

bool Parse(const std::vector<uint8_t>& bytes, const std::string& sourceName, Script* out,
           std::string* error) {
    Script script;
    if (!ReadText(bytes.data(), bytes.size(), sourceName, nullptr, &script, error))
        return false;
    *out = std::move(script);
    return true;
}

bool ParseEach(const uint8_t* bytes, size_t size, const std::string& sourceName,
               KeyReceiver& receiver, std::string* error) {
    return ReadText(bytes, size, sourceName, &receiver, nullptr, error);
}

} // namespace regfile
