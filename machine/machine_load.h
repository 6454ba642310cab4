// The steps every way of loading a machine shares (machine folders and
// Windows volumes): settings from machine.ini, and the swap of the whole
// machine that puts the previous one back when the new registry does not
// apply.
#pragma once

#include "regfile/regfile.h"

#include <win32sim/machine.h>

#include <string>
#include <utility>

namespace win32sim {

// Sets `error`, when there is one, and returns false: how every step of a
// load reports what stopped it.
inline bool Fail(std::string* error, std::string message) {
    if (error)
        *error = std::move(message);
    return false;
}

// Applies `folder`/machine.ini, when there is one, over `config` (whose
// drives are already set), then checks that a drive holds the Windows folder.
bool ApplyMachineIniFile(const std::string& folder, MachineConfig* config, std::string* error);

// Resets the machine to `config` and applies `registry`, releasing it as it
// goes (a whole machine's script is as large as its registry). When it
// does not apply, the previous machine is put back and `error` reads
// "<sourceName>: <what failed>".
bool ReplaceMachine(const MachineConfig& config, regfile::Script& registry,
                    const std::string& sourceName, std::string* error);

} // namespace win32sim
