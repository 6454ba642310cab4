// The classes root (HKEY_CLASSES_ROOT): type libraries, COM classes,
// interfaces, file extensions with the ProgIDs they name, and the shell
// registrations of "*" and "Folder". Classes are shared by every user of the
// machine, so only an administrator's scan runs this; every key is opened
// for reading only, and a finding is kept only where the key can be written.
#pragma once

#include <span>
#include <string>

struct CEngineState;
class RegKey;

// Section 2, called by the driver.
void ScanClassesRoot(CEngineState& engine);

// The walk over the open root, in a fixed order: TypeLib, CLSID, Interface,
// the extensions (root subkeys beginning with "."), "*", "Folder". Every
// loop ends at a stop. 1 when the root itself is excluded, else 0.
int WalkClassesRoot(CEngineState& engine, RegKey& root);

// One extension key: its own shell registrations, then those of the ProgID
// it names (once per scan, however many extensions name it) and that
// ProgID's CLSID. An extension key holding nothing at all is reported.
// Returns 1.
int ScanFileExtension(CEngineState& engine, const RegKey& extensionKey);

// One CLSID\{...} entry: its AppID, TypeLib, servers and ProgID references
// and its shell registrations. 0 when the entry was reported as a whole,
// else 1 (examined, or left alone).
int ScanClsidEntry(CEngineState& engine, RegKey& entryKey);

// The rule for a CLSID entry's "AppID" value (as read, expanded).
bool IsRegisteredAppId(const std::string& appId);

// The COM server subkeys of a CLSID entry, in the order they are checked.
std::span<const char* const> ServerSubkeyNames();
