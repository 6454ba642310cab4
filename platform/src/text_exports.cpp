// The public face of the text rules (win32sim/text.h).
#include "codepage.h"
#include "files_hostnames.h"
#include "registry_tree.h"

#include <win32sim/text.h>

namespace win32sim {

std::string HostNameToAnsi(const std::string& hostName) {
    return detail::HostNameToAnsi(hostName);
}

std::string AnsiToHostName(const std::string& ansiName) {
    return detail::AnsiToHostName(ansiName);
}

bool EqualAnsiNoCase(std::string_view a, std::string_view b) {
    return detail::EqualAnsiNoCase(a, b);
}

std::string UpperAnsi(std::string_view text) {
    return detail::UpperAnsi(text);
}

std::u16string FoldRegistryName(std::u16string_view name) {
    return detail::FoldedName(detail::RegName::FromUtf16(name));
}

} // namespace win32sim
