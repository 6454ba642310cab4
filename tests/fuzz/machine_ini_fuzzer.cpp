// machine.ini: any bytes are either applied or refused with a message that
// names the file and line; nothing crashes or reads outside the text.
#include "machine/machine_ini.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    win32sim::MachineConfig config;
    config.drives.push_back(win32sim::DriveSpec{'C', DRIVE_FIXED, "/tmp/hivemender-fuzz-c"});
    std::string error;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (!win32sim::ApplyMachineIni(text, "machine.ini", "/tmp/hivemender-fuzz", &config, &error) &&
        error.rfind("machine.ini:", 0) != 0) {
        std::fprintf(stderr, "refused without naming the file: %s\n", error.c_str());
        std::abort();
    }
    return 0;
}
