// Applying a parsed script and exporting keys, both through the registry
// API only, so the same code serves the stand-in and Windows: an 8-bit
// script through the A functions, a wide one and every export through the
// W functions, which see names and strings exactly. Values are written by
// the one .reg value writer (value_text.h); subtrees are deleted by the
// registry layer's walk.
#include "regfile/regfile.h"
#include "regfile/regfile_text.h"
#include "regfile/value_text.h"
#include "regfile/wide_walk.h"
#include "registry/key_walk.h"
#include "registry/root_names.h"
#include "registry/value_types.h"

#include <algorithm>
#include <array>
#include <utility>

namespace regfile {
namespace {

using detail::Utf16Of;
using detail::WideText;

// Every key a .reg file names is in the 64-bit view, as regedit's are.
constexpr REGSAM kView = KEY_WOW64_64KEY;

bool SplitKeyPath(const std::string& keyPath, HKEY* root, std::string* subkey) {
    return ::SplitKeyPath(keyPath, RootNames::RegFileNames, root, subkey);
}

// --- apply -------------------------------------------------------------------------

// RegSetValueExA stores a terminator the count left out whenever the byte
// after the count is zero, RegSetValueExW whenever the unit after it is; a
// non-zero guard there keeps string data that has no terminator exactly as
// it is.
LONG SetValue(HKEY key, const ValueOp& value, bool wide) {
    // Most data is short: it is guarded on the stack, not in a new block for
    // each of a machine's million values.
    std::array<BYTE, 256> small;
    std::vector<BYTE> large;
    const size_t size = value.data.size();
    BYTE* guarded = small.data();
    if (size + 2 > small.size()) {
        large.resize(size + 2);
        guarded = large.data();
    }
    std::copy(value.data.begin(), value.data.end(), guarded);
    guarded[size] = guarded[size + 1] = IsAnsiTextType(value.type) ? 1 : 0;
    if (wide)
        return RegSetValueExW(key, value.isDefault ? nullptr : Utf16Of(value.name).c_str(), 0,
                              value.type, guarded, static_cast<DWORD>(size));
    const char* name = value.isDefault ? nullptr : value.name.c_str();
    return RegSetValueExA(key, name, 0, value.type, guarded, static_cast<DWORD>(size));
}

LONG DeleteValue(HKEY key, const ValueOp& value, bool wide) {
    if (wide)
        return RegDeleteValueW(key, value.isDefault ? nullptr : Utf16Of(value.name).c_str());
    return RegDeleteValueA(key, value.isDefault ? nullptr : value.name.c_str());
}

LONG CreateKey(HKEY root, const std::string& subkey, bool wide, HKEY* created) {
    if (wide)
        return RegCreateKeyExW(root, Utf16Of(subkey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_SET_VALUE | kView, nullptr, created, nullptr);
    return RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                           KEY_SET_VALUE | kView, nullptr, created, nullptr);
}

} // namespace

// The keys applied last, outermost first, still open. A .reg file lists a
// key's subkeys right after it, so most keys are created below their
// parent's handle by one name instead of from the root by a path of five
// to ten; when that fails for any reason, the whole path is tried as before.
class KeyTrail {
public:
    // The deepest open key that `keyPath` lies below, with the rest of the
    // path; nullptr when there is none.
    HKEY Parent(const std::string& keyPath, std::string* rest) {
        while (!m_keys.empty()) {
            const std::string& path = m_keys.back().path;
            if (keyPath.size() > path.size() + 1 && keyPath[path.size()] == '\\' &&
                keyPath.compare(0, path.size(), path) == 0) {
                rest->assign(keyPath, path.size() + 1);
                return m_keys.back().key.Get();
            }
            m_keys.pop_back();
        }
        return nullptr;
    }
    HKEY Push(const std::string& keyPath, HKEY key) {
        m_keys.push_back({keyPath, Orvel::TRegKeyHandle(key)});
        return key;
    }
    void Clear() { m_keys.clear(); }

private:
    struct Entry {
        std::string path;
        Orvel::TRegKeyHandle key;
    };
    std::vector<Entry> m_keys;
};

namespace {

LONG ApplyValues(const KeyOp& op, bool wide, KeyTrail& trail, std::string* error) {
    HKEY root;
    std::string subkey;
    if (!SplitKeyPath(op.keyPath, &root, &subkey)) {
        if (error)
            *error = "unknown root key: " + op.keyPath;
        return ERROR_BAD_PATHNAME;
    }
    HKEY created = nullptr;
    std::string rest;
    // The classes root merges two hives by rules of its own: its keys keep
    // their whole path.
    const HKEY parent = root == HKEY_CLASSES_ROOT ? nullptr : trail.Parent(op.keyPath, &rest);
    LONG status = parent ? CreateKey(parent, rest, wide, &created) : ERROR_FILE_NOT_FOUND;
    if (status != ERROR_SUCCESS)
        status = CreateKey(root, subkey, wide, &created);
    if (status != ERROR_SUCCESS) {
        if (error)
            *error = "cannot create " + op.keyPath;
        return status;
    }
    const HKEY key = trail.Push(op.keyPath, created);
    for (const auto& value : op.values) {
        status = value.remove ? DeleteValue(key, value, wide) : SetValue(key, value, wide);
        if (value.remove && status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
        if (status != ERROR_SUCCESS) {
            if (error)
                *error = "cannot change value \"" + value.name + "\" of " + op.keyPath;
            return status;
        }
    }
    return ERROR_SUCCESS;
}

// The registry layer deletes through the A functions: a wide path is
// deleted only when 1252 spells it, never a '?' namesake.
LONG ApplyRemoval(const KeyOp& op, bool wide, std::string* error) {
    HKEY root;
    std::string subkey;
    std::string ansi;
    if (wide && !detail::Utf8ToAnsi(op.keyPath, &ansi)) {
        if (error)
            *error = "cannot delete " + op.keyPath + ": its name is outside the code page";
        return ERROR_INVALID_NAME;
    }
    if (!SplitKeyPath(wide ? ansi : op.keyPath, &root, &subkey) || subkey.empty()) {
        if (error)
            *error = "cannot delete " + op.keyPath;
        return ERROR_BAD_PATHNAME;
    }
    const LONG status = DeleteKeyTree(root, subkey, kView);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error)
        *error = "cannot delete " + op.keyPath;
    return status;
}

// --- export ------------------------------------------------------------------------

bool IsOneLineUtf16String(const BYTE* data, DWORD size) {
    if (size < 2 || size % 2 != 0 || data[size - 1] != 0 || data[size - 2] != 0)
        return false;
    for (DWORD i = 0; i + 2 < size; i += 2) {
        const unsigned unit = data[i] | data[i + 1] << 8;
        if (unit == 0 || unit == '\r' || unit == '\n')
            return false;
    }
    return true;
}

void UnitsOf(const BYTE* data, DWORD size, WideText* units) {
    units->resize(size / 2);
    for (size_t i = 0; i < units->size(); ++i)
        (*units)[i] = static_cast<WCHAR>(data[2 * i] | data[2 * i + 1] << 8);
}

// Writes each key as a section of .reg text: the header named by the key's
// path, then one line per value. An 8-bit export is written in 1252 as it
// goes, a UTF-16 one in UTF-8 until encoded. A whole machine goes through
// here on every save: each line is appended to the one text, and the
// pieces of a value are built in buffers kept from value to value.
class KeyExporter : public WideKeyVisitor {
public:
    KeyExporter(std::string& text, Encoding encoding, Header header)
        : m_text(text), m_ansi(encoding == Encoding::Ansi), m_header(header) {}

