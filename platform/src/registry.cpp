// The registry functions of the stand-in, over the key tree of
// registry_tree.h.
//
// Access is decided when a key is opened or created, the way Windows checks a
// key's ACL: the handle remembers what it was granted and every later call
// checks the handle alone. Denials of the simulated user come from the
// machine (AddKeyDenial) and are lifted while the machine itself writes
// (EnterRegistryPrivilege). One mutex guards the whole registry: the engine's
// worker thread and the host thread call in at the same time.
#include "codepage.h"
#include "machine_parts.h"
#include "registry_tree.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

namespace win32sim::detail {
namespace {

constexpr REGSAM kMaximumAllowed = 0x02000000;
constexpr REGSAM kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr REGSAM kReadBits = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY;
constexpr REGSAM kWriteBits = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE;
constexpr REGSAM kAllKeyRights = KEY_ALL_ACCESS | kWriteBits;
constexpr LONG kErrorNoAccess = 998; // ERROR_NOACCESS: a bad data pointer
constexpr size_t kMaxKeyNameLength = 255;

struct OpenKey {
    std::shared_ptr<RegKey> key;
    REGSAM granted = 0;
};

// What a handle argument stands for once resolved.
struct BaseKey {
    std::shared_ptr<RegKey> key;
    REGSAM granted = 0;
    bool predefined = false;
    bool classesRoot = false;
};

struct DenialRule {
    std::string upperPath;
    Denial denial;
};

struct RegistryState {
    std::mutex mutex;
    std::shared_ptr<RegKey> localMachine;
    std::shared_ptr<RegKey> users;
    std::string currentUserSid;
    std::map<uintptr_t, OpenKey> handles;
    uintptr_t nextHandle = 0x1000;
    std::vector<DenialRule> denials;
};

RegistryState& State() {
    static RegistryState state;
    return state;
}

std::atomic<int> g_privilegeDepth{0};

// --- names and paths --------------------------------------------------------

using NameParts = std::vector<RegName>;

RegName MakeName(std::string_view text) {
    return RegName::FromAnsi(text);
}
RegName MakeName(std::u16string_view text) {
    return RegName::FromUtf16(text);
}

// Key path text of the A or W functions, split into names.
template <class Char> NameParts SplitPath(std::basic_string_view<Char> path) {
    NameParts parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(Char('\\'), start);
        if (end == std::basic_string_view<Char>::npos)
            end = path.size();
        // Windows skips empty components: "a\\b" and "a\" name a\b and a.
        if (end > start)
            parts.push_back(MakeName(path.substr(start, end - start)));
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> SplitPath(std::string_view path) {
    std::vector<std::string> parts;
    for (RegName& part : SplitPath<char>(path))
        parts.push_back(std::move(part.ansi));
    return parts;
}

std::shared_ptr<RegKey> Descend(std::shared_ptr<RegKey> key, const NameParts& parts) {
    for (const auto& part : parts) {
        if (!key)
            return nullptr;
        key = key->FindSubkey(part);
    }
    return key;
}

// Maps a root name of a full key path text to the path of its backing key.
std::optional<std::string> CanonicalRoot(std::string_view root, const RegistryState& state) {
    const std::string upper = UpperAnsi(root);
    if (upper == "HKEY_LOCAL_MACHINE" || upper == "HKLM")
        return std::string("HKEY_LOCAL_MACHINE");
    if (upper == "HKEY_USERS" || upper == "HKU")
        return std::string("HKEY_USERS");
    if (upper == "HKEY_CLASSES_ROOT" || upper == "HKCR")
        return std::string("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes");
    if (upper == "HKEY_CURRENT_USER" || upper == "HKCU")
        return "HKEY_USERS\\" + state.currentUserSid;
    return std::nullopt;
}

std::string CanonicalDenialPath(std::string_view keyPath, const RegistryState& state) {
    auto parts = SplitPath(keyPath);
    if (parts.empty())
        return {};
    std::string path = CanonicalRoot(parts[0], state).value_or(parts[0]);
    for (size_t i = 1; i < parts.size(); ++i)
        path += "\\" + parts[i];
    return UpperAnsi(path);
}

// --- access -------------------------------------------------------------------

REGSAM MapGenericRights(REGSAM sam) {
    REGSAM mapped =
        sam & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL | kViewBits);
    if (sam & (GENERIC_READ | GENERIC_EXECUTE))
        mapped |= KEY_READ;
    if (sam & GENERIC_WRITE)
        mapped |= KEY_WRITE;
    if (sam & GENERIC_ALL)
        mapped |= KEY_ALL_ACCESS;
    return mapped;
}

REGSAM DeniedBits(const RegKey& key, const RegistryState& state) {
    if (g_privilegeDepth.load() > 0 || state.denials.empty())
        return 0;
    const std::string path = UpperAnsi(key.Path());
    REGSAM denied = 0;
    for (const auto& rule : state.denials) {
        if (rule.upperPath != path)
            continue;
        switch (rule.denial) {
        case Denial::Open:
            denied = ~REGSAM{0};
            break;
        case Denial::Read:
            denied |= kReadBits;
            break;
        case Denial::Write:
            denied |= kWriteBits;
            break;
        }
    }
    return denied;
}

// The rights a new handle gets, or nullopt when the user may not open it so.
std::optional<REGSAM> GrantAccess(const RegKey& key, REGSAM sam, const RegistryState& state) {
    const REGSAM denied = DeniedBits(key, state);
    if (denied == ~REGSAM{0})
        return std::nullopt;
    REGSAM wanted = MapGenericRights(sam);
    if (wanted & kMaximumAllowed)
        return (wanted & ~kMaximumAllowed) | (kAllKeyRights & ~denied);
    if (wanted & denied)
        return std::nullopt;
    return wanted;
}

// --- handles ------------------------------------------------------------------

std::shared_ptr<RegKey> PredefinedKey(HKEY hKey, RegistryState& state) {
    if (hKey == HKEY_LOCAL_MACHINE)
        return state.localMachine;
    if (hKey == HKEY_USERS)
        return state.users;
    if (!state.localMachine || !state.users)
        return nullptr;
    if (hKey == HKEY_CLASSES_ROOT)
        return Descend(state.localMachine, {MakeName("SOFTWARE"), MakeName("Classes")});
    if (hKey == HKEY_CURRENT_USER)
        return state.users->FindSubkey(MakeName(state.currentUserSid));
    return nullptr;
}

bool IsPredefinedValue(HKEY hKey) {
    const auto value = reinterpret_cast<uintptr_t>(hKey);
    const auto first = reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT);
    return value >= first && value <= first + 6;
}

// Resolves a handle argument: ERROR_INVALID_HANDLE for an unknown value,
// ERROR_KEY_DELETED when its key was deleted behind its back.
LONG ResolveHandle(HKEY hKey, RegistryState& state, BaseKey* base) {
    if (IsPredefinedValue(hKey)) {
        base->key = PredefinedKey(hKey, state);
        if (!base->key)
            return ERROR_INVALID_HANDLE;
        base->granted = kAllKeyRights;
        base->predefined = true;
        base->classesRoot = hKey == HKEY_CLASSES_ROOT;
        return ERROR_SUCCESS;
    }
    auto it = state.handles.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == state.handles.end())
        return ERROR_INVALID_HANDLE;
    if (it->second.key->Deleted())
        return ERROR_KEY_DELETED;
    base->key = it->second.key;
    base->granted = it->second.granted;
    return ERROR_SUCCESS;
}

