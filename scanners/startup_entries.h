// Programs the machine starts at logon or boot whose files are gone.
#pragma once

#include <windows.h>

#include <string>

struct CEngineState;
class RegKey;

// The machine's startup keys, below HKEY_LOCAL_MACHINE, in scan order.
inline constexpr const char* kStartupKeys[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
};

// Walks the values of the startup keys (subkeys are not visited; the
// per-user and 32-bit copies are not looked at).
void ScanStartupEntries(CEngineState& engine);

// The string values of one open startup key. 1 when the key is excluded,
// else the status that ended the value enumeration.
LONG ScanStartupKey(CEngineState& engine, RegKey& key);

// The rule for one value, its data as stored: true when the program its
// command line runs is missing, `file` being that program and `data`
// marked as the problem record wants it.
bool StartupValueIsBroken(const std::string& name, std::string& data, std::string& file);
