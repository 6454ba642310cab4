// Entries of the installed-programs list whose uninstaller is gone, or that
// carry no way to uninstall at all.
#pragma once

struct CEngineState;
class RegKey;

// The installed-programs list, below HKEY_LOCAL_MACHINE: one subkey per
// entry. (The 32-bit copy and the per-user lists are not looked at.)
inline constexpr const char* kUninstallKeys[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"};

// Every entry of the list.
void ScanUninstallEntries(CEngineState& engine);

// One open entry; a broken entry is recorded as a whole key. 1 when the
// entry is excluded, else 0.
int ScanUninstallEntry(CEngineState& engine, RegKey& entry);
