#include "registry/key_walk.h"

#include "base/built_once.h"

namespace {

typedef LONG(WINAPI* RegDeleteKeyExAFn)(HKEY key, LPCSTR subkey, REGSAM view, DWORD reserved);

// Looked up once per process: only RegDeleteKeyExA deletes in a chosen
// registry view, and systems before Vista lack it.
RegDeleteKeyExAFn DeleteInViewFunction() {
    static constinit Orvel::TBuiltOnce<RegDeleteKeyExAFn> function;
    return function.Get([] {
        HMODULE advapi = GetModuleHandleA("Advapi32.dll");
        if (advapi == nullptr)
            return static_cast<RegDeleteKeyExAFn>(nullptr);
        return reinterpret_cast<RegDeleteKeyExAFn>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteKeyExA")));
    });
}

// Deletes one key that has no subkeys left.
LONG DeleteLeafKey(HKEY parent, const std::string& name, REGSAM view) {
    if (RegDeleteKeyExAFn deleteInView = DeleteInViewFunction())
        return deleteInView(parent, name.c_str(), view, 0);
    return RegDeleteKeyA(parent, name.c_str());
}

// RegQueryInfoKeyA counts name lengths in UTF-16 units; in a double-byte
// code page an ANSI name may take two bytes for each.
std::vector<char> NameBuffer(DWORD longestName) {
    return std::vector<char>(2 * static_cast<size_t>(longestName) + 2, '\0');
}

LONG EndOfReading(LONG status) {
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
}

class TreeDeleter : public KeyVisitor {
public:
    LONG EnterKey(RegKey&, const std::string&) override { return ERROR_SUCCESS; }
    LONG LeaveSubkey(RegKey& parent, const std::string& name) override {
        return DeleteLeafKey(parent.Handle(), name, parent.View());
    }
};

} // namespace

LONG ReadSubkeyNames(HKEY key, std::vector<std::string>& names) {
    DWORD longest = 0;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> name = NameBuffer(longest);
    for (DWORD index = 0; status == ERROR_SUCCESS; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        status =
            RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS)
            names.emplace_back(name.data(), length);
    }
    return EndOfReading(status);
}

LONG ReadValueNames(HKEY key, std::vector<std::string>& names) {
    DWORD longest = 0;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &longest, nullptr, nullptr, nullptr);
    std::vector<char> name = NameBuffer(longest);
    for (DWORD index = 0; status == ERROR_SUCCESS; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        status =
            RegEnumValueA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS)
            names.emplace_back(name.data(), length);
    }
    return EndOfReading(status);
}

LONG ReadValues(HKEY key, std::vector<RegValue>& values) {
    DWORD longestName = 0, longestData = 0;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &longestName, &longestData, nullptr, nullptr);
    std::vector<char> name = NameBuffer(longestName);
    // The longest data counts string types in UTF-16, never less than ANSI.
    std::vector<BYTE> data(longestData + 1);
    for (DWORD index = 0; status == ERROR_SUCCESS; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        status = RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(),
                               &dataLength);
        // The length leaves out any terminator the function added for us.
        if (status == ERROR_SUCCESS)
            values.push_back({std::string(name.data(), nameLength), type,
                              std::vector<BYTE>(data.begin(), data.begin() + dataLength)});
    }
    return EndOfReading(status);
}

namespace {

bool IsListed(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& listed : names) {
        if (listed == name)
            return true;
    }
    return false;
}

LONG NotOpenable(LONG status, bool listed) {
    return status == ERROR_FILE_NOT_FOUND && listed ? ERROR_CANTOPEN : status;
}

} // namespace

LONG OpenFailure(HKEY parent, const std::string& name, LONG status) {
    std::vector<std::string> names;
    return NotOpenable(status, status == ERROR_FILE_NOT_FOUND &&
                                   ReadSubkeyNames(parent, names) == ERROR_SUCCESS &&
                                   IsListed(names, name));
}

LONG ValueFailure(HKEY key, const std::string& name, LONG status) {
    std::vector<std::string> names;
    return NotOpenable(status, status == ERROR_FILE_NOT_FOUND &&
                                   ReadValueNames(key, names) == ERROR_SUCCESS &&
                                   IsListed(names, name));
}

namespace {

LONG WalkFrom(RegKey& key, KeyVisitor& visitor, const std::string& relativePath) {
    LONG status = visitor.EnterKey(key, relativePath);
    std::vector<std::string> names;
    if (status == ERROR_SUCCESS)
        status = ReadSubkeyNames(key.Handle(), names);
    for (size_t i = 0; i < names.size() && status == ERROR_SUCCESS; ++i) {
        {
            RegKey child;
            status = OpenFailure(key.Handle(), names[i], key.OpenChild(names[i], child));
            if (status == ERROR_SUCCESS)
                status = WalkFrom(child, visitor,
                                  relativePath.empty() ? names[i] : relativePath + "\\" + names[i]);
        }
        if (status == ERROR_SUCCESS)
            status = visitor.LeaveSubkey(key, names[i]);
        // A subkey deleted behind our back has nothing left to visit.
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS;
    }
    return status;
}

} // namespace

LONG WalkKeyTree(RegKey& key, KeyVisitor& visitor) {
    return WalkFrom(key, visitor, std::string());
}

namespace {

// Everything below the subkey `name` of `parent`; the subkey itself is
// closed again when this returns, so that it can go next.
LONG DeleteSubkeysOf(HKEY parent, const std::string& name, REGSAM view) {
    RegKey key;
    LONG status = key.Open(parent, name, KEY_READ | KEY_WRITE | view);
    if (status != ERROR_SUCCESS)
        return status;
    TreeDeleter deleter;
    return WalkKeyTree(key, deleter);
}

} // namespace

LONG DeleteKeyTree(HKEY parent, const std::string& name, REGSAM view) {
    const LONG status = DeleteSubkeysOf(parent, name, view);
    if (status != ERROR_SUCCESS)
        return status;
    return DeleteLeafKey(parent, name, view);
}