// Resolves a handle that must have been granted `needed`.
LONG ResolveWithAccess(HKEY hKey, REGSAM needed, RegistryState& state, BaseKey* base) {
    const LONG status = ResolveHandle(hKey, state, base);
    if (status != ERROR_SUCCESS)
        return status;
    return (base->granted & needed) == needed ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

HKEY InsertHandle(std::shared_ptr<RegKey> key, REGSAM granted, RegistryState& state) {
    const uintptr_t value = state.nextHandle;
    state.nextHandle += 4;
    state.handles[value] = OpenKey{std::move(key), granted};
    return reinterpret_cast<HKEY>(value);
}

// Checks a subkey argument and splits it; a leading backslash is a bad path
// except below HKEY_CLASSES_ROOT, whose merged view accepts one. Names longer
// than Windows allows (255) are refused on creation; opening one simply
// finds nothing.
template <class Char> LONG ParseSubkey(const BaseKey& base, const Char* subkey, NameParts* parts) {
    std::basic_string_view<Char> text;
    if (subkey)
        text = subkey;
    if (!text.empty() && text.front() == Char('\\')) {
        if (!base.classesRoot)
            return ERROR_BAD_PATHNAME;
        text.remove_prefix(1);
    }
    *parts = SplitPath<Char>(text);
    return ERROR_SUCCESS;
}

// --- values ---------------------------------------------------------------------

RegName ValueName(LPCSTR name) {
    return RegName::FromAnsi(name ? name : "");
}
RegName ValueName(LPCWSTR name) {
    return RegName::FromUtf16(name ? std::u16string_view(name) : std::u16string_view());
}

// What Windows reports as a value's size: string data is kept as UTF-16,
// one unit for each ANSI byte of 1252 text.
DWORD StoredUtf16Size(const RegValue& value) {
    const auto size = static_cast<DWORD>(value.data.size());
    return IsStringType(value.type) && !value.utf16 ? 2 * size : size;
}

// Copies a value out the way RegQueryValueExA and RegEnumValueA do: the
// needed size is always reported; a buffer too small gets nothing; string
// data without its terminator gets one when the buffer has room for it.
LONG CopyValueData(const RegValue& value, LPDWORD type, LPBYTE data, LPDWORD count) {
    std::vector<BYTE> narrowed;
    if (value.utf16)
        narrowed = NarrowData(value.data.data(), value.data.size());
    const BYTE* bytes = value.utf16 ? narrowed.data() : value.data.data();
    const auto size = static_cast<DWORD>(value.utf16 ? narrowed.size() : value.data.size());
    LONG status = ERROR_SUCCESS;
    if (data && size > 0) {
        if (size > *count) {
            status = ERROR_MORE_DATA;
        } else {
            std::memcpy(data, bytes, size);
            if (IsStringType(value.type) && size < *count && data[size - 1] != 0)
                data[size] = 0;
        }
    }
    if (type)
        *type = value.type;
    if (count)
        *count = size;
    return status;
}

// The W functions' view of a value's data: string data as UTF-16LE, handed
// out as stored (Windows adds no terminator here).
LONG CopyWideValueData(const RegValue& value, LPDWORD type, LPBYTE data, LPDWORD count) {
    std::vector<BYTE> widened;
    const bool widen = IsStringType(value.type) && !value.utf16;
    if (widen)
        widened = WidenData(value.data.data(), value.data.size());
    const BYTE* bytes = widen ? widened.data() : value.data.data();
    const auto size = static_cast<DWORD>(widen ? widened.size() : value.data.size());
    LONG status = ERROR_SUCCESS;
    if (data && size > 0) {
        if (size > *count)
            status = ERROR_MORE_DATA;
        else
            std::memcpy(data, bytes, size);
    }
    if (type)
        *type = value.type;
    if (count)
        *count = size;
    return status;
}

// --- keys -----------------------------------------------------------------------

bool IsMachineRoot(const RegKey& key) {
    return key.Parent() == nullptr;
}

// Open handles keep the detached key alive and report it deleted from now on.
void DetachKey(RegKey& key) {
    if (RegKey* parent = key.Parent())
        parent->RemoveSubkey(&key);
}

// The key a handle names and the subkey path below it, split into names.
template <class Char>
LONG ResolvePath(HKEY hKey, const Char* subkey, RegistryState& state, BaseKey* base,
                 NameParts* parts) {
    LONG status = ResolveHandle(hKey, state, base);
    if (status != ERROR_SUCCESS)
        return status;
    return ParseSubkey(*base, subkey, parts);
}

template <class Char>
LONG OpenLocked(HKEY hKey, const Char* subkey, REGSAM sam, PHKEY result) {
    RegistryState& state = State();
    BaseKey base;
    NameParts parts;
    LONG status = ResolvePath(hKey, subkey, state, &base, &parts);
    if (status != ERROR_SUCCESS)
        return status;
    if (parts.empty() && base.predefined) {
        *result = hKey;
        return ERROR_SUCCESS;
    }
    auto key = Descend(base.key, parts);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    const auto granted = GrantAccess(*key, sam, state);
    if (!granted)
        return ERROR_ACCESS_DENIED;
    *result = InsertHandle(std::move(key), *granted, state);
    return ERROR_SUCCESS;
}

template <class Char>
LONG CreateLocked(HKEY hKey, const Char* subkey, REGSAM sam, PHKEY result, LPDWORD disposition) {
    RegistryState& state = State();
    BaseKey base;
    NameParts parts;
    LONG status = ResolvePath(hKey, subkey, state, &base, &parts);
    if (status != ERROR_SUCCESS)
        return status;
    // Windows ignores the rights of the handle the path starts from; what
    // counts is whether the user may add a subkey to each key that gets one.
    auto key = base.key;
    bool createdAny = false;
    for (const auto& part : parts) {
        if (auto existing = key->FindSubkey(part)) {
            key = std::move(existing);
            continue;
        }
        if (part.Length() > kMaxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        if (DeniedBits(*key, state) & KEY_CREATE_SUB_KEY)
            return ERROR_ACCESS_DENIED;
        bool created = false;
        key = key->AddSubkey(part, &created);
        createdAny = true;
    }
    const auto granted = GrantAccess(*key, sam, state);
    if (!granted)
        return ERROR_ACCESS_DENIED;
    *result = InsertHandle(key, *granted, state);
    if (disposition)
        *disposition = createdAny ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

template <class Char>
LONG DeleteKeyLocked(HKEY hKey, const Char* subkey) {
    RegistryState& state = State();
    BaseKey base;
    NameParts parts;
    LONG status = ResolvePath(hKey, subkey, state, &base, &parts);
    if (status != ERROR_SUCCESS)
        return status;
    auto key = Descend(base.key, parts);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    if (IsMachineRoot(*key) || (parts.empty() && base.predefined))
        return ERROR_ACCESS_DENIED;
    if (!key->Subkeys().empty() || (DeniedBits(*key, state) & DELETE))
        return ERROR_ACCESS_DENIED;
    DetachKey(*key);
    return ERROR_SUCCESS;
}

void MakeRoots(const MachineConfig& config, RegistryState& state) {
    state.localMachine = std::make_shared<RegKey>(MakeName("HKEY_LOCAL_MACHINE"));
    state.users = std::make_shared<RegKey>(MakeName("HKEY_USERS"));
    state.currentUserSid = config.currentUserSid;
    bool created = false;
    state.localMachine->AddSubkey(MakeName("SOFTWARE"), &created)
        ->AddSubkey(MakeName("Classes"), &created);
    state.localMachine->AddSubkey(MakeName("SYSTEM"), &created);
    state.users->AddSubkey(MakeName(".DEFAULT"), &created);
    state.users->AddSubkey(MakeName(config.currentUserSid), &created);
}

} // namespace

void ResetRegistry(const MachineConfig& config) {
    RegistryState& state = State();
    std::lock_guard lock(state.mutex);
    // Handles of the previous machine name keys that no longer exist.
    state.handles.clear();
    state.denials.clear();
    MakeRoots(config, state);
}

void AddKeyDenial(const DeniedKey& denied) {
    RegistryState& state = State();
    std::lock_guard lock(state.mutex);
    state.denials.push_back(DenialRule{CanonicalDenialPath(denied.keyPath, state), denied.denial});
}

void EnterRegistryPrivilege() {
    ++g_privilegeDepth;
}
void LeaveRegistryPrivilege() {
    --g_privilegeDepth;
}

} // namespace win32sim::detail

using namespace win32sim::detail;

namespace {

// --- one body for the A and the W functions -------------------------------------
// They differ only in how names and string data cross: the A functions see
// them through the code page, the W functions as they are.

const std::string& NameText(const RegName& name, char) {
    return name.ansi;
}
std::u16string NameText(const RegName& name, char16_t) {
    return name.Utf16();
}

template <class Char> void WriteText(const std::basic_string<Char>& text, Char* buffer) {
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = Char();
}

LONG CopyData(const RegValue& value, LPDWORD type, LPBYTE data, LPDWORD count, char) {
    return CopyValueData(value, type, data, count);
}
LONG CopyData(const RegValue& value, LPDWORD type, LPBYTE data, LPDWORD count, char16_t) {
    return CopyWideValueData(value, type, data, count);
}

template <class Char>
LONG OpenKeyAny(HKEY hKey, const Char* lpSubKey, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::lock_guard lock(State().mutex);
    return OpenLocked(hKey, lpSubKey, samDesired, phkResult);
}

template <class Char>
LONG CreateKeyAny(HKEY hKey, const Char* lpSubKey, REGSAM samDesired, PHKEY phkResult,
               LPDWORD lpdwDisposition) {
    if (!phkResult)
        return ERROR_BADKEY;
    std::lock_guard lock(State().mutex);
    return CreateLocked(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
}

template <class Char>
LONG EnumKeyAny(HKEY hKey, DWORD dwIndex, Char* lpName, LPDWORD lpcchName, LPDWORD lpReserved,
             Char* lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (lpReserved || !lpName || !lpcchName)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(State().mutex);
    BaseKey base;
    const LONG status = ResolveWithAccess(hKey, KEY_ENUMERATE_SUB_KEYS, State(), &base);
    if (status != ERROR_SUCCESS)
        return status;
    const auto& subkeys = base.key->Subkeys();
    if (dwIndex >= subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    const RegKey& subkey = *subkeys[dwIndex];
    const auto& name = NameText(subkey.FullName(), Char());
    if (name.size() >= *lpcchName || (lpClass && lpcchClass && *lpcchClass == 0))
        return ERROR_MORE_DATA;
    WriteText(name, lpName);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpcchClass) {
        if (lpClass)
            lpClass[0] = Char();
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime)
        *lpftLastWriteTime = subkey.LastWrite();
    return ERROR_SUCCESS;
}

template <class Char>
LONG EnumValueAny(HKEY hKey, DWORD dwIndex, Char* lpValueName, LPDWORD lpcchValueName,
               LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(State().mutex);
    BaseKey base;
    const LONG status = ResolveWithAccess(hKey, KEY_QUERY_VALUE, State(), &base);
    if (status != ERROR_SUCCESS)
        return status;
    const RegValue* found = base.key->ValueAt(dwIndex);
    if (!found)
        return ERROR_NO_MORE_ITEMS;
    const RegValue& value = *found;
    // Data first: when it does not fit, the name is not written either.
    if (CopyData(value, lpType, lpData, lpcbData, Char()) != ERROR_SUCCESS)
        return ERROR_MORE_DATA;
    const auto& name = NameText(value.name, Char());
    if (name.size() >= *lpcchValueName) {
        // Windows hands out as much of the name as fits, the length untouched.
        if (*lpcchValueName > 0 && lpValueName)
            WriteText(name.substr(0, *lpcchValueName - 1), lpValueName);
        return ERROR_MORE_DATA;
    }
    if (lpValueName)
        WriteText(name, lpValueName);
    *lpcchValueName = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

template <class Char>
LONG QueryValueAny(HKEY hKey, const Char* lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                LPBYTE lpData, LPDWORD lpcbData) {
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    // Windows clears a size given without a buffer before it looks the value up.
    if (!lpData && lpcbData)
        *lpcbData = 0;
    std::lock_guard lock(State().mutex);
    BaseKey base;
    const LONG status = ResolveWithAccess(hKey, KEY_QUERY_VALUE, State(), &base);
    if (status != ERROR_SUCCESS)
        return status;
    const RegValue* value = base.key->FindValue(ValueName(lpValueName));
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    return CopyData(*value, lpType, lpData, lpcbData, Char());
}

template <class Char> LONG DeleteValueAny(HKEY hKey, const Char* lpValueName) {
    std::lock_guard lock(State().mutex);
    BaseKey base;
    const LONG status = ResolveWithAccess(hKey, KEY_SET_VALUE, State(), &base);
    if (status != ERROR_SUCCESS)
        return status;
    return base.key->DeleteValue(ValueName(lpValueName)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

template <class Char> LONG DeleteKeyAny(HKEY hKey, const Char* lpSubKey) {
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(State().mutex);
    return DeleteKeyLocked(hKey, lpSubKey);
}

} // namespace

extern "C" {

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                          PHKEY phkResult) {
    return OpenKeyAny(hKey, lpSubKey, samDesired, phkResult);
}
LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                          PHKEY phkResult) {
    return OpenKeyAny(hKey, lpSubKey, samDesired, phkResult);
}

LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD /*Reserved*/, LPSTR /*lpClass*/,
                            DWORD /*dwOptions*/, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
    return CreateKeyAny(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
}
LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD /*Reserved*/, LPWSTR /*lpClass*/,
                            DWORD /*dwOptions*/, REGSAM samDesired,
                            LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, PHKEY phkResult,
                            LPDWORD lpdwDisposition) {
    return CreateKeyAny(hKey, lpSubKey, samDesired, phkResult, lpdwDisposition);
}

LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
    return EnumKeyAny(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                   lpftLastWriteTime);
}
LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                          LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                          PFILETIME lpftLastWriteTime) {
    return EnumKeyAny(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass,
                   lpftLastWriteTime);
}

LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return EnumValueAny(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                     lpcbData);
}
LONG WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    return EnumValueAny(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData,
                     lpcbData);
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    return QueryValueAny(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}
LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData) {
    return QueryValueAny(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    return DeleteValueAny(hKey, lpValueName);
}
LONG WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    return DeleteValueAny(hKey, lpValueName);
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    return DeleteKeyAny(hKey, lpSubKey);
}
LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    return DeleteKeyAny(hKey, lpSubKey);
}

LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                             LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                             LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                             LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                             PFILETIME lpftLastWriteTime) {
    if (lpReserved || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(State().mutex);
    BaseKey base;
    const LONG status = ResolveWithAccess(hKey, KEY_QUERY_VALUE, State(), &base);
    if (status != ERROR_SUCCESS)
        return status;
    const RegKey& key = *base.key;
    DWORD maxSubkey = 0, maxName = 0, maxData = 0;
    for (const auto& subkey : key.Subkeys())
        maxSubkey = std::max(maxSubkey, static_cast<DWORD>(subkey->Name().size()));
    key.ForEachValue([&](const RegValue& value) {
        maxName = std::max(maxName, static_cast<DWORD>(value.name.Length()));
        maxData = std::max(maxData, StoredUtf16Size(value));
    });
    if (lpcchClass) {
        if (lpClass && *lpcchClass > 0)
            lpClass[0] = '\0';
        *lpcchClass = 0;
    }
    if (lpcSubKeys)
        *lpcSubKeys = static_cast<DWORD>(key.Subkeys().size());
    if (lpcbMaxSubKeyLen)
        *lpcbMaxSubKeyLen = maxSubkey;
    if (lpcbMaxClassLen)
        *lpcbMaxClassLen = 0;
    if (lpcValues)
        *lpcValues = static_cast<DWORD>(key.ValueCount());
    if (lpcbMaxValueNameLen)
        *lpcbMaxValueNameLen = maxName;
    if (lpcbMaxValueLen)
        *lpcbMaxValueLen = maxData;
    if (lpcbSecurityDescriptor)
        *lpcbSecurityDescriptor = 0x9c; // a typical owner+group+DACL descriptor
    if (lpftLastWriteTime)
        *lpftLastWriteTime = key.LastWrite();
    return ERROR_SUCCESS;
}

LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData)
        return kErrorNoAccess;
    std::lock_guard lock(State().mutex);
    BaseKey base;
    const LONG status = ResolveWithAccess(hKey, KEY_SET_VALUE, State(), &base);
    if (status != ERROR_SUCCESS)
        return status;
    if (IsStringType(dwType)) {
        // Windows looks one byte past the count: a caller that counted the
        // text but not its terminator gets the terminator stored as well.
        if (cbData > 0 && lpData[cbData - 1] != 0 && lpData[cbData] == 0)
            ++cbData;
    }
    base.key->SetValue(ValueName(lpValueName), dwType, lpData, cbData, false);
    return ERROR_SUCCESS;
}

