#include "fileref/scan_file_cache.h"

#include <unordered_map>

namespace {

struct ProbeAnswer {
    bool found;
    DWORD attributes;
};

// The same text asked with redirection on and off may answer differently,
// so probes and searches are kept apart by the thread's redirection state.
struct Memory {
    std::unordered_map<std::string, ProbeAnswer> probes[2];
    std::unordered_map<std::string, bool> searches[2];
    std::unordered_map<std::string, bool> classKeys;
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
    const auto& probes = t_memory->probes[RedirectionState()];
    auto it = probes.find(path);
    if (it == probes.end())
        return false;
    ++t_counters.cacheHits;
    found = it->second.found;
    attributes = it->second.attributes;
    return true;
}

void KeepProbe(const std::string& path, bool found, DWORD attributes) {
    if (t_memory)
        t_memory->probes[RedirectionState()].insert_or_assign(path, ProbeAnswer{found, attributes});
}

bool RecallSearch(const std::string& name, bool& found) {
    if (!t_memory)
        return false;
    const auto& searches = t_memory->searches[RedirectionState()];
    auto it = searches.find(name);
    if (it == searches.end())
        return false;
    ++t_counters.cacheHits;
    found = it->second;
    return true;
}

void KeepSearch(const std::string& name, bool found) {
    if (t_memory)
        t_memory->searches[RedirectionState()].insert_or_assign(name, found);
}

bool RecallClassKey(const std::string& path, bool& exists) {
    if (!t_memory)
        return false;
    auto it = t_memory->classKeys.find(path);
    if (it == t_memory->classKeys.end())
        return false;
    ++t_counters.cacheHits;
    exists = it->second;
    return true;
}

void KeepClassKey(const std::string& path, bool exists) {
    if (t_memory)
        t_memory->classKeys.insert_or_assign(path, exists);
}

void NoteRedirectionOff(bool off) {
    t_redirectionOff += off ? 1 : -1;
}

} // namespace fileref
