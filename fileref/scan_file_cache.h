// A per-scan memory of file-system answers.
//
// The software walks ask about the same folders thousands of times: every
// value below a vendor's key names files in the same few folders. Nothing a
// scan does changes files or the registry, so within one scan the same
// question gets the same answer, and remembering it changes no report. The
// memory is per thread (one scan per worker thread), keyed by the exact text
// asked about and by whether this thread has redirection switched off, and
// whole answers are kept (every fallback of the probe included). It is
// dropped when the outermost scope ends, so the next scan sees the disk
// afresh. Whether a key exists below the classes root is remembered the
// same way: thousands of interfaces name the same few proxy classes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CScanFileCache {
public:
    // Starts a memory for this thread, or joins the one already started.
    CScanFileCache();
    // The outermost scope drops the memory.
    ~CScanFileCache();
    CScanFileCache(const CScanFileCache&) = delete;
    CScanFileCache& operator=(const CScanFileCache&) = delete;
};

// Counts of what this thread asked the system for, for measurements.
struct FileProbeCounters {
    uint64_t fileSystemCalls = 0; // GetFileAttributesA and FindFirstFileA
    uint64_t registryOpens = 0;   // App Paths lookups
    uint64_t classKeyOpens = 0;   // class lookups that went to the registry
    uint64_t cacheHits = 0;
};
FileProbeCounters& ThisThreadFileProbeCounters();

namespace fileref {

// Kept answers of the active memory; false when there is none or the
// question was not asked yet.
bool RecallProbe(const std::string& path, bool& found, DWORD& attributes);
void KeepProbe(const std::string& path, bool found, DWORD attributes);
bool RecallSearch(const std::string& name, bool& found);
void KeepSearch(const std::string& name, bool found);
// Keyed by the path below HKEY_CLASSES_ROOT as asked (either view counts).
bool RecallClassKey(const std::string& path, bool& exists);
void KeepClassKey(const std::string& path, bool exists);

// Redirection switched off by this thread's engine code (see ProbeFile).
void NoteRedirectionOff(bool off);

} // namespace fileref
