#include "scanners/entry_walk.h"

#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/subkey_loop.h"

void ScanEachEntry(CEngineState& engine, const char* areaPath, EntryScanner scanEntry) {
    WaitWhilePaused(engine);
    RegKey area;
    if (area.OpenPath(HKEY_LOCAL_MACHINE, areaPath, kReadWrite64) != ERROR_SUCCESS)
        return;
    ForEachIncludedSubkey(engine, area, [&](RegKey& entry) { (void)scanEntry(engine, entry); });
}
