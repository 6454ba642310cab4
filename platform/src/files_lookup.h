// files.cpp, for the module loader: where the simulated machine keeps a file.
#pragma once

#include <string>

namespace win32sim::detail {

// The host path of the machine's existing file `windowsPath` (a relative
// path is taken from the current folder, the system drive's root); empty
// when no file is there (a folder does not count).
std::string HostFileOfMachineFile(const std::string& windowsPath);

} // namespace win32sim::detail
