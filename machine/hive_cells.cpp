// Hive cells written as Windows writes them (hive_cells.h).
#include "machine/hive_cells.h"

#include "base/file_read.h"
#include "base/text.h"

#include <clocale>
#include <cstring>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <locale.h>
#include <algorithm>

namespace win32sim {
namespace {

constexpr size_t kBinsStart = 0x1000; // cell offsets in records count from here
constexpr size_t kBinHeader = 0x20;
constexpr size_t kBinAlign = 0x1000;
constexpr uint32_t kNoCell = 0xFFFFFFFF;
constexpr uint32_t kInlineData = 0x80000000; // up to four bytes kept in the offset field
// The most a data cell holds in format 1.4 and later: more goes into a
// big-data record ("db") of segments this size.
constexpr size_t kBigDataSegment = 16344;
constexpr uint16_t kKeyNameIsLatin1 = 0x20;
constexpr uint16_t kValueNameIsLatin1 = 0x01;

// Offsets from a cell's start (its size word) to the fields used here.
namespace nk {
constexpr size_t kFlags = 0x06, kSubkeyCount = 0x18, kSubkeyList = 0x20, kValueCount = 0x28,
                 kValueList = 0x2C, kMaxValueName = 0x40, kMaxValueData = 0x44, kNameLength = 0x4C,
                 kName = 0x50;
}
namespace vk {
constexpr size_t kNameLength = 0x06, kDataSize = 0x08, kData = 0x0C, kType = 0x10, kFlags = 0x14,
                 kName = 0x18;
}
constexpr size_t kListCount = 0x06, kListEntries = 0x08;

size_t Round8(size_t size) {
    return (size + 7) & ~size_t{7};
}

std::u16string Utf16(const std::string& utf8) {
    return base::ToWide(CP_UTF8, utf8);
}

bool FitsLatin1(const std::u16string& name) {
    return std::all_of(name.begin(), name.end(), [](char16_t unit) { return unit <= 0xFF; });
}

bool UpcasedLess(const std::u16string& left, const std::u16string& right) {
    return std::lexicographical_compare(
        left.begin(), left.end(), right.begin(), right.end(),
        [](char16_t a, char16_t b) { return UpcaseUnit(a) < UpcaseUnit(b); });
}

} // namespace

char16_t UpcaseUnit(char16_t unit) {
    if (unit < 0x80)
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 0x20) : unit;
    // glibc's C.UTF-8 maps case by Unicode's simple mapping, as Windows'
    // upcase table does (ÿ to U+0178, µ to U+039C), whatever the code page.
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (!unicode || (unit >= 0xD800 && unit < 0xE000))
        return unit;
    const wint_t upper = towupper_l(static_cast<wint_t>(unit), unicode);
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

uint32_t SubkeyNameHash(const std::u16string& name) {
    uint32_t hash = 0;
    for (char16_t unit : name)
        hash = hash * 37 + UpcaseUnit(unit);
    return hash;
}

uint32_t HiveCells::Word(size_t at) const {
    uint32_t word = 0;
    std::memcpy(&word, m_bytes.data() + at, sizeof word);
    return word;
}

void HiveCells::SetWord(size_t at, uint32_t word) {
    std::memcpy(m_bytes.data() + at, &word, sizeof word);
}

uint16_t HiveCells::Half(size_t at) const {
    return static_cast<uint16_t>(m_bytes[at] | m_bytes[at + 1] << 8);
}

// An allocated cell at `at` (a negative size word) holding `payload` bytes.
bool HiveCells::IsCell(size_t at, size_t payload) const {
    if (at < kBinsStart || at + 4 > m_bytes.size())
        return false;
    const auto size = static_cast<int32_t>(Word(at));
    return size < 0 && static_cast<size_t>(-static_cast<int64_t>(size)) >= 4 + payload &&
           at + 4 + payload <= m_bytes.size();
}

size_t HiveCells::CellAt(uint32_t relative) const {
    return relative == kNoCell ? 0 : kBinsStart + relative;
}

size_t HiveCells::Allocate(size_t payload, const char* signature) {
    if (m_bytes.size() == m_binStart)
        m_bytes.resize(m_binStart + kBinHeader, 0);
    const size_t at = m_bytes.size();
    const size_t size = Round8(4 + payload);
    m_bytes.resize(at + size, 0);
    SetWord(at, static_cast<uint32_t>(-static_cast<int32_t>(size)));
    if (signature)
        std::memcpy(m_bytes.data() + at + 4, signature, 2);
    return at;
}

void HiveCells::Free(size_t cell) {
    if (IsCell(cell, 0))
        SetWord(cell, static_cast<uint32_t>(-static_cast<int32_t>(Word(cell))));
}

void HiveCells::FreeValue(size_t value) {
    if (!IsCell(value, vk::kName) || std::memcmp(&m_bytes[value + 4], "vk", 2) != 0)
        return;
    const uint32_t size = Word(value + vk::kDataSize);
    const size_t data = CellAt(Word(value + vk::kData));
    if (!(size & kInlineData) && size > 0 && IsCell(data, 8)) {
        if (m_minor >= 4 && size > kBigDataSegment &&
            std::memcmp(&m_bytes[data + 4], "db", 2) == 0) {
            const size_t list = CellAt(Word(data + 8));
            const uint16_t segments = Half(data + kListCount);
            for (size_t i = 0; IsCell(list, 4 * segments) && i < segments; ++i)
                Free(CellAt(Word(list + 4 + 4 * i)));
            Free(list);
        }
        Free(data);
    }
    Free(value);
}

// The data of a new value; returns what its offset field holds.
uint32_t HiveCells::WriteData(const std::vector<BYTE>& data, uint32_t* sizeField) {
    *sizeField = static_cast<uint32_t>(data.size());
    if (data.size() <= 4) {
        *sizeField |= kInlineData;
        uint32_t word = 0;
        std::memcpy(&word, data.data(), data.size());
        return word;
    }
    if (m_minor < 4 || data.size() <= kBigDataSegment) {
        const size_t cell = Allocate(data.size(), nullptr);
        std::memcpy(&m_bytes[cell + 4], data.data(), data.size());
        return static_cast<uint32_t>(cell - kBinsStart);
    }
    const size_t segments = (data.size() + kBigDataSegment - 1) / kBigDataSegment;
    const size_t record = Allocate(8, "db");
    const size_t list = Allocate(4 * segments, nullptr);
    m_bytes[record + kListCount] = static_cast<BYTE>(segments);
    m_bytes[record + kListCount + 1] = static_cast<BYTE>(segments >> 8);
    SetWord(record + 8, static_cast<uint32_t>(list - kBinsStart));
    for (size_t i = 0; i < segments; ++i) {
        const size_t from = i * kBigDataSegment;
        const size_t length = std::min(kBigDataSegment, data.size() - from);
        const size_t segment = Allocate(length, nullptr);
        std::memcpy(&m_bytes[segment + 4], data.data() + from, length);
        SetWord(list + 4 + 4 * i, static_cast<uint32_t>(segment - kBinsStart));
    }
    return static_cast<uint32_t>(record - kBinsStart);
}

// A new value cell; `nameBytes` gets its name's length as UTF-16.
size_t HiveCells::WriteValue(const ValueSlot& slot, size_t* nameBytes) {
    const std::u16string name = Utf16(slot.name);
    const bool latin1 = FitsLatin1(name);
    std::vector<BYTE> stored;
    for (char16_t unit : name) {
        stored.push_back(static_cast<BYTE>(unit));
        if (!latin1)
            stored.push_back(static_cast<BYTE>(unit >> 8));
    }
    *nameBytes = 2 * name.size();
    uint32_t sizeField = 0;
    const uint32_t dataField = WriteData(slot.data, &sizeField);
    const size_t value = Allocate(vk::kName - 4 + stored.size(), "vk");
    m_bytes[value + vk::kNameLength] = static_cast<BYTE>(stored.size());
    m_bytes[value + vk::kNameLength + 1] = static_cast<BYTE>(stored.size() >> 8);
    SetWord(value + vk::kDataSize, sizeField);
    SetWord(value + vk::kData, dataField);
    SetWord(value + vk::kType, slot.type);
    m_bytes[value + vk::kFlags] = latin1 ? kValueNameIsLatin1 : 0;
    std::copy(stored.begin(), stored.end(), m_bytes.begin() + value + vk::kName);
    return value;
}

bool HiveCells::Load(const std::string& path, std::string* error) {
    base::ReadHostFile(path, &m_bytes); // a file that cannot be read fails the checks below
    m_path = path;
    if (m_bytes.size() < kBinsStart || std::memcmp(m_bytes.data(), "regf", 4) != 0 ||
        kBinsStart + Word(0x28) > m_bytes.size()) {
        *error = path + ": not a whole hive";
        return false;
    }
    m_bytes.resize(kBinsStart + Word(0x28));
    m_binStart = m_bytes.size();
    m_minor = static_cast<uint16_t>(Word(0x18));
    return true;
}

bool HiveCells::Save(uint32_t minimumSequence, std::string* error) {
    if (m_bytes.size() > m_binStart) {
        const size_t used = m_bytes.size() - m_binStart;
        const size_t size = (used + kBinAlign - 1) / kBinAlign * kBinAlign;
        if (size > used) {
            m_bytes.resize(m_binStart + size, 0);
            SetWord(m_binStart + used, static_cast<uint32_t>(size - used)); // one free cell
        }
        std::memcpy(&m_bytes[m_binStart], "hbin", 4);
        SetWord(m_binStart + 4, static_cast<uint32_t>(m_binStart - kBinsStart));
        SetWord(m_binStart + 8, static_cast<uint32_t>(size));
        m_binStart = m_bytes.size();
    }
    SetWord(0x28, static_cast<uint32_t>(m_bytes.size() - kBinsStart));
    SetWord(4, std::max(Word(4), minimumSequence));
    SetWord(8, Word(4)); // written whole: clean
    uint32_t checksum = 0;
    for (size_t at = 0; at < 0x1FC; at += 4)
        checksum ^= Word(at);
    // Windows keeps 0 and all ones out of the checksum field.
    SetWord(0x1FC, checksum == 0 ? 1 : checksum == kNoCell ? kNoCell - 1 : checksum);
    std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(m_bytes.data()),
              static_cast<std::streamsize>(m_bytes.size()));
    out.close();
    if (!out) {
        *error = m_path + ": cannot be written";
        return false;
    }
    return true;
}

