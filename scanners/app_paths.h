// Registrations that let Windows start a program by its bare name, where the
// program is gone or the extra search folders are.
#pragma once

#include <string>

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

// The rule for the value "Path", as read (expanded): true when a folder of
// the list is missing, `file` being that folder and `folders` marked as the
// problem record wants it.
bool AppPathFoldersAreBroken(const std::string& name, std::string& folders, std::string& file);
