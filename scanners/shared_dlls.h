// Usage counters of shared files whose file no longer exists.
#pragma once

#include <string>

struct CEngineState;

// The counters' key, below HKEY_LOCAL_MACHINE: value name = the file's full
// path, data = how many programs use it.
inline constexpr const char* kSharedDllKeys[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls"};

// Every counter, whatever its type; the name is probed as it stands (no
// expansion, no command-line parsing) and the counter is never read. The key
// is not tested against the exclusion list.
void ScanSharedDlls(CEngineState& engine);

// The rule for one counter, named by its file.
bool SharedFileIsMissing(const std::string& file);
