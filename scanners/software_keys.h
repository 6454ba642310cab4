// The two software walks: every key of the user hives and of the machine's
// SOFTWARE key, looking for string values that name a missing program file,
// library or similar file on a fixed disk.
#pragma once

#include <string>

struct CEngineState;
class RegKey;

// HKEY_USERS, all hives (section 0).
void ScanUserSoftware(CEngineState& engine);
// HKEY_LOCAL_MACHINE\SOFTWARE, leaving the areas with a scanner of their
// own to those scanners (section 1).
void ScanMachineSoftware(CEngineState& engine);

// The walks' rule for one string value, its data as stored: true when it
// names a missing file of a known kind on a fixed disk, `file` being that
// file and `data` marked as the problem record wants it.
bool SoftwareValueIsBroken(const std::string& name, std::string& data, std::string& file);

// One key and, depth first, everything below it, in the walk mode of
// ShouldWalkKey (WalkUserHives or WalkMachineSoftware). Returns 0.
int WalkSoftwareKey(CEngineState& engine, RegKey& key, int mode);