// String data is taken as the UTF-16LE it is, byte for byte (but for a
// terminator the count left out), and kept in its 1252 form when that
// spells it exactly.
LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD /*Reserved*/, DWORD dwType,
                           const BYTE* lpData, DWORD cbData) {
    if (!lpData && cbData)
        return kErrorNoAccess;
    std::lock_guard lock(State().mutex);
    BaseKey base;
    const LONG status = ResolveWithAccess(hKey, KEY_SET_VALUE, State(), &base);
    if (status != ERROR_SUCCESS)
        return status;
    // As the A function, Windows looks one unit past the count for a
    // terminator the caller did not count.
    const auto unitAt = [lpData](DWORD i) { return lpData[2 * i] | lpData[2 * i + 1] << 8; };
    if (IsStringType(dwType) && cbData >= 2 && unitAt(cbData / 2 - 1) != 0 &&
        unitAt(cbData / 2) == 0)
        cbData += 2;
    std::vector<BYTE> ansi;
    const bool text = IsStringType(dwType) && cbData > 0;
    if (text && ExactAnsiData(lpData, cbData, &ansi))
        base.key->SetValue(ValueName(lpValueName), dwType, ansi.data(), ansi.size(), false);
    else
        base.key->SetValue(ValueName(lpValueName), dwType, lpData, cbData, text);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteKeyExA(HKEY hKey, LPCSTR lpSubKey, REGSAM /*samDesired*/, DWORD /*Reserved*/) {
    // One registry view serves both WOW64 views.
    return RegDeleteKeyA(hKey, lpSubKey);
}

LONG WINAPI RegCloseKey(HKEY hKey) {
    if (IsPredefinedValue(hKey))
        return ERROR_SUCCESS;
    std::lock_guard lock(State().mutex);
    return State().handles.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS
                                                                    : ERROR_INVALID_HANDLE;
}
} // extern "C"
