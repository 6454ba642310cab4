// What the machine benchmark (over the stand-in) and the Wine benchmark (over
// Wine's registry) measure alike: a bare walk of every key and value, and a
// scan of chosen sections through the driver, with the engine's own count of
// its file-system questions.
#pragma once

#include "engine/hivemender.h"
#include "fileref/scan_file_cache.h"
#include "registry/reg_key.h"
#include "scan/scan_driver.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace bench {

constexpr int kSections = 11;
inline const char* const kSectionNames[kSections] = {
    "user software", "machine software", "classes",   "fonts",       "startup",   "sounds",
    "uninstall",     "services",         "app paths", "shared DLLs", "help files"};

struct WalkCount {
    unsigned long long keys = 0;
    unsigned long long values = 0;
};

// Every value with its data, then every subkey, depth first: what a scan
// cannot do with less.
inline void BareWalk(RegKey& key, WalkCount& count) {
    ++count.keys;
    DWORD valueCount = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key.Handle(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &valueCount, &longestName, &longestData, nullptr,
                         nullptr) == ERROR_SUCCESS) {
        std::vector<char> name(longestName + 2);
        std::vector<BYTE> data(longestData + 2);
        for (DWORD i = 0; i < valueCount; ++i) {
            DWORD nameLength = static_cast<DWORD>(name.size());
            DWORD dataLength = static_cast<DWORD>(data.size());
            DWORD type = REG_NONE;
            if (RegEnumValueA(key.Handle(), i, name.data(), &nameLength, nullptr, &type,
                              data.data(), &dataLength) == ERROR_SUCCESS)
                ++count.values;
        }
    }
    RegKey child;
    for (LONG status = key.BeginSubkeys(child); status == ERROR_SUCCESS;
         status = key.NextSubkey(child))
        BareWalk(child, count);
}

inline WalkCount WalkFrom(HKEY root, const std::string& path, REGSAM access) {
    WalkCount count;
    RegKey key;
    if (key.OpenPath(root, path, access) == ERROR_SUCCESS)
        BareWalk(key, count);
    return count;
}

// HKEY_USERS and HKEY_LOCAL_MACHINE\SOFTWARE: every key the two software
// walks visit, the classes root included.
inline WalkCount WalkSoftware() {
    WalkCount all = WalkFrom(HKEY_USERS, "", kReadWrite64);
    const WalkCount software = WalkFrom(HKEY_LOCAL_MACHINE, "SOFTWARE", kReadWrite64);
    all.keys += software.keys;
    all.values += software.values;
    return all;
}

// The floor's second part: one question per distinct path a scan asked
// about, nothing remembered between them.
inline unsigned long long AskEachPathOnce(const std::vector<std::string>& paths) {
    unsigned long long found = 0;
    for (const std::string& path : paths)
        found += GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    return found;
}

// The best of `repeat` timings of `work` by `seconds`: the machine is shared
// with other work.
inline double BestOf(int repeat, const std::function<double(const std::function<void()>&)>& seconds,
                     const std::function<void()>& work) {
    double best = seconds(work);
    for (int i = 1; i < repeat; ++i)
        best = std::min(best, seconds(work));
    return best;
}

} // namespace bench
