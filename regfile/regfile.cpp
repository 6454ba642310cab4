// Applying a parsed script and exporting keys, both through the A registry
// functions only, so the same code serves the stand-in and Windows.
//
// How data that a quoted string cannot carry is exported: REG_SZ data is
// written as "text" only when it is one zero-terminated string without line
// breaks; anything else (no terminator, an inner zero, CR or LF, no bytes at
// all) is written as hex(1): with its exact bytes, which imports back
// unchanged. Value names with line breaks use the \n and \r escapes that
// Wine's regedit reads. Key names cannot carry line breaks in a .reg file.
#include "regfile/regfile.h"
#include "regfile/regfile_text.h"

#include <cstdio>

namespace regfile {
namespace {

using detail::AnsiToUtf16Bytes;
using detail::SplitKeyPath;

// Closes the key it holds on every path out.
class OpenedKey {
public:
    OpenedKey() = default;
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    ~OpenedKey() {
        if (m_hKey)
            RegCloseKey(m_hKey);
    }
    HKEY get() const { return m_hKey; }
    PHKEY out() { return &m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// --- apply -------------------------------------------------------------------------

std::vector<std::string> SubkeyNames(HKEY key) {
    std::vector<std::string> names;
    DWORD longest = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return names;
    std::vector<char> buffer(longest + 1);
    for (DWORD i = 0;; ++i) {
        DWORD size = static_cast<DWORD>(buffer.size());
        if (RegEnumKeyExA(key, i, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(buffer.data(), size);
    }
    return names;
}

// Deletes a key with everything below it, leaves first.
LONG DeleteTree(HKEY parent, const std::string& subkey) {
    {
        OpenedKey key;
        const LONG status =
            RegOpenKeyExA(parent, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.out());
        if (status != ERROR_SUCCESS)
            return status;
        for (const auto& child : SubkeyNames(key.get())) {
            const LONG childStatus = DeleteTree(key.get(), child);
            if (childStatus != ERROR_SUCCESS && childStatus != ERROR_FILE_NOT_FOUND)
                return childStatus;
        }
    }
    return RegDeleteKeyA(parent, subkey.c_str());
}

// RegSetValueExA stores a terminator the count left out whenever the byte
// after the count is zero; a non-zero guard byte there keeps string data
// that has no terminator exactly as it is.
LONG SetValue(HKEY key, const ValueOp& value) {
    const char* name = value.isDefault ? nullptr : value.name.c_str();
    std::vector<BYTE> guarded = value.data;
    guarded.push_back(IsStringType(value.type) ? 1 : 0);
    return RegSetValueExA(key, name, 0, value.type, guarded.data(),
                          static_cast<DWORD>(value.data.size()));
}

LONG ApplyValues(const KeyOp& op, std::string* error) {
    HKEY root;
    std::string subkey;
    if (!SplitKeyPath(op.keyPath, &root, &subkey)) {
        if (error)
            *error = "unknown root key: " + op.keyPath;
        return ERROR_BAD_PATHNAME;
    }
    OpenedKey key;
    LONG status = RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.out(), nullptr);
    if (status != ERROR_SUCCESS) {
        if (error)
            *error = "cannot create " + op.keyPath;
        return status;
    }
    for (const auto& value : op.values) {
        const char* name = value.isDefault ? nullptr : value.name.c_str();
        status = value.remove ? RegDeleteValueA(key.get(), name) : SetValue(key.get(), value);
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

LONG ApplyRemoval(const KeyOp& op, std::string* error) {
    HKEY root;
    std::string subkey;
    if (!SplitKeyPath(op.keyPath, &root, &subkey) || subkey.empty()) {
        if (error)
            *error = "cannot delete " + op.keyPath;
        return ERROR_BAD_PATHNAME;
    }
    const LONG status = DeleteTree(root, subkey);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error)
        *error = "cannot delete " + op.keyPath;
    return status;
}

// --- export ------------------------------------------------------------------------

constexpr size_t kWrapColumn = 76;

std::string Quote(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        switch (c) {
        case '\\':
            quoted += "\\\\";
            break;
        case '"':
            quoted += "\\\"";
            break;
        case '\n':
            quoted += "\\n";
            break;
        case '\r':
            quoted += "\\r";
            break;
        default:
            quoted.push_back(c);
        }
    }
    return quoted + "\"";
}

// A byte list as regedit writes it: wrapped before column 80, each
// continued line ending in a backslash and the next one indented by two.
std::string HexList(const std::string& prefix, const std::vector<BYTE>& bytes) {
    std::string text = prefix;
    size_t column = prefix.size();
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof(digits), "%02x", bytes[i]);
        text += digits;
        column += 2;
        if (i + 1 == bytes.size())
            break;
        text += ',';
        ++column;
        if (column > kWrapColumn) {
            text += "\\\r\n  ";
            column = 2;
        }
    }
    return text;
}

bool IsOneLineString(const std::vector<BYTE>& data) {
    if (data.empty() || data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0 || data[i] == '\n' || data[i] == '\r')
            return false;
    }
    return true;
}

std::string ValueLine(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    const std::string head = (name.empty() ? std::string("@") : Quote(name)) + "=";
    if (type == REG_SZ && IsOneLineString(data))
        return head + Quote(std::string(data.begin(), data.end() - 1));
    if (type == REG_DWORD && data.size() == 4) {
        char text[16];
        std::snprintf(text, sizeof(text), "dword:%08lx",
                      static_cast<unsigned long>(data[0] | (data[1] << 8) | (data[2] << 16) |
                                                 (static_cast<DWORD>(data[3]) << 24)));
        return head + text;
    }
    if (type == REG_BINARY)
        return HexList(head + "hex:", data);
    char tag[24];
    std::snprintf(tag, sizeof(tag), "hex(%lx):", static_cast<unsigned long>(type));
    return HexList(head + tag, IsStringType(type) ? AnsiToUtf16Bytes(data) : data);
}

void ExportValues(HKEY key, std::string* text) {
    DWORD longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> name(longestName + 1);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) !=
            ERROR_SUCCESS)
            break;
        // The size excludes any terminator the function added for us.
        const std::vector<BYTE> exact(data.begin(), data.begin() + dataSize);
        *text += ValueLine(std::string(name.data(), nameSize), type, exact) + "\r\n";
    }
}

