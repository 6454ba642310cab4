#include "registry_tree.h"

#include "codepage.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>

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

// Upper case of a unit 1252 lacks: the alphabets a registry name outside
// 1252 is most often written in (Latin Extended-A, Greek, Cyrillic).
char16_t UpperOtherUnit(char16_t u) {
    const bool evenUpper = (u >= 0x100 && u <= 0x137) || (u >= 0x14A && u <= 0x177);
    const bool oddUpper = (u >= 0x139 && u <= 0x148) || (u >= 0x179 && u <= 0x17E);
    if ((evenUpper && (u & 1)) || (oddUpper && !(u & 1)))
        return u - 1;
    if ((u >= 0x3B1 && u <= 0x3CB && u != 0x3C2) || (u >= 0x430 && u <= 0x44F))
        return u - 0x20;
    if (u >= 0x450 && u <= 0x45F)
        return u - 0x50;
    return u;
}

char16_t UpperUnit(char16_t u) {
    unsigned char c;
    return Utf16ToAnsiChar(u, &c) ? UpperUnits()[c] : UpperOtherUnit(u);
}

// The upper-cased unit `i` of a name in either form.
char16_t UpperUnitAt(const RegName& name, size_t i) {
    return name.wide ? UpperUnit((*name.wide)[i]) : UpperUnits()[static_cast<unsigned char>(name.ansi[i])];
}

} // namespace

RegName RegName::FromUtf16(std::u16string_view units) {
    RegName name(Utf16ToAnsi(units), nullptr);
    for (char16_t u : units) {
        unsigned char c;
        if (!Utf16ToAnsiChar(u, &c)) {
            name.wide = std::make_unique<const std::u16string>(units);
            break;
        }
    }
    return name;
}

std::u16string RegName::Utf16() const {
    return wide ? *wide : AnsiToUtf16(ansi);
}

int CompareKeyNames(const RegName& a, const RegName& b) {
    const size_t common = std::min(a.Length(), b.Length());
    if (!a.wide && !b.wide) {
        // Almost every name: equal bytes are equal characters (a binary
        // search among CLSID's 40,000 GUIDs meets long common starts), and
        // a table answers for the rest at once.
        size_t i = 0;
        while (i < common && a.ansi[i] == b.ansi[i])
            ++i;
        const UnitTable& upper = UpperUnits();
        for (; i < common; ++i) {
            const char16_t ua = upper[static_cast<unsigned char>(a.ansi[i])];
            const char16_t ub = upper[static_cast<unsigned char>(b.ansi[i])];
            if (ua != ub)
                return ua < ub ? -1 : 1;
        }
    } else {
        for (size_t i = 0; i < common; ++i) {
            const char16_t ua = UpperUnitAt(a, i), ub = UpperUnitAt(b, i);
            if (ua != ub)
                return ua < ub ? -1 : 1;
        }
    }
    return a.Length() == b.Length() ? 0 : (a.Length() < b.Length() ? -1 : 1);
}

std::u16string FoldedName(const RegName& name) {
    std::u16string folded(name.Length(), u'\0');
    for (size_t i = 0; i < folded.size(); ++i)
        folded[i] = UpperUnitAt(name, i);
    return folded;
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::vector<BYTE> WidenData(const BYTE* ansi, size_t size) {
    std::vector<BYTE> utf16;
    utf16.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        const char16_t u = AnsiCharToUtf16(ansi[i]);
        utf16.push_back(static_cast<BYTE>(u & 0xFF));
        utf16.push_back(static_cast<BYTE>(u >> 8));
    }
    return utf16;
}

std::vector<BYTE> NarrowData(const BYTE* utf16, size_t size) {
    std::vector<BYTE> ansi(size / 2);
    for (size_t i = 0; i < ansi.size(); ++i) {
        unsigned char c;
        const auto u = static_cast<char16_t>(utf16[2 * i] | utf16[2 * i + 1] << 8);
        ansi[i] = Utf16ToAnsiChar(u, &c) ? c : '?';
    }
    return ansi;
}

