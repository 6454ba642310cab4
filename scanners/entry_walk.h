// Areas below HKEY_LOCAL_MACHINE in which every direct subkey is one entry
// (installed programs, program registrations, services).
#pragma once

struct CEngineState;
class RegKey;

using EntryScanner = int (*)(CEngineState& engine, RegKey& entry);

// Waits while paused, opens `areaPath` for reading and writing (an area the
// user may not write yields nothing) and hands each entry, in index order, to
// `scanEntry` until a stop is requested.
void ScanEachEntry(CEngineState& engine, const char* areaPath, EntryScanner scanEntry);
