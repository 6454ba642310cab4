// The simulated registry's data: a tree of keys holding typed values.
//
// Names are kept as ANSI (1252) text in their first spelling and matched
// without regard to case. Value data is kept as the A functions take and
// hand it out, string types included: 1252 maps every byte to one UTF-16
// unit and back, so keeping Windows' UTF-16 form would change no answer
// and only double the memory of a machine's strings (registry.cpp reports
// the UTF-16 sizes Windows reports). Nothing here locks: the API layer
// holds the registry mutex around every use.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace win32sim::detail {

struct RegValue {
    std::string name; // empty for the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

class RegKey {
public:
    explicit RegKey(std::string name, RegKey* parent = nullptr);

    const std::string& Name() const { return m_name; }
    RegKey* Parent() const { return m_pParent; }
    bool Deleted() const { return m_deleted; }
    const FILETIME& LastWrite() const { return m_lastWrite; }

    // Subkeys in the order RegEnumKeyEx reports them.
    const std::vector<std::shared_ptr<RegKey>>& Subkeys() const { return m_subkeys; }
    std::shared_ptr<RegKey> FindSubkey(std::string_view name) const;
    // Returns the existing subkey of that name or a new one.
    std::shared_ptr<RegKey> AddSubkey(std::string_view name, bool* created);
    // Detaches a leaf subkey; handles still holding it see it as deleted.
    void RemoveSubkey(const RegKey* child);

    // Values in creation order, as Windows enumerates them.
    const std::vector<RegValue>& Values() const { return m_values; }
    const RegValue* FindValue(std::string_view name) const;
    // A replaced value keeps its first spelling and its place in the order.
    void SetValue(std::string_view name, DWORD type, std::vector<BYTE> data);
    bool DeleteValue(std::string_view name);

    // Full key path text, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
    std::string Path() const;

private:
    void Touch();
    // The position of the value of that name, or npos.
    size_t ValuePosition(std::string_view name) const;
    void IndexValues();

    std::string m_name;
    RegKey* m_pParent;
    bool m_deleted = false;
    FILETIME m_lastWrite{};
    std::vector<std::shared_ptr<RegKey>> m_subkeys;
    std::vector<RegValue> m_values;
    // Upper-cased name -> position in m_values, kept only for keys with many
    // values (font lists, shared DLL counters hold thousands): a search of
    // the list for each value made loading or changing such a key quadratic.
    std::unordered_map<std::string, size_t> m_valueIndex;
};

// The order Windows keeps subkeys in: by the upper-cased UTF-16 name, so
// '_' and the other characters between 'Z' and 'a' sort after the letters.
int CompareKeyNames(std::string_view a, std::string_view b);

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: the types Windows keeps as UTF-16.
bool IsStringType(DWORD type);

} // namespace win32sim::detail
