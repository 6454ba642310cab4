// Prints, as machine.ini settings, who the engine runs as inside a Wine
// prefix: whether the engine's own administrator test passes there, and
// whether the process is a 32-bit one on 64-bit Windows. The differential
// test copies both into the machine folder it builds from the prefix, so the
// Linux build scans as the same user the Windows build scanned as.
#include "registry/reg_key.h"

#include <windows.h>

#include <cstdio>

int main() {
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64))
        wow64 = FALSE;
    std::printf("administrator = %s\nwow64 = %s\n", IsAdministrator() ? "yes" : "no",
                wow64 ? "yes" : "no");
    return 0;
}
