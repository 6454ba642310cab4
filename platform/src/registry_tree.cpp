#include "registry_tree.h"

#include "codepage.h"

#include <algorithm>
#include <array>
#include <chrono>

namespace win32sim::detail {
namespace {

FILETIME Now() {
    // FILETIME counts 100 ns ticks since 1601; the Unix epoch is 11644473600 s later.
    constexpr uint64_t kEpochOffset = 116444736000000000ULL;
    const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
    const uint64_t ticks =
        kEpochOffset +
        static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(since1970).count() / 100);
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// The upper-cased UTF-16 unit of every ANSI byte. Every lookup of a key
// name compares names character by character in a binary search, so a
// machine load asks this millions of times: a table answers at once.
using UnitTable = std::array<char16_t, 256>;
const UnitTable& UpperUnits() {
    static const UnitTable table = [] {
        UnitTable units{};
        for (size_t c = 0; c < units.size(); ++c)
            units[c] = AnsiCharToUtf16(UpperAnsi(static_cast<unsigned char>(c)));
        return units;
    }();
    return table;
}

} // namespace

int CompareKeyNames(std::string_view a, std::string_view b) {
    const UnitTable& upper = UpperUnits();
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const char16_t ua = upper[static_cast<unsigned char>(a[i])];
        const char16_t ub = upper[static_cast<unsigned char>(b[i])];
        if (ua != ub)
            return ua < ub ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

RegKey::RegKey(std::string name, RegKey* parent)
    : m_name(std::move(name)), m_pParent(parent), m_lastWrite(Now()) {}

std::shared_ptr<RegKey> RegKey::FindSubkey(std::string_view name) const {
    auto it = std::lower_bound(m_subkeys.begin(), m_subkeys.end(), name,
                               [](const std::shared_ptr<RegKey>& key, std::string_view n) {
                                   return CompareKeyNames(key->Name(), n) < 0;
                               });
    if (it != m_subkeys.end() && CompareKeyNames((*it)->Name(), name) == 0)
        return *it;
    return nullptr;
}

std::shared_ptr<RegKey> RegKey::AddSubkey(std::string_view name, bool* created) {
    auto it = std::lower_bound(m_subkeys.begin(), m_subkeys.end(), name,
                               [](const std::shared_ptr<RegKey>& key, std::string_view n) {
                                   return CompareKeyNames(key->Name(), n) < 0;
                               });
    if (it != m_subkeys.end() && CompareKeyNames((*it)->Name(), name) == 0) {
        *created = false;
        return *it;
    }
    *created = true;
    Touch();
    return *m_subkeys.insert(it, std::make_shared<RegKey>(std::string(name), this));
}

void RegKey::RemoveSubkey(const RegKey* child) {
    auto it = std::find_if(m_subkeys.begin(), m_subkeys.end(),
                           [child](const auto& key) { return key.get() == child; });
    if (it == m_subkeys.end())
        return;
    (*it)->m_deleted = true;
    (*it)->m_pParent = nullptr;
    m_subkeys.erase(it);
    Touch();
}

namespace {
constexpr size_t kIndexedValueCount = 64;
} // namespace

size_t RegKey::ValuePosition(std::string_view name) const {
    if (!m_valueIndex.empty()) {
        const auto found = m_valueIndex.find(UpperAnsi(name));
        return found == m_valueIndex.end() ? std::string::npos : found->second;
    }
    for (size_t i = 0; i < m_values.size(); ++i) {
        if (EqualAnsiNoCase(m_values[i].name, name))
            return i;
    }
    return std::string::npos;
}

void RegKey::IndexValues() {
    m_valueIndex.clear();
    if (m_values.size() < kIndexedValueCount)
        return;
    for (size_t i = 0; i < m_values.size(); ++i)
        m_valueIndex.emplace(UpperAnsi(m_values[i].name), i);
}

const RegValue* RegKey::FindValue(std::string_view name) const {
    const size_t position = ValuePosition(name);
    return position == std::string::npos ? nullptr : &m_values[position];
}

void RegKey::SetValue(std::string_view name, DWORD type, std::vector<BYTE> data) {
    Touch();
    const size_t position = ValuePosition(name);
    if (position != std::string::npos) {
        m_values[position].type = type;
        m_values[position].data = std::move(data);
        return;
    }
    m_values.push_back(RegValue{std::string(name), type, std::move(data)});
    if (!m_valueIndex.empty())
        m_valueIndex.emplace(UpperAnsi(name), m_values.size() - 1);
    else if (m_values.size() == kIndexedValueCount)
        IndexValues();
}

bool RegKey::DeleteValue(std::string_view name) {
    const size_t position = ValuePosition(name);
    if (position == std::string::npos)
        return false;
    if (!m_valueIndex.empty()) {
        m_valueIndex.erase(UpperAnsi(m_values[position].name));
        for (auto& entry : m_valueIndex) {
            if (entry.second > position)
                --entry.second;
        }
    }
    m_values.erase(m_values.begin() + static_cast<std::ptrdiff_t>(position));
    Touch();
    return true;
}

std::string RegKey::Path() const {
    if (!m_pParent)
        return m_name;
    return m_pParent->Path() + "\\" + m_name;
}

void RegKey::Touch() {
    m_lastWrite = Now();
}

} // namespace win32sim::detail
