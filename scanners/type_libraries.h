// Registered type libraries and interfaces of the classes root: libraries
// whose files are gone or that have no usable version, and interfaces whose
// references point at nothing. The classes walk calls these for each subkey
// of "TypeLib" and "Interface", testing the stop flag and waiting while
// paused between them.
#pragma once

#include <span>

struct CEngineState;
class RegKey;

// TypeLib\<library id>: its versions, each holding locales (with a file per
// platform), "FLAGS" and "HELPDIR". A library is good when one of its
// versions is, a version when one of its locales names any platform.
void ScanTypeLibEntry(CEngineState& engine, RegKey& libraryKey);
// One locale key of a version: true when at least one platform subkey
// ("Win16", "Win32", "Win64") exists and is not excluded, each of which is
// itself reported when its file is missing.
bool CheckTypeLibLocale(CEngineState& engine, const RegKey& localeKey);
// Interface\<IID>: an interface without subkeys is reported whole (0);
// otherwise each reference subkey must name a registered key (1).
int ScanInterfaceEntry(CEngineState& engine, const RegKey& interfaceKey);

// An interface's reference subkey and the classes-root area its default
// value must be registered in.
struct InterfaceReference {
    const char* subkey;
    const char* area;
};
std::span<const InterfaceReference> InterfaceReferences();
