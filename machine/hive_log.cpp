// Transaction-log recovery of dirty hives (hive_log.h).
#include "machine/hive_log.h"

#include "base/file_read.h"

#include <win32sim/text.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace win32sim {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

constexpr size_t kBaseBlock = 0x1000;
constexpr size_t kSector = 512;
constexpr size_t kChecksum = 0x1FC;
constexpr size_t kEntryHeader = 40;
constexpr uint32_t kOldLog = 1, kNewLog = 6;
// The seed Windows hashes log entries with.
constexpr uint64_t kLogHashSeed = 0x82EF4D887A4E55C5;

uint32_t Word(const Bytes& bytes, size_t at) {
    uint32_t word = 0;
    if (at + 4 <= bytes.size())
        std::memcpy(&word, &bytes[at], 4);
    return word;
}

void SetWord(Bytes* bytes, size_t at, uint32_t word) {
    std::memcpy(&(*bytes)[at], &word, 4);
}

uint64_t Quad(const Bytes& bytes, size_t at) {
    return Word(bytes, at) | uint64_t{Word(bytes, at + 4)} << 32;
}

uint32_t Checksum(const Bytes& bytes) {
    uint32_t sum = 0;
    for (size_t at = 0; at < kChecksum; at += 4)
        sum ^= Word(bytes, at);
    return sum == 0 ? 1 : sum == 0xFFFFFFFF ? 0xFFFFFFFE : sum;
}

// A log's base block is the first sector: "regf", its checksum right and
// both sequence numbers equal (it was written whole).
bool IsLogOf(const Bytes& log) {
    return log.size() >= kSector && std::memcmp(log.data(), "regf", 4) == 0 &&
           Word(log, 4) == Word(log, 8) && Checksum(log) == Word(log, kChecksum);
}

Bytes ReadFile(const fs::path& path) {
    Bytes bytes;
    base::ReadHostFile(path.string(), &bytes);
    return bytes;
}

// The hive's logs, matched without regard to case as NTFS does: .LOG,
// .LOG1, .LOG2, in the order Windows reads them.
std::vector<fs::path> LogsBeside(const fs::path& hive) {
    std::vector<fs::path> logs;
    std::error_code ignored;
    const std::string name = HostNameToAnsi(hive.filename().string());
    for (const char* suffix : {".LOG", ".LOG1", ".LOG2"}) {
        for (const auto& entry :
             fs::directory_iterator(fs::absolute(hive).parent_path(), ignored)) {
            if (EqualAnsiNoCase(HostNameToAnsi(entry.path().filename().string()), name + suffix) &&
                entry.is_regular_file(ignored)) {
                logs.push_back(entry.path());
                break;
            }
        }
    }
    return logs;
}

// Grows or shrinks the hive's bins to `binsSize`, as its base block says.
void ResizeBins(Bytes* hive, uint32_t binsSize) {
    hive->resize(kBaseBlock + binsSize, 0);
    SetWord(hive, 0x28, binsSize);
}

bool PlausibleBinsSize(uint32_t size) {
    return size != 0 && size % kBaseBlock == 0;
}

// Old format: the pages the bitmap marks, one after another from the
// sector after it. All or nothing: a log cut short is left out whole.
bool ApplyOldLog(const Bytes& log, Bytes* hive, size_t* pages) {
    const uint32_t binsSize = Word(log, 0x28);
    const size_t bitmapBytes = binsSize / kSector / 8;
    if (!PlausibleBinsSize(binsSize) || log.size() < kSector + 4 + bitmapBytes ||
        std::memcmp(&log[kSector], "DIRT", 4) != 0)
        return false;
    const size_t first = (kSector + 4 + bitmapBytes + kSector - 1) / kSector * kSector;
    Bytes recovered = *hive;
    ResizeBins(&recovered, binsSize);
    size_t stored = 0;
    for (size_t page = 0; page < binsSize / kSector; ++page) {
        if (!(log[kSector + 4 + page / 8] >> (page % 8) & 1))
            continue;
        const size_t from = first + stored++ * kSector;
        if (from + kSector > log.size())
            return false;
        std::copy_n(&log[from], kSector, &recovered[kBaseBlock + page * kSector]);
    }
    *hive = std::move(recovered);
    *pages += stored;
    return true;
}

struct LogEntry {
    const Bytes* log;
    size_t at;
    uint32_t sequence;
    bool sound;
};

// A new-format entry is sound when its size, bins size, page references
// and both hashes hold.
bool SoundEntry(const Bytes& log, size_t at) {
    const uint32_t size = Word(log, at + 4), binsSize = Word(log, at + 16),
                   pages = Word(log, at + 20);
    if (size < kEntryHeader || size % kSector != 0 || at + size > log.size() ||
        !PlausibleBinsSize(binsSize) || kEntryHeader + 8 * uint64_t{pages} > size)
        return false;
    uint64_t data = kEntryHeader + 8 * uint64_t{pages};
    for (uint32_t i = 0; i < pages; ++i) {
        const uint32_t offset = Word(log, at + kEntryHeader + 8 * i),
                       length = Word(log, at + kEntryHeader + 8 * i + 4);
        data += length;
        if (uint64_t{offset} + length > binsSize || data > size)
            return false;
    }
    return LogHash(&log[at + kEntryHeader], size - kEntryHeader) == Quad(log, at + 24) &&
           LogHash(&log[at], 32) == Quad(log, at + 32);
}

