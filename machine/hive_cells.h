// A hive file edited cell by cell, for what hivex cannot do as Windows does
// (Linux only): hivex rewrites every value of a key to change one, stores a
// big value in one cell where a hive of format 1.4 or later needs a
// big-data record, and orders and hashes subkey lists by ASCII alone.
//
// Handles are hivex's: a cell's offset in the file. New cells go into one
// bin added at the end; the cells an edit replaces are marked free.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace win32sim {

// One entry of a key's new value list: an existing value cell kept as it
// is (`keep`), or a new value.
struct ValueSlot {
    size_t keep = 0;
    std::string name; // UTF-8
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// Windows' upper case of one UTF-16 unit: Unicode's simple mapping.
char16_t UpcaseUnit(char16_t unit);

// The hash an `lh` subkey list keeps for a name (UTF-16).
uint32_t SubkeyNameHash(const std::u16string& name);

class HiveCells {
public:
    bool Load(const std::string& path, std::string* error);
    // Writes the hive back with its new bin, clean (both sequence numbers
    // at least `minimumSequence`), with a fresh checksum.
    bool Save(uint32_t minimumSequence, std::string* error);

    // Replaces the value list of the key at `node`; values not kept are freed.
    bool SetValues(size_t node, const std::vector<ValueSlot>& slots, std::string* error);

    // Puts the subkey list of the key at `node` in Windows' order (names
    // compared upper-cased, unit by unit) with Windows' hints and hashes.
    bool SortSubkeys(size_t node, std::string* error);

private:
    uint32_t Word(size_t at) const;
    void SetWord(size_t at, uint32_t word);
    uint16_t Half(size_t at) const;
    bool IsCell(size_t at, size_t payload) const;
    size_t CellAt(uint32_t relative) const;
    size_t Allocate(size_t payload, const char* signature);
    void Free(size_t cell);
    void FreeValue(size_t vk);
    uint32_t WriteData(const std::vector<BYTE>& data, uint32_t* sizeField);
    size_t WriteValue(const ValueSlot& slot, size_t* nameBytes);
    std::u16string KeyName(size_t nk) const;
    bool LeafLists(size_t list, std::vector<size_t>* leaves, int depth) const;

    std::string m_path;
    std::vector<BYTE> m_bytes;
    size_t m_binStart = 0; // where the bin of new cells starts; the file's end before it
    uint16_t m_minor = 0;
};

} // namespace win32sim
