#include "registry/reg_key.h"

#include "base/common_library.h"
#include "base/text.h"
#include "registry/root_names.h"
#include "registry/value_types.h"

#include <mbstring.h>

#include <cstring>
#include <utility>
#include <vector>

namespace {

// Registry data need not end in a zero: take the text up to the first zero
// within the bytes actually returned.
std::string TextOf(const std::vector<char>& buffer, DWORD length) {
    size_t limit = length < buffer.size() ? length : buffer.size();
    return std::string(buffer.data(), strnlen(buffer.data(), limit));
}

std::string ExpandCapped(const std::string& text) {
    std::vector<char> expanded(kMaxStringValueBytes, '\0');
    ExpandEnvironmentStringsA(text.c_str(), expanded.data(), kMaxStringValueBytes);
    // Too long a result leaves the buffer in a state that differs between
    // Windows versions; whatever it holds is cut at the cap.
    expanded.back() = '\0';
    return expanded.data();
}

// Below a root the path is the name alone: key path texts carry exactly one
// backslash after the root name. Every child of a walk passes here, so the
// usual case (a path that ends in no backslash, a name that starts with
// none) is joined directly; only a path whose last byte is 0x5C needs the
// character-wise look, since on a double-byte code page that byte may be
// the second half of a character.
std::string ChildPath(const std::string& path, const std::string& name) {
    if (path.empty() || path.back() == '\\' || (!name.empty() && name.front() == '\\'))
        return Orvel::PathCombineA(path, name);
    std::string joined;
    joined.reserve(path.size() + 1 + name.size());
    joined.append(path).push_back('\\');
    return joined.append(name);
}

LONG OpenHandle(HKEY parent, const std::string& subkey, REGSAM access,
                Orvel::TRegKeyHandle& opened) {
    HKEY raw = nullptr;
    const LONG status = RegOpenKeyExA(parent, subkey.c_str(), 0, access, &raw);
    if (status == ERROR_SUCCESS)
        opened.Reset(raw);
    return status;
}

} // namespace

void RegKey::Take(Orvel::TRegKeyHandle opened, HKEY root, std::string path,
                  REGSAM access) noexcept {
    m_hKey = std::move(opened);
    m_samView = access & kViewBits;
    m_hRoot = root;
    m_path = std::move(path);
    m_samAccess = access;
    m_dwSubkeyCount = m_dwSubkeyNameSize = m_dwSubkeyIndex = 0;
    m_dwValueCount = m_dwValueNameSize = m_dwValueDataSize = m_dwValueIndex = 0;
}

LONG RegKey::Open(HKEY parent, const std::string& subkey, REGSAM access) {
    Orvel::TRegKeyHandle opened;
    const LONG status = OpenHandle(parent, subkey, access, opened);
    if (status == ERROR_SUCCESS)
        Take(std::move(opened), parent, subkey, access);
    return status;
}

LONG RegKey::OpenPath(HKEY root, const std::string& path, REGSAM access) {
    return Open(root, path, access | KEY_WOW64_64KEY);
}

LONG RegKey::OpenByText(const std::string& keyPathText, REGSAM access) {
    size_t rootStart = keyPathText.find_first_not_of('\\');
    if (rootStart == std::string::npos)
        rootStart = keyPathText.size();
    size_t rootEnd = keyPathText.find('\\', rootStart);
    std::string rootName = keyPathText.substr(rootStart, rootEnd - rootStart);
    std::string path =
        rootEnd == std::string::npos ? std::string() : keyPathText.substr(rootEnd + 1);
    // An unknown root name opens below a null root, which fails.
    return OpenPath(RootFromName(rootName, RootNames::EngineLongNames), path, access);
}

// The path is built only once the child is open: probing for a child that
// is missing, the usual case of many lookups, costs no allocation.
LONG RegKey::OpenChild(const std::string& name, RegKey& child) const {
    Orvel::TRegKeyHandle opened;
    const LONG status = OpenHandle(m_hKey.Get(), name, m_samAccess, opened);
    if (status == ERROR_SUCCESS)
        child.Take(std::move(opened), m_hRoot, ChildPath(m_path, name), m_samAccess);
    return status;
}

