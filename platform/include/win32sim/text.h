// The stand-in's text rules, for the code beside it that reads machine
// files (Linux builds only).
#pragma once

#include <string>
#include <string_view>

namespace win32sim {

// Host names are UTF-8; names in the simulated machine are ANSI
// (Windows-1252). A host name that is not valid UTF-8 is taken byte for byte.
std::string HostNameToAnsi(const std::string& hostName);
std::string AnsiToHostName(const std::string& ansiName);

// Comparison and upper case within Windows-1252, as the registry does them.
bool EqualAnsiNoCase(std::string_view a, std::string_view b);
std::string UpperAnsi(std::string_view text);

// A registry name (UTF-16) folded as the registry compares names: two
// names are one to the registry exactly when their folded forms are equal.
std::u16string FoldRegistryName(std::u16string_view name);

} // namespace win32sim
