#include "regfile/wide_walk.h"

#include "base/owned_handle.h"
#include "regfile/regfile_text.h"

#include <vector>

namespace regfile {
namespace {

using detail::Utf8Of;
using detail::WideText;

LONG WalkValues(HKEY key, DWORD longestName, DWORD longestData, WideKeyVisitor& visitor) {
    std::vector<WCHAR> name(longestName + 1);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        LONG status = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                    data.data(), &dataLength);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status == ERROR_SUCCESS)
            status = visitor.Value(Utf8Of(name.data(), nameLength), type, data.data(), dataLength);
        if (status != ERROR_SUCCESS)
            return status;
    }
}

LONG WalkKey(HKEY key, const std::string& path, const std::string& name, WideKeyVisitor& visitor);

// Every subkey name is read before the first is entered.
LONG WalkSubkeys(HKEY key, const std::string& path, DWORD longestName, WideKeyVisitor& visitor) {
    std::vector<WideText> names;
    std::vector<WCHAR> name(longestName + 1);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG status =
            RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        names.emplace_back(name.data(), length);
    }
    for (const WideText& subkey : names) {
        const std::string utf8 = Utf8Of(subkey.data(), subkey.size());
        const std::string subkeyPath = path + "\\" + utf8;
        if (visitor.Skips(subkeyPath))
            continue;
        HKEY opened = nullptr;
        LONG status = RegOpenKeyExW(key, subkey.c_str(), 0, KEY_READ, &opened);
        if (status == ERROR_FILE_NOT_FOUND)
            continue; // deleted meanwhile
        if (status != ERROR_SUCCESS)
            return status;
        const Orvel::TRegKeyHandle child(opened);
        status = WalkKey(child.Get(), subkeyPath, utf8, visitor);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

// The lengths RegQueryInfoKeyA gives count UTF-16 units, as the W functions do.
LONG WalkKey(HKEY key, const std::string& path, const std::string& name, WideKeyVisitor& visitor) {
    DWORD longestSubkey = 0, longestName = 0, longestData = 0;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &longestSubkey, nullptr,
                                   nullptr, &longestName, &longestData, nullptr, nullptr);
    if (status == ERROR_SUCCESS)
        status = visitor.EnterKey(path, name);
    if (status == ERROR_SUCCESS)
        status = WalkValues(key, longestName, longestData, visitor);
    if (status == ERROR_SUCCESS)
        status = visitor.ValuesDone();
    if (status == ERROR_SUCCESS)
        status = WalkSubkeys(key, path, longestSubkey, visitor);
    if (status == ERROR_SUCCESS)
        status = visitor.LeaveKey();
    return status;
}

} // namespace

LONG WalkWide(HKEY key, const std::string& path, WideKeyVisitor& visitor) {
    return WalkKey(key, path, "", visitor);
}

} // namespace regfile