LONG RegKey::BeginSubkeys(RegKey& child) {
    DWORD count = 0;
    DWORD longestName = 0;
    LONG status = RegQueryInfoKeyA(m_hKey.Get(), nullptr, nullptr, nullptr, &count, &longestName,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    m_dwSubkeyCount = count;
    m_dwSubkeyNameSize = longestName + 1;
    m_dwSubkeyIndex = 0;
    return NextSubkey(child);
}

LONG RegKey::NextSubkey(RegKey& child) {
    std::vector<char> name(m_dwSubkeyNameSize + 1, '\0');
    for (;;) {
        DWORD length = m_dwSubkeyNameSize;
        LONG status = RegEnumKeyExA(m_hKey.Get(), m_dwSubkeyIndex, name.data(), &length, nullptr,
                                    nullptr, nullptr, nullptr);
        ++m_dwSubkeyIndex;
        if (status == ERROR_SUCCESS)
            status = OpenChild(std::string(name.data(), length), child);
        if (status == ERROR_SUCCESS)
            return ERROR_SUCCESS;
        // A child that cannot be read or opened is skipped, not an end.
        if (m_dwSubkeyIndex >= m_dwSubkeyCount)
            return status;
    }
}

LONG RegKey::CountValues() {
    DWORD count = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    LONG status = RegQueryInfoKeyA(m_hKey.Get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, &count, &longestName, &longestData, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    m_dwValueCount = count;
    m_dwValueNameSize = longestName + 1;
    m_dwValueDataSize = longestData + 1;
    m_dwValueIndex = 0;
    return ERROR_SUCCESS;
}

LONG RegKey::CountChildren(DWORD* subkeys, DWORD* values) const {
    return RegQueryInfoKeyA(m_hKey.Get(), nullptr, nullptr, nullptr, subkeys, nullptr, nullptr,
                            values, nullptr, nullptr, nullptr, nullptr);
}

LONG RegKey::BeginValues(std::string& name, std::string& data) {
    LONG status = CountValues();
    if (status != ERROR_SUCCESS)
        return status;
    return NextStringValue(name, data);
}

LONG RegKey::NextStringValue(std::string& name, std::string& data) {
    name.clear();
    data.clear();
    std::vector<char> nameBuffer(m_dwValueNameSize + 1, '\0');
    std::vector<char> dataBuffer(m_dwValueDataSize + 1, '\0');
    LONG status = ERROR_NO_MORE_ITEMS;
    // One index past the count: the last attempt ends on an error code.
    while (m_dwValueIndex <= m_dwValueCount) {
        DWORD nameLength = m_dwValueNameSize;
        DWORD dataLength = m_dwValueDataSize;
        DWORD type = REG_NONE;
        status =
            RegEnumValueA(m_hKey.Get(), m_dwValueIndex, nameBuffer.data(), &nameLength, nullptr,
                          &type, reinterpret_cast<BYTE*>(dataBuffer.data()), &dataLength);
        ++m_dwValueIndex;
        if (status == ERROR_SUCCESS && IsSingleStringType(type)) {
            name.assign(nameBuffer.data(), nameLength);
            data = TextOf(dataBuffer, dataLength);
            return ERROR_SUCCESS;
        }
    }
    return status == ERROR_SUCCESS ? ERROR_NO_MORE_ITEMS : status;
}

LONG RegKey::NextValueName(std::string& name) {
    std::vector<char> nameBuffer(m_dwValueNameSize + 1, '\0');
    LONG status = ERROR_NO_MORE_ITEMS;
    while (m_dwValueIndex <= m_dwValueCount) {
        DWORD nameLength = m_dwValueNameSize;
        status = RegEnumValueA(m_hKey.Get(), m_dwValueIndex, nameBuffer.data(), &nameLength,
                               nullptr, nullptr, nullptr, nullptr);
        ++m_dwValueIndex;
        if (status == ERROR_SUCCESS) {
            name.assign(nameBuffer.data(), nameLength);
            return ERROR_SUCCESS;
        }
    }
    return status;
}

LONG RegKey::QueryStoredString(const std::string& valueName, std::string& out,
                               DWORD& type) const {
    std::vector<char> buffer(kMaxStringValueBytes, '\0');
    DWORD length = kMaxStringValueBytes;
    type = REG_NONE;
    LONG status = RegQueryValueExA(m_hKey.Get(), valueName.c_str(), nullptr, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), &length);
    // A missing value leaves the type unset, so it is reported as 13 as well.
    if (!IsSingleStringType(type))
        return ERROR_INVALID_DATA;
    if (status != ERROR_SUCCESS)
        return status;
    out = TextOf(buffer, length);
    return ERROR_SUCCESS;
}

LONG RegKey::QueryStringValue(const std::string& valueName, std::string& out) const {
    DWORD type = REG_NONE;
    std::string stored;
    const LONG status = QueryStoredString(valueName, stored, type);
    if (status == ERROR_SUCCESS)
        out = ExpandCapped(stored);
    return status;
}

LONG RegKey::QueryDwordValue(const std::string& valueName, DWORD& out) const {
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = REG_NONE;
    const LONG status = RegQueryValueExA(m_hKey.Get(), valueName.c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
    if (status == ERROR_MORE_DATA)
        return ERROR_INVALID_DATA;
    if (status != ERROR_SUCCESS)
        return status;
    if (type != REG_DWORD || size != sizeof(value))
        return ERROR_INVALID_DATA;
    out = value;
    return ERROR_SUCCESS;
}

LONG RegKey::QueryValueType(const std::string& valueName, DWORD& type) const {
    return RegQueryValueExA(m_hKey.Get(), valueName.c_str(), nullptr, &type, nullptr, nullptr);
}

std::string KeyPathText(HKEY root, const std::string& path) {
    const std::string name = LongRootName(root);
    return name.empty() ? path : name + "\\" + path;
}

std::string RegKey::KeyPathText() const {
    return ::KeyPathText(m_hRoot, m_path);
}

std::string RegKey::LeafName() const {
    const unsigned char* last = _mbsrchr(base::Bytes(m_path), '\\');
    if (last == nullptr)
        return m_path;
    return std::string(base::Chars(last) + 1);
}

bool RegKey::IsKeyWritable() const {
    if ((m_samAccess & KEY_WRITE) == KEY_WRITE)
        return true;
    RegKey probe;
    return probe.OpenPath(m_hRoot, m_path, kWrite64) == ERROR_SUCCESS;
}