bool HiveCells::SetValues(size_t node, const std::vector<ValueSlot>& slots, std::string* error) {
    if (!IsCell(node, nk::kName - 4) || std::memcmp(&m_bytes[node + 4], "nk", 2) != 0) {
        *error = m_path + ": no key record where its values were to be written";
        return false;
    }
    const uint32_t count = Word(node + nk::kValueCount);
    const size_t oldList = count ? CellAt(Word(node + nk::kValueList)) : 0;
    if (count && !IsCell(oldList, 4 * size_t{count})) {
        *error = m_path + ": a key's value list is damaged; its values were not changed";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const size_t value = CellAt(Word(oldList + 4 + 4 * i));
        if (std::none_of(slots.begin(), slots.end(),
                         [value](const ValueSlot& slot) { return slot.keep == value; }))
            FreeValue(value);
    }
    Free(oldList);
    const size_t list = slots.empty() ? 0 : Allocate(4 * slots.size(), nullptr);
    uint32_t maxName = Word(node + nk::kMaxValueName), maxData = Word(node + nk::kMaxValueData);
    for (size_t i = 0; i < slots.size(); ++i) {
        size_t nameBytes = 0;
        const size_t value = slots[i].keep ? slots[i].keep : WriteValue(slots[i], &nameBytes);
        SetWord(list + 4 + 4 * i, static_cast<uint32_t>(value - kBinsStart));
        if (!slots[i].keep) {
            maxName = std::max(maxName, static_cast<uint32_t>(nameBytes));
            maxData = std::max(maxData, static_cast<uint32_t>(slots[i].data.size()));
        }
    }
    SetWord(node + nk::kValueCount, static_cast<uint32_t>(slots.size()));
    SetWord(node + nk::kValueList, list ? static_cast<uint32_t>(list - kBinsStart) : kNoCell);
    SetWord(node + nk::kMaxValueName, maxName);
    SetWord(node + nk::kMaxValueData, maxData);
    return true;
}

