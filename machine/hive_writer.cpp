// Writing the stand-in's registry back into a Windows volume's hives.
#include "machine/windows_volume.h"

namespace win32sim {

bool CheckVolumeWritable(const WindowsVolume&, bool, std::string* error) {
    if (error)
        *error = "writing hives is not built yet";
    return false;
}

bool SaveWindowsVolume(const WindowsVolume&, bool, std::string* error) {
    if (error)
        *error = "writing hives is not built yet";
    return false;
}

} // namespace win32sim
