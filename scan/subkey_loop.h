// The loops every rule runs: over a key's subkeys or its string values, in
// index order, until the scan is stopped; and the opening test of a rule
// that is handed one key.
#pragma once

#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/exclusion_list.h"

#include <span>
#include <string>

enum class PauseTest { None, AfterEach };

inline bool IsKeyExcluded(CEngineState& engine, const RegKey& key) {
    return IsExcluded(engine, key.KeyPathText());
}

// Waits while paused, then tells whether the user excluded `key` (and so
// everything below it): the first step of every rule handed one key.
inline bool WaitThenIsExcluded(CEngineState& engine, const RegKey& key) {
    WaitWhilePaused(engine);
    return IsKeyExcluded(engine, key);
}

// Each subkey, passing over the keys the user excluded (and so their
// subtrees) and going on to the next.
template <typename Visit>
void ForEachIncludedSubkey(CEngineState& engine, RegKey& parent, Visit&& visit,
                           PauseTest pause = PauseTest::None) {
    RegKey child;
    for (LONG status = parent.BeginSubkeys(child); status == ERROR_SUCCESS && engine.m_bStop == 0;
         status = parent.NextSubkey(child)) {
        if (!IsKeyExcluded(engine, child))
            visit(child);
        if (pause == PauseTest::AfterEach)
            WaitWhilePaused(engine);
    }
}

// Each REG_SZ or REG_EXPAND_SZ value as stored (`visit(name, data)`; the
// visitor may change `data`), waiting while paused after each. Returns the
// status that ended the enumeration.
template <typename Visit>
LONG ForEachStringValue(CEngineState& engine, RegKey& key, Visit&& visit) {
    std::string name;
    std::string data;
    LONG status = key.BeginValues(name, data);
    for (; status == ERROR_SUCCESS && engine.m_bStop == 0; status = key.NextStringValue(name, data)) {
        visit(static_cast<const std::string&>(name), data);
        WaitWhilePaused(engine);
    }
    return status;
}

// Each of `paths` below HKEY_LOCAL_MACHINE that opens for reading and
// writing (a key the user may not write yields nothing), in turn. One key
// object serves them all; the last handle closes with it.
template <typename Scan>
void ForEachMachineKey(std::span<const char* const> paths, Scan&& scan) {
    RegKey key;
    for (const char* path : paths) {
        if (key.OpenPath(HKEY_LOCAL_MACHINE, path, kReadWrite64) == ERROR_SUCCESS)
            scan(key);
    }
}