std::u16string HiveCells::KeyName(size_t key) const {
    const uint16_t length = Half(key + nk::kNameLength);
    std::u16string name;
    if (!IsCell(key, nk::kName - 4 + length))
        return name;
    const BYTE* bytes = &m_bytes[key + nk::kName];
    if (Half(key + nk::kFlags) & kKeyNameIsLatin1)
        return std::u16string(bytes, bytes + length);
    for (size_t i = 0; i + 1 < length; i += 2)
        name.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    return name;
}

// The lists holding a key's subkeys: the list itself, or an index's lists.
bool HiveCells::LeafLists(size_t list, std::vector<size_t>* leaves, int depth) const {
    if (!IsCell(list, kListEntries - 4))
        return false;
    const uint16_t count = Half(list + kListCount);
    const std::string kind(reinterpret_cast<const char*>(&m_bytes[list + 4]), 2);
    if (kind == "ri" && depth == 0 && IsCell(list, kListEntries - 4 + 4 * size_t{count})) {
        for (size_t i = 0; i < count; ++i) {
            if (!LeafLists(CellAt(Word(list + kListEntries + 4 * i)), leaves, 1))
                return false;
        }
        return true;
    }
    const size_t width = kind == "li" ? 4 : 8;
    if ((kind != "lf" && kind != "lh" && kind != "li") ||
        !IsCell(list, kListEntries - 4 + width * count))
        return false;
    leaves->push_back(list);
    return true;
}