    bool Lossy() const { return m_lossy; }

    LONG EnterKey(const std::string& path, const std::string&) override {
        m_text.push_back('[');
        AppendText(path);
        m_text.append("]\r\n");
        return ERROR_SUCCESS;
    }
    LONG Value(const std::string& name, DWORD type, const BYTE* data, DWORD size) override;
    LONG ValuesDone() override {
        m_text.append("\r\n");
        return ERROR_SUCCESS;
    }

private:
    // UTF-8 text in the export's own form; 8-bit text spells only 1252.
    void AppendText(std::string_view utf8) {
        if (m_ansi)
            m_lossy |= !detail::AppendAnsi(utf8, &m_text);
        else
            m_text.append(utf8);
    }
    bool AppendOneLineString(const BYTE* data, DWORD size);
    void AppendHexData(DWORD type, const BYTE* data, DWORD size, size_t column);

    std::string& m_text;
    bool m_ansi;
    Header m_header;
    bool m_lossy = false;
    std::string m_head;
    std::string m_string;
    WideText m_units;
};

// REG_SZ data as "text"; false, with nothing written, when it is not one
// line or (8-bit) 1252 cannot spell it: it then goes out as exact hex(1).
bool KeyExporter::AppendOneLineString(const BYTE* data, DWORD size) {
    if (!IsOneLineUtf16String(data, size))
        return false;
    UnitsOf(data, size - 2, &m_units);
    m_string.clear();
    if (!m_ansi)
        detail::AppendUtf8(m_units.data(), m_units.size(), &m_string);
    else if (!detail::AppendAnsiOfUnits(m_units.data(), m_units.size(), &m_string))
        return false;
    AppendRegString(&m_text, m_string);
    return true;
}

LONG KeyExporter::Value(const std::string& name, DWORD type, const BYTE* data, DWORD size) {
    m_head.clear();
    if (name.empty())
        m_head.push_back('@');
    else
        AppendRegString(&m_head, name);
    m_head.push_back('=');
    AppendText(m_head);
    // Hex lists wrap by the columns of the UTF-8 line, in every form.
    const size_t column = m_head.size();
    if (type != REG_SZ || !AppendOneLineString(data, size))
        AppendHexData(type, data, size, column);
    m_text.append("\r\n");
    return ERROR_SUCCESS;
}

// REGEDIT4 holds string data as 1252 bytes, every other form as it is.
void KeyExporter::AppendHexData(DWORD type, const BYTE* data, DWORD size, size_t column) {
    constexpr RegTextStyle kStyle{true, TextWidening::KeepBytes};
    if (m_header != Header::Regedit4 || !IsAnsiTextType(type))
        return AppendRegValueData(&m_text, type, data, size, kStyle, column);
    UnitsOf(data, size, &m_units);
    m_string.clear();
    m_lossy |= !detail::AppendAnsiOfUnits(m_units.data(), m_units.size(), &m_string) || size % 2;
    AppendRegValueData(&m_text, type, reinterpret_cast<const BYTE*>(m_string.data()),
                       static_cast<DWORD>(m_string.size()), kStyle, column);
}

// The exported text as the file's bytes: 8-bit text is 1252 already.
std::string Encoded(std::string text, Encoding encoding) {
    if (encoding == Encoding::Ansi)
        return text;
    const WideText units = Utf16Of(text);
    std::string bytes(2 + 2 * units.size(), '\0');
    bytes[0] = '\xFF';
    bytes[1] = '\xFE';
    for (size_t i = 0; i < units.size(); ++i) {
        bytes[2 + 2 * i] = static_cast<char>(units[i] & 0xFF);
        bytes[3 + 2 * i] = static_cast<char>((units[i] >> 8) & 0xFF);
    }
    return bytes;
}

} // namespace

namespace {

LONG ApplyKey(const KeyOp& op, bool wide, KeyTrail& trail, std::string* error) {
    std::string what;
    if (op.remove)
        trail.Clear(); // its handles may name keys about to go
    const LONG status =
        op.remove ? ApplyRemoval(op, wide, &what) : ApplyValues(op, wide, trail, &what);
    if (status != ERROR_SUCCESS && error) {
        // The whole key path can be 100 KB; the line finds it.
        const size_t at = what.find(op.keyPath);
        if (at != std::string::npos)
            what.replace(at, op.keyPath.size(), detail::Abbreviated(op.keyPath));
        *error = "line " + std::to_string(op.line) + ": " + what + " (error " +
                 std::to_string(status) + ")";
    }
    return status;
}

} // namespace

LONG Apply(const Script& script, std::string* error) {
    KeyTrail trail;
    for (const auto& op : script.keys) {
        if (const LONG status = ApplyKey(op, script.wide, trail, error))
            return status;
    }
    return ERROR_SUCCESS;
}

LONG ApplyReleasing(Script& script, std::string* error) {
    KeyApplier applier;
    for (auto& op : script.keys) {
        if (const LONG status = applier.Apply(op, script.wide, error))
            return status;
        op = KeyOp();
    }
    script.keys.clear();
    return ERROR_SUCCESS;
}

KeyApplier::KeyApplier() : m_trail(std::make_unique<KeyTrail>()) {}
KeyApplier::~KeyApplier() = default;

LONG KeyApplier::Apply(const KeyOp& key, bool wide, std::string* error) {
    return ApplyKey(key, wide, *m_trail, error);
}

std::string ExportBytes(const std::vector<std::string>& keyPaths, Encoding encoding, LONG* status,
                        bool* lossy, Header header) {
    std::string text = header == Header::Regedit4 ? "REGEDIT4\r\n\r\n"
                                                  : "Windows Registry Editor Version 5.00\r\n\r\n";
    KeyExporter exporter(text, encoding, header);
    LONG result = ERROR_SUCCESS;
    for (size_t i = 0; i < keyPaths.size() && result == ERROR_SUCCESS; ++i) {
        HKEY root;
        std::string subkey;
        if (!SplitKeyPath(keyPaths[i], &root, &subkey))
            continue;
        HKEY opened = nullptr;
        result = RegOpenKeyExW(root, Utf16Of(subkey).c_str(), 0, KEY_READ | kView, &opened);
        if (result == ERROR_SUCCESS) {
            const Orvel::TRegKeyHandle key(opened);
            result = WalkWide(key.Get(), keyPaths[i], exporter);
        }
        if (result == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS;
    }
    if (status)
        *status = result;
    if (lossy)
        *lossy = exporter.Lossy();
    return Encoded(std::move(text), encoding);
}

std::vector<uint8_t> Export(const std::vector<std::string>& keyPaths, Encoding encoding,
                            LONG* status, bool* lossy, Header header) {
    const std::string bytes = ExportBytes(keyPaths, encoding, status, lossy, header);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

} // namespace regfile
