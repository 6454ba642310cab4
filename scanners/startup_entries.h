// Programs the machine starts at logon or boot whose files are gone.
#pragma once

#include <windows.h>

class CHivemender;
class RegKey;

// Walks the values of the machine's Run, RunOnce, RunOnceEx, RunServices and
// RunServicesOnce keys (subkeys are not visited; the per-user and 32-bit
// copies are not looked at).
void ScanStartupEntries(CHivemender& engine);

// The string values of one open startup key. 1 when the key is excluded,
// else the status that ended the value enumeration.
LONG ScanStartupKey(CHivemender& engine, RegKey& key);
