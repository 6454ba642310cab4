// Registered help files that are no longer in the folder their entry names.
#pragma once

struct CEngineState;
class RegKey;

// The two lists of help files, below HKEY_LOCAL_MACHINE: value name = the
// help file, data = its folder (raw). Classic help is scanned first.
inline constexpr const char* kClassicHelpKey = "SOFTWARE\\Microsoft\\Windows\\Help";
inline constexpr const char* kHtmlHelpKey = "SOFTWARE\\Microsoft\\Windows\\HTML Help";
inline constexpr const char* kHelpFileKeys[] = {kHtmlHelpKey, kClassicHelpKey};

// Both lists, one after the other (a stop ends a list's values, not the
// opening of the next list).
void ScanHelpFiles(CEngineState& engine);

// The string values of one open list. 1 when the list is excluded, else 0.
int ScanHelpKey(CEngineState& engine, RegKey& key);
