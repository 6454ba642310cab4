// Machine folders: a simulated Windows machine kept on the host (Linux only).
//
// A machine folder holds:
//   machine.reg   the registry (.reg text; UTF-16LE or 8-bit; REGEDIT4 too)
//   machine.ini   optional settings, see win32sim::MachineConfig and
//                 docs/machine-folder.md
//   drives/<L>/   the files of drive L:
#pragma once

#include <string>

namespace win32sim {

// Loads a machine folder into the stand-in. On failure returns false with a
// message naming the file and line, and the previous machine stays in place.
bool LoadMachine(const std::string& folder, std::string* error);

// Removes the new files of saves that never reached their rename. Only the
// holder of the machine's lock may call it: every other writer is then gone.
void RemoveAbandonedSaves(const std::string& folder);

// Saves the registry as .reg text (atomically: new file, then rename), keeping
// the mode and owner of the file it replaces, in
// the form of the file it replaces (UTF-16LE, 8-bit or REGEDIT4), 8-bit for
// a new one; in UTF-16LE whenever 8-bit text cannot hold every name.
bool SaveRegistry(const std::string& hostPath, std::string* error);

// Writes the current machine as a machine folder: machine.reg and a
// machine.ini holding every setting (drives with their host folders), so
// that LoadMachine of the folder gives the same machine.
bool SaveMachineFolder(const std::string& folder, std::string* error);

} // namespace win32sim
