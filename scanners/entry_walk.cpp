#include "scanners/entry_walk.h"

#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/subkey_loop.h"

void ScanEachEntry(CEngineState& engine, const char* areaPath, EntryScanner scanEntry) {
    WaitWhilePaused(engine);
    ForEachMachineKey({&areaPath, 1}, [&](RegKey& area) {
        ForEachIncludedSubkey(engine, area, [&](RegKey& entry) { (void)scanEntry(engine, entry); });
    });
}
