#include "fix/registry_edits.h"

#include <mbstring.h>

#include <vector>

namespace {

constexpr REGSAM kReadAccess = KEY_READ;
constexpr REGSAM kReadWriteAccess = KEY_READ | KEY_WRITE;
// Key names are at most 255 characters.
constexpr DWORD kSubkeyNameChars = 256;

typedef LONG(WINAPI* RegDeleteKeyExAFn)(HKEY key, LPCSTR subkey, REGSAM view, DWORD reserved);

// Looked up once per process: only RegDeleteKeyExA deletes in a chosen
// registry view, and systems before Vista lack it.
RegDeleteKeyExAFn DeleteInViewFunction() {
    static const RegDeleteKeyExAFn function = [] {
        HMODULE advapi = GetModuleHandleA("Advapi32.dll");
        if (advapi == nullptr)
            return static_cast<RegDeleteKeyExAFn>(nullptr);
        return reinterpret_cast<RegDeleteKeyExAFn>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExA")));
    }();
    return function;
}

// Splits at the last backslash (multibyte-aware: a trail byte may equal it).
bool SplitParent(const std::string& keyPath, std::string& parent, std::string& name) {
    const unsigned char* text = reinterpret_cast<const unsigned char*>(keyPath.c_str());
    const unsigned char* last = _mbsrchr(text, '\\');
    if (last == nullptr)
        return false;
    const size_t at = static_cast<size_t>(last - text);
    parent = keyPath.substr(0, at);
    name = keyPath.substr(at + 1);
    return true;
}

// The name as the registry stores it. Problems name keys as the scanner
// spelled them (InProcServer32 for an InprocServer32 key); the undo file must
// bring a key back under its own spelling, so it is looked up here.
std::string StoredSubkeyName(const RegKey& parent, const std::string& name) {
    char stored[kSubkeyNameChars];
    for (DWORD index = 0;; ++index) {
        DWORD length = kSubkeyNameChars;
        if (RegEnumKeyExA(parent.Handle(), index, stored, &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            return name;
        if (_mbsicmp(reinterpret_cast<const unsigned char*>(stored),
                     reinterpret_cast<const unsigned char*>(name.c_str())) == 0)
            return std::string(stored, length);
    }
}

// Opens the value's key and saves the value. 0 when the change may go ahead.
LONG OpenAndSaveValue(CUndoFile& undo, const std::string& keyPath, const std::string& valueName,
                      RegKey& key) {
    LONG status = key.OpenByText(keyPath, kReadWriteAccess);
    if (status != ERROR_SUCCESS)
        return status;
    return ExportValueToUndo(key, valueName, undo);
}

} // namespace

LONG DeleteKeyWithUndo(const std::string& keyPath, CUndoFile& undo) {
    std::string parentPath, name;
    // A path ending in a backslash names its parent with an empty subkey:
    // deleting "" would empty the parent itself.
    if (!SplitParent(keyPath, parentPath, name) || name.empty())
        return ERROR_INVALID_PARAMETER;
    RegKey parent;
    LONG status = parent.OpenByText(parentPath, kReadAccess);
    if (status != ERROR_SUCCESS)
        return status;
    const std::string storedName = StoredSubkeyName(parent, name);
    RegKey key;
    status = key.OpenByText(parentPath + "\\" + storedName, kReadAccess);
    if (status == ERROR_SUCCESS)
        status = ExportKeyToUndo(key, undo);
    if (status != ERROR_SUCCESS)
        return status;
    return RecurseDeleteKey(parent, storedName);
}

LONG DeleteValueWithUndo(CUndoFile& undo, const std::string& keyPath,
                         const std::string& valueName) {
    RegKey key;
    LONG status = OpenAndSaveValue(undo, keyPath, valueName, key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegDeleteValueA(key.Handle(), valueName.c_str());
}

LONG SetValueWithUndo(CUndoFile& undo, const std::string& keyPath, const std::string& valueName,
                      const std::string& newValue) {
    RegKey key;
    // A value that is gone is not created again: nothing could undo that.
    LONG status = OpenAndSaveValue(undo, keyPath, valueName, key);
    if (status != ERROR_SUCCESS)
        return status;
    return RegSetValueExA(key.Handle(), valueName.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(newValue.c_str()),
                          static_cast<DWORD>(newValue.size() + 1));
}

LONG RecurseDeleteKey(const RegKey& parent, const std::string& name) {
    RegKey key;
    LONG status = key.Open(parent.Handle(), name, kReadWriteAccess | parent.m_samView);
    if (status != ERROR_SUCCESS)
        return status;
    // Always index 0: each pass deletes the first subkey that is left.
    std::vector<char> child(kSubkeyNameChars, '\0');
    for (;;) {
        DWORD length = kSubkeyNameChars;
        if (RegEnumKeyExA(key.Handle(), 0, child.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        status = RecurseDeleteKey(key, std::string(child.data(), length));
        if (status != ERROR_SUCCESS)
            return status;
    }
    key.m_hKey.Reset();
    return DeleteSubKey(parent, name);
}

LONG DeleteSubKey(const RegKey& parent, const std::string& name) {
    if (RegDeleteKeyExAFn deleteInView = DeleteInViewFunction())
        return deleteInView(parent.Handle(), name.c_str(), parent.m_samView, 0);
    return RegDeleteKeyA(parent.Handle(), name.c_str());
}
