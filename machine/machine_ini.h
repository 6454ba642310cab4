// machine.ini: the settings of a machine folder (docs/machine-folder.md).
#pragma once

#include <win32sim/machine.h>

#include <string>

namespace win32sim {

// Applies the settings in `text` (the bytes of `sourceName`) to `config`,
// whose drives already hold one fixed drive per drives/<L> folder. Relative
// host folders are taken from `machineFolder`. On failure returns false with
// "<sourceName>:<line>: <what is wrong>".
bool ApplyMachineIni(const std::string& text, const std::string& sourceName,
                     const std::string& machineFolder, MachineConfig* config, std::string* error);

// The machine.ini text that ApplyMachineIni reads back into `config`: every
// setting, and every drive with its host folder.
std::string MachineIniText(const MachineConfig& config);

} // namespace win32sim
