// Writing the stand-in's registry back into the hives of a Windows volume
// (Linux only), and finishing a save that stopped halfway. The checks
// before a save are in volume_checks.h.
#pragma once

#include "machine/windows_volume.h"

#include <string>

namespace machine {

using win32sim::WindowsVolume;

// Writes the stand-in's registry back into every hive whose keys differ:
// each hive to a new file beside it, renamed over the old one only when
// every new file is complete; while more than one rename runs, a journal in
// the folder of the SOFTWARE hive names them. Hive content the stand-in does
// not hold (security descriptors, class names, nodes of other mounts) is
// kept as it was, and so are each hive's mode and owner. The caller holds
// the volume's lock.
bool SaveWindowsVolume(const WindowsVolume& volume, bool force, std::string* error);

// Completes the renames of a save that stopped between them, as its journal
// in `configFolder` names them, before the volume is read; true when there
// was none. Only the holder of the volume's lock may call it.
bool FinishInterruptedSave(const std::string& configFolder, std::string* error);

// Whether a save in `configFolder` stopped between its renames (or is
// running them now, in another process).
bool HasInterruptedSave(const std::string& configFolder);

} // namespace machine