bool HiveCells::SortSubkeys(size_t node, std::string* error) {
    std::vector<size_t> leaves;
    if (Word(node + nk::kSubkeyCount) == 0)
        return true;
    if (!LeafLists(CellAt(Word(node + nk::kSubkeyList)), &leaves, 0)) {
        *error = m_path + ": a key's subkey list is damaged";
        return false;
    }
    std::vector<std::pair<std::u16string, uint32_t>> keys;
    for (size_t leaf : leaves) {
        const size_t width = m_bytes[leaf + 5] == 'i' ? 4 : 8;
        for (size_t i = 0; i < Half(leaf + kListCount); ++i) {
            const uint32_t key = Word(leaf + kListEntries + width * i);
            keys.emplace_back(KeyName(CellAt(key)), key);
        }
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const auto& a, const auto& b) { return UpcasedLess(a.first, b.first); });
    size_t next = 0;
    for (size_t leaf : leaves) {
        const char kind = static_cast<char>(m_bytes[leaf + 5]);
        const size_t width = kind == 'i' ? 4 : 8;
        for (size_t i = 0; i < Half(leaf + kListCount); ++i, ++next) {
            const size_t entry = leaf + kListEntries + width * i;
            const std::u16string& name = keys[next].first;
            SetWord(entry, keys[next].second);
            if (kind == 'h') {
                SetWord(entry + 4, SubkeyNameHash(name));
            } else if (kind == 'f') { // the first four characters, as bytes
                for (size_t c = 0; c < 4; ++c)
                    m_bytes[entry + 4 + c] = c < name.size() ? static_cast<BYTE>(name[c]) : 0;
            }
        }
    }
    return true;
}

} // namespace win32sim
