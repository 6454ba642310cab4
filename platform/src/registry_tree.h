// The simulated registry's data: a tree of keys holding typed values.
//
// Windows keeps every name and string as UTF-16, and so does this tree, in
// a compact form: a name or string Windows-1252 can spell is kept as 1252
// bytes (one byte per UTF-16 unit, half the memory of a machine's text),
// any other keeps its UTF-16 units exactly as given. The A functions see
// the latter through the code page, '?' for each unit 1252 lacks, and
// cannot open it by that spelling, as on Windows. (Windows' best-fit table
// shows a few such characters as a look-alike instead, Ω as O; the
// stand-in does not.) Names match without
// regard to case and keep their first spelling. Nothing here locks: the
// API layer holds the registry mutex around every use.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace win32sim::detail {

// A key or value name: its 1252 spelling, and its UTF-16 units when 1252
// cannot spell it (then `ansi` is what the A functions show: '?' for each
// unit it lacks).
// (One pointer, not a shared one: a machine holds millions of names.)
struct RegName {
    std::string ansi;
    std::unique_ptr<const std::u16string> wide;

    RegName() = default;
    RegName(std::string text, std::unique_ptr<const std::u16string> units)
        : ansi(std::move(text)), wide(std::move(units)) {}
    RegName(const RegName& other)
        : ansi(other.ansi),
          wide(other.wide ? std::make_unique<const std::u16string>(*other.wide) : nullptr) {}
    RegName(RegName&&) noexcept = default;
    RegName& operator=(RegName other) noexcept {
        ansi.swap(other.ansi);
        wide.swap(other.wide);
        return *this;
    }

    static RegName FromAnsi(std::string_view text) { return RegName(std::string(text), nullptr); }
    static RegName FromUtf16(std::u16string_view units);
    std::u16string Utf16() const;
    size_t Length() const { return ansi.size(); }
};

// A value's data in 16 bytes: up to 12 of them in place (a DWORD, a QWORD,
// a short string: a quarter of a machine's values), more in one block of
// exactly their size. A machine holds millions of values, and a vector's
// 24 bytes plus a heap block for four bytes of DWORD were a third of each.
class ValueBytes {
public:
    ValueBytes() = default;
    ValueBytes(const BYTE* data, size_t size);
    ValueBytes(ValueBytes&& other) noexcept;
    ValueBytes& operator=(ValueBytes&& other) noexcept;
    ValueBytes(const ValueBytes&) = delete;
    ValueBytes& operator=(const ValueBytes&) = delete;
    ~ValueBytes();

    const BYTE* data() const { return InPlace() ? m_bytes : Block(); }
    size_t size() const { return m_size; }

private:
    static constexpr size_t kInPlace = 12;
    bool InPlace() const { return m_size <= kInPlace; }
    // The block's address is kept in the first bytes of m_bytes.
    BYTE* Block() const;

    uint32_t m_size = 0;
    BYTE m_bytes[kInPlace] = {};
};

struct RegValue {
    RegName name; // empty for the default value
    // String data 1252 can spell is kept as its 1252 bytes; any other as
    // the UTF-16LE bytes it was given (`utf16`). Other types: as given.
    ValueBytes data;
    DWORD type = REG_NONE;
    bool utf16 = false;
    bool deleted = false; // a hole left in a key of many values (RegKey says why)
};

class RegKey {
public:
    explicit RegKey(RegName name, RegKey* parent = nullptr);
    ~RegKey();

    const std::string& Name() const { return m_name.ansi; }
    const RegName& FullName() const { return m_name; }
    RegKey* Parent() const { return m_pParent; }
    bool Deleted() const { return m_deleted; }
    const FILETIME& LastWrite() const { return m_lastWrite; }

    // Subkeys in the order RegEnumKeyEx reports them.
    const std::vector<std::shared_ptr<RegKey>>& Subkeys() const;
    std::shared_ptr<RegKey> FindSubkey(const RegName& name) const;
    // Returns the existing subkey of that name or a new one.
    std::shared_ptr<RegKey> AddSubkey(const RegName& name, bool* created);
    // Detaches a leaf subkey; handles still holding it see it as deleted.
    void RemoveSubkey(const RegKey* child);

    // Values in creation order, as Windows enumerates them: the one at
    // `index` counts only the values there are now, so a deletion moves
    // every later value one place down, as on Windows.
    size_t ValueCount() const { return m_values.size() - HoleCount(); }
    const RegValue* ValueAt(size_t index) const;
    template <class Visit> void ForEachValue(Visit visit) const {
        for (const RegValue& value : m_values) {
            if (!value.deleted)
                visit(value);
        }
    }
    const RegValue* FindValue(const RegName& name) const;
    // A replaced value keeps its first spelling and its place in the order.
    void SetValue(const RegName& name, DWORD type, const BYTE* data, size_t size, bool utf16);
    bool DeleteValue(const RegName& name);

    // Full key path text, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
    std::string Path() const;

private:
    struct ValueIndex;

    void Touch();
    // The position of the value of that name in m_values, or npos.
    size_t ValuePosition(const RegName& name) const;
    void IndexValues();
    size_t HoleCount() const;
    void CloseHoles();
    void MergeNewSubkeys() const;
    std::vector<std::shared_ptr<RegKey>>::const_iterator SubkeyPosition(const RegName& name,
                                                                        bool* found) const;

    RegName m_name;
    RegKey* m_pParent;
    bool m_deleted = false;
    // A key of many subkeys takes new ones into a sorted run after the
    // first m_sortedSubkeys, merged in when the run grows past the square
    // root of the rest or the subkeys are listed: inserting each in its
    // place made a load in random order move half of CLSID's 43,000
    // subkeys for every new one.
    mutable uint32_t m_sortedSubkeys = 0;
    FILETIME m_lastWrite{};
    mutable std::vector<std::shared_ptr<RegKey>> m_subkeys;
    // In creation order. A key of few values erases a deleted one; a key of
    // many (font lists, shared DLL counters hold thousands) leaves a hole
    // and finds values by name and by place through m_index.
    std::vector<RegValue> m_values;
    std::unique_ptr<ValueIndex> m_index;
};

// The order Windows keeps subkeys in: by the upper-cased UTF-16 name, so
// '_' and the other characters between 'Z' and 'a' sort after the letters.
int CompareKeyNames(const RegName& a, const RegName& b);

// A name's upper-cased UTF-16 units: equal for names the registry takes
// for one.
std::u16string FoldedName(const RegName& name);

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: the types Windows keeps as UTF-16.
bool IsStringType(DWORD type);

// String data between its two forms: 1252 bytes to UTF-16LE, and UTF-16LE
// to 1252 ('?' for what it lacks; an odd last byte is dropped). The exact
// form of UTF-16LE data: its 1252 bytes when 1252 spells every unit.
std::vector<BYTE> WidenData(const BYTE* ansi, size_t size);
std::vector<BYTE> NarrowData(const BYTE* utf16, size_t size);
bool ExactAnsiData(const BYTE* utf16, size_t size, std::vector<BYTE>* ansi);

} // namespace win32sim::detail
