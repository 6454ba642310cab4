// How the machine loader (machine.cpp) resets and configures each area of
// the stand-in. Each area keeps its own state in its own source file.
#pragma once

#include <win32sim/machine.h>

namespace win32sim::detail {

// registry.cpp: an empty registry holding the standard keys (HKLM\SOFTWARE,
// HKLM\SOFTWARE\Classes, HKLM\SYSTEM, HKU\.DEFAULT, HKU\<currentUserSid>) with
// HKEY_CLASSES_ROOT and HKEY_CURRENT_USER as views onto theirs; no denials.
void ResetRegistry(const MachineConfig& config);
void AddKeyDenial(const DeniedKey& denied);
// Nesting: while the count is above zero the denial checks are off.
void EnterRegistryPrivilege();
void LeaveRegistryPrivilege();

// files.cpp: the drive table (every drive's hostFolder is set and exists by
// now) and the per-thread WOW64 redirection state.
void ResetFiles(const MachineConfig& config);

// environment.cpp: the process environment, replaced whole.
void ResetEnvironment(const std::vector<std::pair<std::string, std::string>>& variables);

} // namespace win32sim::detail
