// Names on the host are UTF-8; names in the simulated machine are ANSI
// (Windows-1252). A machine folder written on Linux holds "Café" as UTF-8 and
// the engine must see it as the one-byte 0xE9 form.
#pragma once

#include <string>

namespace win32sim::detail {

// A host name that is not valid UTF-8 is taken byte for byte.
std::string HostNameToAnsi(const std::string& hostName);
std::string AnsiToHostName(const std::string& ansiName);

} // namespace win32sim::detail
