#include "fileref/scan_file_cache.h"

#include <unordered_map>

namespace {

struct ProbeAnswer {
    bool found;
    DWORD attributes;
};

struct Memory {
    std::unordered_map<std::string, ProbeAnswer> probes;
    std::unordered_map<std::string, bool> searches;
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

// The same text asked with redirection on and off may answer differently.
std::string KeyFor(const std::string& text) {
    return (t_redirectionOff > 0 ? '1' : '0') + text;
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
    auto it = t_memory->probes.find(KeyFor(path));
    if (it == t_memory->probes.end())
        return false;
    ++t_counters.cacheHits;
    found = it->second.found;
    attributes = it->second.attributes;
    return true;
}

void KeepProbe(const std::string& path, bool found, DWORD attributes) {
    if (t_memory)
        t_memory->probes.insert_or_assign(KeyFor(path), ProbeAnswer{found, attributes});
}

bool RecallSearch(const std::string& name, bool& found) {
    if (!t_memory)
        return false;
    auto it = t_memory->searches.find(KeyFor(name));
    if (it == t_memory->searches.end())
        return false;
    ++t_counters.cacheHits;
    found = it->second;
    return true;
}

void KeepSearch(const std::string& name, bool found) {
    if (t_memory)
        t_memory->searches.insert_or_assign(KeyFor(name), found);
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