// Every entry header of a log, marked sound or not; entries after an
// unsound one are not sound either (Windows stops reading there).
void ReadEntries(const Bytes& log, std::vector<LogEntry>* entries) {
    bool sound = true;
    for (size_t at = kSector; at + kEntryHeader <= log.size();) {
        if (std::memcmp(&log[at], "HvLE", 4) != 0) {
            if (sound)
                return;    // the end of the entries written
            at += kSector; // look on for entries to count as left out
            continue;
        }
        sound = sound && SoundEntry(log, at);
        entries->push_back(LogEntry{&log, at, Word(log, at + 12), sound});
        const uint32_t size = Word(log, at + 4);
        at += sound ? size : kSector;
    }
}

void ApplyEntry(const LogEntry& entry, Bytes* hive, size_t* pages) {
    const Bytes& log = *entry.log;
    ResizeBins(hive, Word(log, entry.at + 16));
    const uint32_t count = Word(log, entry.at + 20);
    size_t data = entry.at + kEntryHeader + 8 * size_t{count};
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = Word(log, entry.at + kEntryHeader + 8 * i),
                       length = Word(log, entry.at + kEntryHeader + 8 * i + 4);
        std::copy_n(&log[data], length, &(*hive)[kBaseBlock + offset]);
        data += length;
    }
    *pages += count;
    SetWord(hive, 4, entry.sequence);
    SetWord(hive, 8, entry.sequence);
}

// New format: from the hive's sequence number on, each entry the next in
// sequence; the first that is unsound or out of sequence stops recovery.
void ApplyNewLogs(const std::vector<Bytes>& logs, Bytes* hive, HiveRecovery* recovery) {
    std::vector<LogEntry> entries;
    for (const Bytes& log : logs)
        ReadEntries(log, &entries);
    const uint32_t start = Word(*hive, 4);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [start](const LogEntry& e) { return e.sequence < start; }),
                  entries.end());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const LogEntry& a, const LogEntry& b) { return a.sequence < b.sequence; });
    uint32_t next = 0; // once one entry applied, the sequence the next must have
    for (size_t i = 0; i < entries.size(); ++i) {
        const LogEntry& entry = entries[i];
        if (recovery->entries && entry.sound && entry.sequence < next)
            continue; // the same entry in both logs
        if (!entry.sound || (recovery->entries && entry.sequence != next)) {
            recovery->leftOut = entries.size() - i;
            return;
        }
        ApplyEntry(entry, hive, &recovery->pages);
        ++recovery->entries;
        next = entry.sequence + 1;
    }
}

} // namespace

uint64_t LogHash(const unsigned char* data, size_t size) {
    uint32_t low = static_cast<uint32_t>(kLogHashSeed),
             high = static_cast<uint32_t>(kLogHashSeed >> 32);
    const auto mix = [&low, &high]() {
        const auto rotate = [](uint32_t x, int n) { return x << n | x >> (32 - n); };
        high ^= low;
        low = rotate(low, 20) + high;
        high = rotate(high, 9) ^ low;
        low = rotate(low, 27) + high;
        high = rotate(high, 19);
    };
    size_t at = 0;
    for (; at + 4 <= size; at += 4) {
        uint32_t word = 0;
        std::memcpy(&word, data + at, 4);
        low += word;
        mix();
    }
    // The last one to three bytes, then an end marker byte of 0x80.
    uint32_t last = 0x80u << (8 * (size - at));
    for (size_t i = 0; at + i < size; ++i)
        last |= uint32_t{data[at + i]} << (8 * i);
    low += last;
    mix();
    mix();
    return low | uint64_t{high} << 32;
}

std::string HiveRecovery::Describe(const std::string& hivePath) const {
    if (!dirty)
        return {};
    std::string line = hivePath + ": not shut down cleanly; ";
    if (logs.empty())
        return line + "no transaction logs beside it, read as it is";
    line += "recovered from its transaction logs (log entries applied: " + std::to_string(entries) +
            ", pages: " + std::to_string(pages) + ")";
    if (leftOut)
        line += "; log entries left out, damaged or out of sequence: " + std::to_string(leftOut);
    return line;
}

bool RecoverHive(const std::string& hivePath, HiveRecovery* recovery, std::string* error) {
    *recovery = HiveRecovery{};
    Bytes hive = ReadFile(hivePath);
    if (hive.size() < kBaseBlock || std::memcmp(hive.data(), "regf", 4) != 0) {
        *error = hivePath + ": not a registry hive";
        return false;
    }
    recovery->dirty = Word(hive, 4) != Word(hive, 8);
    if (!recovery->dirty)
        return true;
    hive.resize(std::min(hive.size(), kBaseBlock + size_t{Word(hive, 0x28)}));
    std::vector<Bytes> newLogs;
    for (const fs::path& path : LogsBeside(hivePath)) {
        Bytes log = ReadFile(path);
        if (!IsLogOf(log))
            continue;
        recovery->logs.push_back(path.string());
        recovery->highestSequence = std::max(recovery->highestSequence, Word(log, 4));
        if (Word(log, 0x1C) == kNewLog) {
            std::vector<LogEntry> entries;
            ReadEntries(log, &entries);
            for (const LogEntry& entry : entries)
                recovery->highestSequence = std::max(recovery->highestSequence, entry.sequence);
            newLogs.push_back(std::move(log));
        } else if (Word(log, 0x1C) == kOldLog && Quad(log, 12) == Quad(hive, 12) &&
                   recovery->entries == 0) {
            if (ApplyOldLog(log, &hive, &recovery->pages))
                ++recovery->entries;
            else
                ++recovery->leftOut;
        }
    }
    ApplyNewLogs(newLogs, &hive, recovery);
    if (recovery->entries) {
        SetWord(&hive, 8, Word(hive, 4));
        SetWord(&hive, kChecksum, Checksum(hive));
        recovery->bytes = std::move(hive);
    }
    return true;
}

} // namespace win32sim
