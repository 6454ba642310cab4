#include "files_hostnames.h"

#include "codepage.h"

#include <algorithm>

namespace win32sim::detail {

namespace {

// ASCII is the same in both forms, and most names are nothing else.
bool IsAscii(const std::string& name) {
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

std::string HostNameToAnsi(const std::string& hostName) {
    if (IsAscii(hostName))
        return hostName;
    std::u16string wide;
    return DecodeUtf8(hostName, &wide) ? Utf16ToAnsi(wide) : hostName;
}

std::string AnsiToHostName(const std::string& ansiName) {
    if (IsAscii(ansiName))
        return ansiName;
    return EncodeUtf8(AnsiToUtf16(ansiName));
}

} // namespace win32sim::detail
