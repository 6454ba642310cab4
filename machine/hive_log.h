// A dirty hive as Windows loads it (Linux only): its file with the changes
// its transaction logs hold applied.
//
// Windows raises a hive's first sequence number before it writes the hive
// and the second after, so numbers that differ mean the newest changes are
// only in the logs beside it (name.LOG, name.LOG1, name.LOG2). Each log's
// own base block says its format, whatever its name:
//   type 1: a "DIRT" bitmap of the 512-byte pages it holds, applied when its
//           timestamp equals the hive's;
//   type 6: "HvLE" entries, each a set of pages checked by two Marvin32
//           hashes, applied in sequence from the hive's sequence number on,
//           up to the first entry whose hash, size or sequence is wrong.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace win32sim {

struct HiveRecovery {
    bool dirty = false;
    std::vector<std::string> logs;    // logs of this hive found beside it
    size_t entries = 0;               // log entries (or old-format logs) applied
    size_t pages = 0;                 // pages written from them
    size_t leftOut = 0;               // entries (or old-format logs) that could not be applied
    uint32_t highestSequence = 0;     // the highest sequence number in any log
    std::vector<unsigned char> bytes; // the recovered hive; empty when nothing applied

    // Whether the hive as read is the hive Windows would load.
    bool Complete() const { return !dirty || (!logs.empty() && leftOut == 0); }
    // One line for a person: what was recovered or left out; empty when clean.
    std::string Describe(const std::string& hivePath) const;
};

// Reads the hive at `hivePath` and, when it is dirty, its logs.
bool RecoverHive(const std::string& hivePath, HiveRecovery* recovery, std::string* error);

// The Marvin32 hash of `size` bytes with the seed the logs use.
uint64_t LogHash(const unsigned char* data, size_t size);

} // namespace win32sim
