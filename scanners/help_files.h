// Registered help files that are no longer in the folder their entry names.
#pragma once

#include <string>

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

// The rule for one entry, its data (the folder) as stored: true when the
// file is in neither the folder nor a language folder of it, `file` being
// the file looked for and `data` the joined path, marked as the problem
// record wants it.
bool HelpValueIsBroken(const std::string& helpFile, std::string& data, std::string& file);
