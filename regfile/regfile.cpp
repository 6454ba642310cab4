// Applying a parsed script and exporting keys, both through the A registry
// functions only, so the same code serves the stand-in and Windows. Values
// are written by the one .reg value writer (value_text.h); subtrees are
// exported and deleted by the registry layer's walk.
#include "regfile/regfile.h"
#include "regfile/regfile_text.h"
#include "regfile/value_text.h"
#include "registry/key_walk.h"
#include "registry/root_names.h"
#include "registry/value_types.h"

namespace regfile {
namespace {

using detail::AnsiToUtf16Bytes;

// Every key a .reg file names is in the 64-bit view, as regedit's are.
constexpr REGSAM kView = KEY_WOW64_64KEY;

// regedit's own files: wrapped hex lists, read back by our importer.
constexpr RegTextStyle kExportStyle = {true, TextWidening::Windows1252};

bool SplitKeyPath(const std::string& keyPath, HKEY* root, std::string* subkey) {
    return ::SplitKeyPath(keyPath, RootNames::RegFileNames, root, subkey);
}

// --- apply -------------------------------------------------------------------------

// RegSetValueExA stores a terminator the count left out whenever the byte
// after the count is zero; a non-zero guard byte there keeps string data
// that has no terminator exactly as it is.
LONG SetValue(HKEY key, const ValueOp& value) {
    const char* name = value.isDefault ? nullptr : value.name.c_str();
    std::vector<BYTE> guarded = value.data;
    guarded.push_back(IsAnsiTextType(value.type) ? 1 : 0);
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
    HKEY created = nullptr;
    LONG status = RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE | kView, nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) {
        if (error)
            *error = "cannot create " + op.keyPath;
        return status;
    }
    const Orvel::TRegKeyHandle key(created);
    for (const auto& value : op.values) {
        const char* name = value.isDefault ? nullptr : value.name.c_str();
        status = value.remove ? RegDeleteValueA(key.Get(), name) : SetValue(key.Get(), value);
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
    const LONG status = DeleteKeyTree(root, subkey, kView);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error)
        *error = "cannot delete " + op.keyPath;
    return status;
}

// --- export ------------------------------------------------------------------------

// Writes each key it enters as a section of .reg text: the header named by
// the exported path and the path below it, then one line per value.
class KeyExporter : public KeyVisitor {
public:
    KeyExporter(const std::string& path, std::string& text) : m_path(path), m_text(text) {}

    LONG EnterKey(RegKey& key, const std::string& relativePath) override {
        std::vector<RegValue> values;
        const LONG status = ReadValues(key.Handle(), values);
        m_text += "[" + (relativePath.empty() ? m_path : m_path + "\\" + relativePath) + "]\r\n";
        for (const RegValue& value : values) {
            const std::string head = FormatRegValueName(value.name) + "=";
            m_text += head +
                      FormatRegValueData(value.type, value.data.data(),
                                         static_cast<DWORD>(value.data.size()), kExportStyle,
                                         head.size()) +
                      "\r\n";
        }
        m_text += "\r\n";
        return status;
    }

private:
    const std::string& m_path;
    std::string& m_text;
};

std::vector<uint8_t> Encode(const std::string& text, Encoding encoding) {
    if (encoding == Encoding::Ansi)
        return std::vector<uint8_t>(text.begin(), text.end());
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    const std::vector<BYTE> utf16 = AnsiToUtf16Bytes(std::vector<BYTE>(text.begin(), text.end()));
    bytes.insert(bytes.end(), utf16.begin(), utf16.end());
    return bytes;
}

} // namespace

namespace {

LONG ApplyKey(const KeyOp& op, std::string* error) {
    std::string what;
    const LONG status = op.remove ? ApplyRemoval(op, &what) : ApplyValues(op, &what);
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
    for (const auto& op : script.keys) {
        if (const LONG status = ApplyKey(op, error))
            return status;
    }
    return ERROR_SUCCESS;
}

LONG ApplyReleasing(Script& script, std::string* error) {
    for (auto& op : script.keys) {
        if (const LONG status = ApplyKey(op, error))
            return status;
        op = KeyOp();
    }
    script.keys.clear();
    return ERROR_SUCCESS;
}

std::vector<uint8_t> Export(const std::vector<std::string>& keyPaths, Encoding encoding,
                            LONG* status) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    LONG result = ERROR_SUCCESS;
    for (size_t i = 0; i < keyPaths.size() && result == ERROR_SUCCESS; ++i) {
        HKEY root;
        std::string subkey;
        if (!SplitKeyPath(keyPaths[i], &root, &subkey))
            continue;
        RegKey key;
        result = key.OpenPath(root, subkey, KEY_READ);
        if (result == ERROR_SUCCESS) {
            KeyExporter exporter(keyPaths[i], text);
            result = WalkKeyTree(key, exporter);
        }
        if (result == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS;
    }
    if (status)
        *status = result;
    return Encode(text, encoding);
}

} // namespace regfile
