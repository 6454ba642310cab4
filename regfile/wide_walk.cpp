#include "regfile/wide_walk.h"

#include "base/owned_handle.h"
#include "regfile/regfile_text.h"

#include <memory>
#include <vector>

namespace regfile {
namespace {

using detail::WideText;

// One walk. A whole machine is walked on every save, a million keys and
// more: the path grows and shrinks in one string, and the buffers a key
// reads into are kept for the next key instead of made anew for each.
class Walker {
public:
    Walker(const std::string& path, WideKeyVisitor& visitor) : m_path(path), m_visitor(visitor) {}

    LONG WalkKey(HKEY key, size_t depth, const std::string& name);

private:
    // A key's subkey names, read before the first is entered: each ends in
    // a zero, ready to be opened.
    struct Subkeys {
        WideText names;
        std::vector<size_t> starts;
        std::string utf8; // the one being walked
    };

    LONG WalkValues(HKEY key, DWORD longestName, DWORD longestData);
    LONG WalkSubkeys(HKEY key, size_t depth, DWORD longestName);
    LONG WalkSubkey(HKEY key, size_t depth, const WCHAR* name, size_t length, Subkeys& level);

    std::string m_path;
    WideKeyVisitor& m_visitor;
    std::vector<WCHAR> m_name;
    std::vector<BYTE> m_data;
    std::string m_valueName;
    std::vector<std::unique_ptr<Subkeys>> m_levels; // by depth; each stays where it is
};

// Grows `buffer` to at least `size` elements, never shrinks it.
template <class T> T* AtLeast(std::vector<T>& buffer, size_t size) {
    if (buffer.size() < size)
        buffer.resize(size);
    return buffer.data();
}

// Each call is given exactly the room the key's longest name and data need,
// as a walk with buffers of its own would.
LONG Walker::WalkValues(HKEY key, DWORD longestName, DWORD longestData) {
    WCHAR* name = AtLeast(m_name, longestName + 1);
    BYTE* data = AtLeast(m_data, size_t{longestData} + 2);
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = longestName + 1;
        DWORD dataLength = longestData + 2;
        DWORD type = REG_NONE;
        LONG status =
            RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataLength);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status == ERROR_SUCCESS) {
            m_valueName.clear();
            detail::AppendUtf8(name, nameLength, &m_valueName);
            status = m_visitor.Value(m_valueName, type, data, dataLength);
        }
        if (status != ERROR_SUCCESS)
            return status;
    }
}

// Every subkey name is read before the first is entered.
LONG Walker::WalkSubkeys(HKEY key, size_t depth, DWORD longestName) {
    if (m_levels.size() <= depth)
        m_levels.push_back(std::make_unique<Subkeys>());
    Subkeys& level = *m_levels[depth];
    level.names.clear();
    level.starts.clear();
    WCHAR* name = AtLeast(m_name, longestName + 1);
    for (DWORD index = 0;; ++index) {
        DWORD length = longestName + 1;
        const LONG status = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        level.starts.push_back(level.names.size());
        level.names.append(name, length);
        level.names.push_back(WCHAR{});
    }
    for (size_t i = 0; i < level.starts.size(); ++i) {
        const size_t end = i + 1 < level.starts.size() ? level.starts[i + 1] : level.names.size();
        const LONG status = WalkSubkey(key, depth, level.names.data() + level.starts[i],
                                       end - level.starts[i] - 1, level);
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

LONG Walker::WalkSubkey(HKEY key, size_t depth, const WCHAR* name, size_t length,
                        Subkeys& level) {
    level.utf8.clear();
    detail::AppendUtf8(name, length, &level.utf8);
    const size_t parentLength = m_path.size();
    m_path += '\\';
    m_path += level.utf8;
    LONG status = ERROR_SUCCESS;
    HKEY opened = nullptr;
    if (!m_visitor.Skips(m_path)) {
        status = RegOpenKeyExW(key, name, 0, KEY_READ, &opened);
        if (status == ERROR_FILE_NOT_FOUND)
            status = ERROR_SUCCESS; // deleted meanwhile
        else if (status == ERROR_SUCCESS)
            status = WalkKey(Orvel::TRegKeyHandle(opened).Get(), depth + 1, level.utf8);
    }
    m_path.resize(parentLength);
    return status;
}

// The lengths RegQueryInfoKeyA gives count UTF-16 units, as the W functions do.
LONG Walker::WalkKey(HKEY key, size_t depth, const std::string& name) {
    DWORD longestSubkey = 0, longestName = 0, longestData = 0;
    LONG status = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &longestSubkey, nullptr,
                                   nullptr, &longestName, &longestData, nullptr, nullptr);
    if (status == ERROR_SUCCESS)
        status = m_visitor.EnterKey(m_path, name);
    if (status == ERROR_SUCCESS)
        status = WalkValues(key, longestName, longestData);
    if (status == ERROR_SUCCESS)
        status = m_visitor.ValuesDone();
    if (status == ERROR_SUCCESS)
        status = WalkSubkeys(key, depth, longestSubkey);
    if (status == ERROR_SUCCESS)
        status = m_visitor.LeaveKey();
    return status;
}

} // namespace

LONG WalkWide(HKEY key, const std::string& path, WideKeyVisitor& visitor) {
    return Walker(path, visitor).WalkKey(key, 0, "");
}

} // namespace regfile
