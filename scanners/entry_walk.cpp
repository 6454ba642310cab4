#include "scanners/entry_walk.h"

#include "registry/reg_key.h"
#include "scan/engine_state.h"

void ScanEachEntry(CEngineState& engine, const char* areaPath, EntryScanner scanEntry) {
    WaitWhilePaused(engine);
    RegKey area;
    if (area.OpenPath(HKEY_LOCAL_MACHINE, areaPath, kReadWrite64) != ERROR_SUCCESS)
        return;
    RegKey entry;
    for (LONG status = area.BeginSubkeys(entry); status == ERROR_SUCCESS && engine.m_bStop == 0;
         status = area.NextSubkey(entry))
        (void)scanEntry(engine, entry);
}