void ExportKey(HKEY key, const std::string& path, std::string* text) {
    *text += "[" + path + "]\r\n";
    ExportValues(key, text);
    *text += "\r\n";
    for (const auto& child : SubkeyNames(key)) {
        OpenedKey sub;
        if (RegOpenKeyExA(key, child.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, sub.out()) ==
            ERROR_SUCCESS)
            ExportKey(sub.get(), path + "\\" + child, text);
    }
}

std::vector<uint8_t> Encode(const std::string& text, Encoding encoding) {
    if (encoding == Encoding::Ansi)
        return std::vector<uint8_t>(text.begin(), text.end());
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    const std::vector<BYTE> utf16 = AnsiToUtf16Bytes(std::vector<BYTE>(text.begin(), text.end()));
    bytes.insert(bytes.end(), utf16.begin(), utf16.end());
    return bytes;
}

} // namespace

LONG Apply(const Script& script, std::string* error) {
    for (const auto& op : script.keys) {
        const LONG status = op.remove ? ApplyRemoval(op, error) : ApplyValues(op, error);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

std::vector<uint8_t> Export(const std::vector<std::string>& keyPaths, Encoding encoding) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    for (const auto& path : keyPaths) {
        HKEY root;
        std::string subkey;
        if (!SplitKeyPath(path, &root, &subkey))
            continue;
        OpenedKey key;
        if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.out()) !=
            ERROR_SUCCESS)
            continue;
        ExportKey(key.get(), path, &text);
    }
    return Encode(text, encoding);
}

} // namespace regfile
