// The loop every rule runs over a key's subkeys: in index order, passing
// over the keys the user excluded (and so their subtrees) and going on to
// the next, until the scan is stopped.
#pragma once

#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/exclusion_list.h"

enum class PauseTest { None, AfterEach };

template <typename Visit>
void ForEachIncludedSubkey(CEngineState& engine, RegKey& parent, Visit&& visit,
                           PauseTest pause = PauseTest::None) {
    RegKey child;
    for (LONG status = parent.BeginSubkeys(child); status == ERROR_SUCCESS && engine.m_bStop == 0;
         status = parent.NextSubkey(child)) {
        if (!IsExcluded(engine, child.KeyPathText()))
            visit(child);
        if (pause == PauseTest::AfterEach)
            WaitWhilePaused(engine);
    }
}