bool ExactAnsiData(const BYTE* utf16, size_t size, std::vector<BYTE>* ansi) {
    if (size % 2 != 0)
        return false;
    ansi->resize(size / 2);
    for (size_t i = 0; i < ansi->size(); ++i) {
        unsigned char c;
        if (!Utf16ToAnsiChar(static_cast<char16_t>(utf16[2 * i] | utf16[2 * i + 1] << 8), &c))
            return false;
        (*ansi)[i] = c;
    }
    return true;
}

ValueBytes::ValueBytes(const BYTE* data, size_t size) : m_size(static_cast<uint32_t>(size)) {
    if (InPlace()) {
        std::copy(data, data + size, m_bytes);
        return;
    }
    BYTE* block = new BYTE[size];
    std::copy(data, data + size, block);
    std::memcpy(m_bytes, &block, sizeof(block));
}

ValueBytes::ValueBytes(ValueBytes&& other) noexcept : m_size(other.m_size) {
    std::memcpy(m_bytes, other.m_bytes, kInPlace);
    other.m_size = 0;
}

ValueBytes& ValueBytes::operator=(ValueBytes&& other) noexcept {
    if (this != &other) {
        if (!InPlace())
            delete[] Block();
        m_size = other.m_size;
        std::memcpy(m_bytes, other.m_bytes, kInPlace);
        other.m_size = 0;
    }
    return *this;
}

ValueBytes::~ValueBytes() {
    if (!InPlace())
        delete[] Block();
}

BYTE* ValueBytes::Block() const {
    BYTE* block;
    std::memcpy(&block, m_bytes, sizeof(block));
    return block;
}

namespace {

bool NameBefore(const std::shared_ptr<RegKey>& key, const RegName& name) {
    return CompareKeyNames(key->FullName(), name) < 0;
}

bool KeyBefore(const std::shared_ptr<RegKey>& a, const std::shared_ptr<RegKey>& b) {
    return CompareKeyNames(a->FullName(), b->FullName()) < 0;
}

// Keys with fewer subkeys take a new one straight into its place.
constexpr size_t kSubkeyRunFrom = 256;

} // namespace

RegKey::RegKey(RegName name, RegKey* parent)
    : m_name(std::move(name)), m_pParent(parent), m_lastWrite(Now()) {}

RegKey::~RegKey() = default;

// Each new subkey, last first, finds its place among the sorted ones by a
// binary search, and the sorted ones after it move up once: a merge that
// compared every name would cost as many comparisons as the key has
// subkeys, each time the run is merged.
void RegKey::MergeNewSubkeys() const {
    const size_t total = m_subkeys.size();
    if (m_sortedSubkeys == total)
        return;
    std::vector<std::shared_ptr<RegKey>> run(
        std::make_move_iterator(m_subkeys.begin() + m_sortedSubkeys),
        std::make_move_iterator(m_subkeys.end()));
    auto placed = m_subkeys.begin() + m_sortedSubkeys; // the sorted ones not yet moved end here
    auto write = m_subkeys.end();
    for (auto next = run.rbegin(); next != run.rend(); ++next) {
        const auto at = std::upper_bound(m_subkeys.begin(), placed, *next, KeyBefore);
        write = std::move_backward(at, placed, write);
        placed = at;
        *--write = std::move(*next);
    }
    m_sortedSubkeys = static_cast<uint32_t>(total);
}

const std::vector<std::shared_ptr<RegKey>>& RegKey::Subkeys() const {
    MergeNewSubkeys();
    return m_subkeys;
}

