// Registrations that let Windows start a program by its bare name, where the
// program is gone or the extra search folders are.
#pragma once

struct CEngineState;
class RegKey;

// The registrations, below HKEY_LOCAL_MACHINE: one subkey per program name.
inline constexpr const char* kAppPathKeys[] = {
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths"};

// Every registration.
void ScanAppPaths(CEngineState& engine);

// One open registration: its default value (the program) and "Path" (extra
// folders, a ";" list). 1 when it is excluded, else 0.
int ScanAppPathEntry(CEngineState& engine, RegKey& entry);
