#include "fileref/scan_file_cache.h"

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

namespace {

struct ProbeAnswer {
    bool found;
    DWORD attributes;
};

// Answers by text, each text kept once in one buffer. A scan of a key of
// many values asks about hundreds of thousands of paths: with a block for
// each text and each entry, building, searching and freeing the memory took
// a large share of the scan. The table itself holds eight bytes a slot (the
// entry's number and a part of its hash), so that a question never asked
// before, the usual one in such a scan, looks at a few neighbouring slots
// and at no entry.
template <class Answer> class AnswersByText {
public:
    const Answer* Find(std::string_view text) const {
        if (m_slots.empty())
            return nullptr;
        const Slot& slot = m_slots[SlotOf(text, Hash(text))];
        return slot.entry != 0 ? &m_entries[slot.entry - 1].answer : nullptr;
    }

    void Keep(std::string_view text, Answer answer) {
        if ((m_entries.size() + 1) * 2 > m_slots.size())
            Grow();
        const size_t hash = Hash(text);
        Slot& slot = m_slots[SlotOf(text, hash)];
        if (slot.entry != 0) {
            m_entries[slot.entry - 1].answer = answer;
            return;
        }
        // Past four thousand million texts nothing more is kept: a memory
        // that forgets costs a question again, never an answer.
        if (m_entries.size() >= UINT32_MAX - 1)
            return;
        m_entries.push_back(Entry{hash, m_texts.size(), text.size(), answer});
        m_texts.append(text);
        slot = Slot{static_cast<uint32_t>(m_entries.size()), Tag(hash)};
    }

private:
    struct Entry {
        size_t hash;
        size_t offset;
        size_t length;
        Answer answer;
    };
    struct Slot {
        uint32_t entry = 0; // the entry's index + 1; 0 when free
        uint32_t tag = 0;
    };

    static size_t Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }
    // The hash's high half: the slot's place comes from its low bits.
    static uint32_t Tag(size_t hash) {
        return static_cast<uint32_t>(hash >> (sizeof(size_t) * 4));
    }

    // The slot holding `text`, or the free one where it would go (the table
    // is never more than half full, so one is always found).
    size_t SlotOf(std::string_view text, size_t hash) const {
        const size_t mask = m_slots.size() - 1;
        const uint32_t tag = Tag(hash);
        for (size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = m_slots[i];
            if (slot.entry == 0)
                return i;
            if (slot.tag != tag)
                continue;
            const Entry& entry = m_entries[slot.entry - 1];
            if (entry.hash == hash && entry.length == text.size() &&
                std::memcmp(m_texts.data() + entry.offset, text.data(), text.size()) == 0)
                return i;
        }
    }

    void Grow() {
        m_slots.assign(m_slots.empty() ? 1024 : m_slots.size() * 2, Slot{});
        const size_t mask = m_slots.size() - 1;
        for (size_t index = 0; index < m_entries.size(); ++index) {
            size_t i = m_entries[index].hash & mask;
            while (m_slots[i].entry != 0)
                i = (i + 1) & mask;
            m_slots[i] = Slot{static_cast<uint32_t>(index + 1), Tag(m_entries[index].hash)};
        }
    }

    std::string m_texts;
    std::vector<Entry> m_entries;
    std::vector<Slot> m_slots; // a power of two of them
};

// The same text asked with redirection on and off may answer differently,
// so probes and searches are kept apart by the thread's redirection state.
struct Memory {
    AnswersByText<ProbeAnswer> probes[2];
    AnswersByText<bool> searches[2];
    AnswersByText<bool> classKeys;
};

// A plain pointer, freed by the outermost scope: a thread_local with a
// destructor makes every worker thread run library code at its exit under the
// loader lock, which deadlocks with a host that unloads the plug-in (or exits)
// as soon as the report has arrived.
thread_local Memory* t_memory = nullptr;
thread_local int t_scopes = 0;
thread_local int t_redirectionOff = 0;
thread_local FileProbeCounters t_counters;

int RedirectionState() {
    return t_redirectionOff > 0 ? 1 : 0;
}

} // namespace

CScanFileCache::CScanFileCache() {
    if (t_scopes++ == 0)
        t_memory = new Memory();
}

CScanFileCache::~CScanFileCache() {
    if (--t_scopes == 0) {
        delete t_memory;
        t_memory = nullptr;
    }
}

FileProbeCounters& ThisThreadFileProbeCounters() {
    return t_counters;
}

namespace fileref {

bool RecallProbe(const std::string& path, bool& found, DWORD& attributes) {
    if (!t_memory)
        return false;
    const ProbeAnswer* answer = t_memory->probes[RedirectionState()].Find(path);
    if (!answer)
        return false;
    ++t_counters.cacheHits;
    found = answer->found;
    attributes = answer->attributes;
    return true;
}

void KeepProbe(const std::string& path, bool found, DWORD attributes) {
    if (t_memory)
        t_memory->probes[RedirectionState()].Keep(path, ProbeAnswer{found, attributes});
}

bool RecallSearch(const std::string& name, bool& found) {
    if (!t_memory)
        return false;
    const bool* answer = t_memory->searches[RedirectionState()].Find(name);
    if (!answer)
        return false;
    ++t_counters.cacheHits;
    found = *answer;
    return true;
}

void KeepSearch(const std::string& name, bool found) {
    if (t_memory)
        t_memory->searches[RedirectionState()].Keep(name, found);
}

bool RecallClassKey(const std::string& path, bool& exists) {
    if (!t_memory)
        return false;
    const bool* answer = t_memory->classKeys.Find(path);
    if (!answer)
        return false;
    ++t_counters.cacheHits;
    exists = *answer;
    return true;
}

void KeepClassKey(const std::string& path, bool exists) {
    if (t_memory)
        t_memory->classKeys.Keep(path, exists);
}

void NoteRedirectionOff(bool off) {
    t_redirectionOff += off ? 1 : -1;
}

} // namespace fileref
