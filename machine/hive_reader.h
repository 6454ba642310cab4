// One registry hive file (regf) opened through hivex and read in the
// stand-in's terms (Linux only).
//
// The keys go into the stand-in as a wide script: names as hivex gives them
// (UTF-8) and data byte for byte, so the stand-in holds every name and
// string as Windows does, and the A functions see a name outside
// Windows-1252 as Windows shows it. A name the stand-in cannot hold (one
// with a NUL in it) is left out, with the key holding such a value, and
// listed among its mount's leftOutNodes (hive node paths are in hivex's
// UTF-8): the write-back never touches what the engine could not see. The
// settings read for the machine (Text, TextValues, SubkeyNames) are 1252.
#pragma once

#include "machine/hive_log.h"
#include "machine/windows_volume.h"
#include "regfile/regfile.h"

#include <windows.h>

#include <hivex.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace win32sim {

struct HiveCloser {
    void operator()(hive_h* hive) const { hivex_close(hive); }
};
using HiveHandle = std::unique_ptr<hive_h, HiveCloser>;

// hivex hands out names, data and lists in malloc'd memory.
struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
template <class T> using Malloced = std::unique_ptr<T, FreeDeleter>;

// A value's type is any 32-bit number, hivex's enum names only the usual
// ones: the type crosses as bytes, never loaded as the enum (a value
// outside it would be undefined behaviour).
static_assert(sizeof(hive_type) == sizeof(DWORD));
inline DWORD TypeOf(const hive_type& type) {
    DWORD raw = 0;
    std::memcpy(&raw, &type, sizeof raw);
    return raw;
}

// The hive at `path` as Windows would load it: when it is dirty, with what
// its transaction logs hold applied (`recovery` says what); errno tells
// why hivex refused it.
HiveHandle OpenAsWindowsLoads(const std::string& path, int flags, HiveRecovery* recovery);

class HiveReader {
public:
    // Opens a hive for reading; null with "<path>: <what is wrong>" when the
    // file is missing, truncated, has a bad header checksum or is no hive.
    static std::unique_ptr<HiveReader> Open(const std::string& path, std::string* error);

    HiveReader(HiveHandle handle, std::string path, std::string note)
        : m_handle(std::move(handle)), m_path(std::move(path)), m_note(std::move(note)) {
        FindMappedFile();
    }

    const std::string& Path() const { return m_path; }
    // One line on a dirty hive's recovery from its logs; empty when clean.
    const std::string& Note() const { return m_note; }

    // Whether the node at a '\'-separated path below the root exists.
    bool HasNode(const std::string& nodePath) const { return NodeAt(nodePath) != 0; }

    // A string value's text without its terminator; empty when absent.
    std::string Text(const std::string& nodePath, const char* name) const;
    std::optional<DWORD> Dword(const std::string& nodePath, const char* name) const;

    // The names of a node's subkeys (those 1252 can spell) and its named
    // string values as (name, text), for settings read from the hive.
    std::vector<std::string> SubkeyNames(const std::string& nodePath) const;
    std::vector<std::pair<std::string, std::string>> TextValues(const std::string& nodePath) const;

    // Hands the keys `mount` places to `receiver` (as a wide script's),
    // parents first, each as soon as it is read; keys left out for their
    // names join the mount's leftOutNodes. A fault of the hive reads
    // "<path>: <what>"; one of the receiver's is passed on as it gave it.
    bool ReadMount(HiveMount* mount, regfile::KeyReceiver& receiver, std::string* error) const;

private:
    struct Walk {
        HiveMount* mount;
        regfile::KeyReceiver& receiver;
        std::set<hive_node_h> seen;         // a damaged hive's lists can lead back to a key
        std::string problem;                // why the walk stopped, when the hive is at fault
        std::optional<std::string> refused; // why the receiver stopped it
        size_t keys = 0;                    // handed over
    };

    void FindMappedFile();
    void DropMappedPages() const;

    hive_node_h NodeAt(const std::string& nodePath) const;
    bool RawData(hive_value_h value, DWORD* type, std::vector<BYTE>* data) const;
    bool ValueData(hive_value_h value, DWORD* type, std::vector<BYTE>* data) const;
    bool LookUp(const std::string& nodePath, const char* name, DWORD* type,
                std::vector<BYTE>* data) const;
    bool ReadValues(hive_node_h node, std::vector<regfile::ValueOp>* values, bool* nameless) const;
    bool ReadNode(hive_node_h node, const std::string& nodePath, const std::string& keyPath,
                  size_t depth, Walk& walk) const;

    HiveHandle m_handle;
    std::string m_path;
    std::string m_note;
    // Where hivex mapped the file (shared and read-only), when it did.
    std::vector<std::pair<void*, size_t>> m_mapped;
};

} // namespace win32sim
