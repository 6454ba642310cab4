// A fresh simulated machine for the fuzz targets that need the Win32 layer:
// one scratch folder per process, the stand-in's defaults otherwise.
#pragma once

#include <win32sim/machine.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace hmfuzz {

inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        char pattern[] = "/tmp/hivemender-fuzz.XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return folder;
}

// Drops whatever the previous input left in the registry and on drive C.
inline void ResetFuzzMachine() {
    win32sim::ResetMachine(win32sim::MachineConfig{}, ScratchFolder());
}

} // namespace hmfuzz
