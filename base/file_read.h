// Reading a whole file into memory, on either side of the stand-in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace base {

// The file's bytes, read through the Win32 file functions: on Linux a path
// of the simulated machine. False, with `bytes` empty, when there is no
// file of that name to read: none, an unreadable one, or a folder.
bool ReadWholeFile(const std::string& path, std::string* bytes);

// The same for a file of the computer we run on (a machine folder's files,
// hives, the host's undo files), through the C++ library. False, with
// `bytes` empty, for a folder or a file that cannot be read.
bool ReadHostFile(const std::string& path, std::string* bytes);
bool ReadHostFile(const std::string& path, std::vector<uint8_t>* bytes);

} // namespace base
