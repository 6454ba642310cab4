#include "files_hostnames.h"

#include "codepage.h"

namespace win32sim::detail {

std::string HostNameToAnsi(const std::string& hostName) {
    std::u16string wide;
    return DecodeUtf8(hostName, &wide) ? Utf16ToAnsi(wide) : hostName;
}

std::string AnsiToHostName(const std::string& ansiName) {
    return EncodeUtf8(AnsiToUtf16(ansiName));
}

} // namespace win32sim::detail
