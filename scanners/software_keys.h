// The two software walks: every key of the user hives and of the machine's
// SOFTWARE key, looking for string values that name a missing program file,
// library or similar file on a fixed disk.
#pragma once

class CHivemender;
class RegKey;

// HKEY_USERS, all hives (section 0).
void ScanUserSoftware(CHivemender& engine);
// HKEY_LOCAL_MACHINE\SOFTWARE, leaving the areas with a scanner of their
// own to those scanners (section 1).
void ScanMachineSoftware(CHivemender& engine);

// One key and, depth first, everything below it, in the walk mode of
// ShouldWalkKey (WalkUserHives or WalkMachineSoftware). Returns 0.
int WalkSoftwareKey(CHivemender& engine, RegKey& key, int mode);