// Where the subkey of that name is, or where a new one goes: into the
// sorted run of new subkeys when there is one, else into its place.
std::vector<std::shared_ptr<RegKey>>::const_iterator
RegKey::SubkeyPosition(const RegName& name, bool* found) const {
    const auto sortedEnd = m_subkeys.cbegin() + m_sortedSubkeys;
    auto it = std::lower_bound(m_subkeys.cbegin(), sortedEnd, name, NameBefore);
    *found = it != sortedEnd && CompareKeyNames((*it)->m_name, name) == 0;
    if (*found || (sortedEnd == m_subkeys.cend() && m_subkeys.size() < kSubkeyRunFrom))
        return it;
    it = std::lower_bound(sortedEnd, m_subkeys.cend(), name, NameBefore);
    *found = it != m_subkeys.cend() && CompareKeyNames((*it)->m_name, name) == 0;
    return it;
}

std::shared_ptr<RegKey> RegKey::FindSubkey(const RegName& name) const {
    bool found = false;
    const auto it = SubkeyPosition(name, &found);
    return found ? *it : nullptr;
}

std::shared_ptr<RegKey> RegKey::AddSubkey(const RegName& name, bool* created) {
    bool found = false;
    const auto it = SubkeyPosition(name, &found);
    *created = !found;
    if (found)
        return *it;
    Touch();
    const bool intoRun = it - m_subkeys.cbegin() >= m_sortedSubkeys &&
                         m_subkeys.size() >= kSubkeyRunFrom;
    auto child = *m_subkeys.insert(it, std::make_shared<RegKey>(name, this));
    if (!intoRun) {
        ++m_sortedSubkeys;
    } else {
        const size_t run = m_subkeys.size() - m_sortedSubkeys;
        if (run * run > m_sortedSubkeys)
            MergeNewSubkeys();
    }
    return child;
}

void RegKey::RemoveSubkey(const RegKey* child) {
    MergeNewSubkeys();
    auto it = std::find_if(m_subkeys.begin(), m_subkeys.end(),
                           [child](const auto& key) { return key.get() == child; });
    if (it == m_subkeys.end())
        return;
    (*it)->m_deleted = true;
    (*it)->m_pParent = nullptr;
    m_subkeys.erase(it);
    m_sortedSubkeys = static_cast<uint32_t>(m_subkeys.size());
    Touch();
}

namespace {
// Keys with this many values find them through an index: font lists and
// shared DLL counters hold thousands, and a search of the list for each one
// made loading or changing such a key quadratic.
constexpr size_t kIndexedValueCount = 64;
constexpr size_t kExactValueRoom = 8;
} // namespace

// A key of many values finds a value by name through a hash of its
// upper-cased name, and by its place in the enumeration through a Fenwick
// tree counting the values left in each stretch of m_values: a deletion
// leaves a hole instead of moving every later value, so deleting all n
// values of a key costs n log n, not n².
struct RegKey::ValueIndex {
    std::unordered_map<std::u16string, size_t> slots;
    std::vector<uint32_t> tree; // 1-based: tree[i - 1] counts slots (i - lowbit(i), i]
    size_t holes = 0;

    static size_t LowBit(size_t i) { return i & (~i + 1); }

    void Build(size_t count) {
        tree.assign(count, 1);
        for (size_t i = 1; i <= count; ++i) {
            const size_t parent = i + LowBit(i);
            if (parent <= count)
                tree[parent - 1] += tree[i - 1];
        }
    }
    void Append() {
        const size_t node = tree.size() + 1;
        uint32_t count = 1;
        for (size_t step = 1; step < LowBit(node); step <<= 1)
            count += tree[node - step - 1];
        tree.push_back(count);
    }
    void Remove(size_t slot) {
        for (size_t i = slot + 1; i <= tree.size(); i += LowBit(i))
            --tree[i - 1];
        ++holes;
    }
    // The slot of the value at `place` among those left.
    size_t Find(size_t place) const {
        size_t node = 0, left = place + 1;
        size_t step = 1;
        while (step * 2 <= tree.size())
            step *= 2;
        for (; step > 0; step /= 2) {
            if (node + step <= tree.size() && tree[node + step - 1] < left) {
                node += step;
                left -= tree[node - 1];
            }
        }
        return node;
    }
};

