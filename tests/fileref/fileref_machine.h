// Machines for the file-reference tests.
#pragma once

#include "fileref/file_probe.h"
#include "support/conformance.h"
#include "support/machine_builder.h"

#include <string>

namespace hmtest {

// Files every Windows has: staged on the stand-in only, since under Wine
// they exist already and staging would overwrite the prefix's own.
inline void SystemFile(MachineBuilder& machine, const std::string& path) {
    if (RunningOnStandIn())
        machine.File(path);
}

} // namespace hmtest

// Builds the machine and makes the process-wide search tables read it afresh
// (each test's machine has its own drives and Path); the test ends here when
// the build failed, or skipped it under Wine.
#define BUILD_OR_RETURN(machine)                                                                   \
    do {                                                                                           \
        (machine).Build();                                                                         \
        ForgetFileSearchTables();                                                                  \
        if (::testing::Test::HasFatalFailure() || ::testing::Test::IsSkipped())                    \
            return;                                                                                \
    } while (0)
