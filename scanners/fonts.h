// Font registrations whose file is gone, or that repeat a file another name
// already registers.
#pragma once

#include <windows.h>

#include <string>

struct CEngineState;
class RegKey;

// The machine's font list, below HKEY_LOCAL_MACHINE: display name -> file (a
// name in the Fonts folder, or a full path).
inline constexpr const char* kFontKeys[] = {
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"};

// Walks the font list with a fresh memory of the files met (m_fontSeen).
void ScanFonts(CEngineState& engine);

// The string values of the open font list. 0 when the key is excluded, 3 when
// the Fonts folder cannot be known (nothing is examined then), else the
// status that ended the value enumeration.
LONG ScanFontKey(CEngineState& engine, RegKey& key);

// Where bare file names lie: the system's Fonts folder. False when it cannot
// be known.
bool GetFontsFolder(std::string& folder);
// The rule for a registration's file (data as stored): a name in the Fonts
// folder or a full path, or out of reach and so not to be judged.
bool FontFilePresent(const std::string& fontsFolder, const std::string& fontFile);
// The registration `valueName` of the open font list: its file and, when
// the scan meets that file first under another name (a repeat), that name.
// False when the list holds no such registration.
bool FindFontRegistration(RegKey& key, const std::string& valueName, std::string& fontFile,
                          std::string& firstName);

// Remembers `fontFile` and returns true; when the very same text (letter case
// included) was met before, records the registration `valueName` as a
// repeat instead and returns false.
bool NoteFontFile(CEngineState& engine, const RegKey& key, const std::string& valueName,
                  const std::string& fontFile);
