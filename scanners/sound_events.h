// Sounds that user profiles assign to events, where the sound file exists
// neither where it is named nor in the system's media folder.
#pragma once

#include <windows.h>

#include <string>

struct CEngineState;
class RegKey;

// Every user hive's AppEvents\Schemes\Apps: <application>\<event>\<scheme>,
// the scheme key's default value naming the sound.
void ScanSoundEvents(CEngineState& engine);

// One hive's open "Apps" key. 1 when it is excluded (the only exclusion test
// of the walk), else 0.
int ScanSoundApps(CEngineState& engine, RegKey& apps);

// One scheme key's sound. The status of reading its default value (13 when
// it is absent or not a string, and nothing is recorded then).
LONG CheckSoundScheme(CEngineState& engine, const RegKey& scheme);

// The rule for a scheme's sound (expanded, not empty): present as given or
// in the media folder, or out of reach and so not to be judged.
bool SoundFound(const std::string& mediaFolder, const std::string& sound);

// The system's media folder: the machine's MediaPathUnexpanded or MediaPath
// setting, else the Windows folder's "Media". GetMediaDirectory reads it on
// first use and the engine keeps it while it is not empty.
std::string ReadMediaDirectory();
const std::string& GetMediaDirectory(CEngineState& engine);