size_t RegKey::HoleCount() const {
    return m_index ? m_index->holes : 0;
}

size_t RegKey::ValuePosition(const RegName& name) const {
    if (m_index) {
        const auto found = m_index->slots.find(FoldedName(name));
        return found == m_index->slots.end() ? std::string::npos : found->second;
    }
    for (size_t i = 0; i < m_values.size(); ++i) {
        if (CompareKeyNames(m_values[i].name, name) == 0)
            return i;
    }
    return std::string::npos;
}

void RegKey::IndexValues() {
    m_index = std::make_unique<ValueIndex>();
    m_index->slots.reserve(m_values.size());
    for (size_t i = 0; i < m_values.size(); ++i)
        m_index->slots.emplace(FoldedName(m_values[i].name), i);
    m_index->Build(m_values.size());
}

// Once holes are as many as the values, the values move together: each move
// pays for a deletion that came before it. A value before the first hole
// stays where it is: moving it onto itself would leave it empty (a vector's
// move assignment to itself does), and a save would write its data as none.
void RegKey::CloseHoles() {
    std::vector<size_t> moved(m_values.size());
    size_t kept = 0;
    for (size_t i = 0; i < m_values.size(); ++i) {
        moved[i] = kept;
        if (m_values[i].deleted)
            continue;
        if (kept != i)
            m_values[kept] = std::move(m_values[i]);
        ++kept;
    }
    m_values.resize(kept);
    if (kept == 0) {
        m_values.shrink_to_fit();
        m_index.reset();
        return;
    }
    for (auto& entry : m_index->slots)
        entry.second = moved[entry.second];
    m_index->Build(kept);
    m_index->holes = 0;
}

const RegValue* RegKey::ValueAt(size_t index) const {
    if (index >= ValueCount())
        return nullptr;
    return &m_values[HoleCount() == 0 ? index : m_index->Find(index)];
}

const RegValue* RegKey::FindValue(const RegName& name) const {
    const size_t position = ValuePosition(name);
    return position == std::string::npos ? nullptr : &m_values[position];
}

void RegKey::SetValue(const RegName& name, DWORD type, const BYTE* data, size_t size, bool utf16) {
    Touch();
    const size_t position = ValuePosition(name);
    if (position != std::string::npos) {
        m_values[position].type = type;
        m_values[position].data = ValueBytes(data, size);
        m_values[position].utf16 = utf16;
        return;
    }
    // Most keys hold one to three values and are never written again: up to
    // a few, the list grows by one instead of doubling into room it keeps.
    if (m_values.size() == m_values.capacity() && m_values.size() < kExactValueRoom)
        m_values.reserve(m_values.size() + 1);
    m_values.push_back(RegValue{name, ValueBytes(data, size), type, utf16});
    if (m_index) {
        m_index->slots.emplace(FoldedName(name), m_values.size() - 1);
        m_index->Append();
    } else if (m_values.size() == kIndexedValueCount) {
        IndexValues();
    }
}

bool RegKey::DeleteValue(const RegName& name) {
    if (!m_index) {
        const size_t position = ValuePosition(name);
        if (position == std::string::npos)
            return false;
        Touch();
        m_values.erase(m_values.begin() + static_cast<std::ptrdiff_t>(position));
        return true;
    }
    const auto found = m_index->slots.find(FoldedName(name));
    if (found == m_index->slots.end())
        return false;
    Touch();
    const size_t position = found->second;
    m_index->slots.erase(found);
    m_values[position] = RegValue{};
    m_values[position].deleted = true;
    m_index->Remove(position);
    if (m_index->holes >= ValueCount())
        CloseHoles();
    return true;
}

std::string RegKey::Path() const {
    if (!m_pParent)
        return m_name.ansi;
    return m_pParent->Path() + "\\" + m_name.ansi;
}

void RegKey::Touch() {
    m_lastWrite = Now();
}

} // namespace win32sim::detail
