#include "base/file_read.h"

#include "base/owned_handle.h"

#include <windows.h>

#include <fstream>

namespace base {
namespace {

// No std::filesystem here: on Windows it cannot take every narrow path the
// C runtime's streams open in the ANSI code page.
template <class Buffer> bool ReadHostBytes(const std::string& path, Buffer* bytes) {
    bytes->clear();
    std::ifstream in(path, std::ios::binary);
    // A folder opens as a stream too on Linux, but its first read fails.
    if (!in || (in.peek(), in.bad()))
        return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0);
    if (size < 0)
        return false;
    // Straight into one buffer of the file's size: a machine.reg of a real
    // machine is a few hundred megabytes, and every extra copy is held at once.
    bytes->resize(static_cast<size_t>(size));
    if (in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(size)))
        return true;
    bytes->clear();
    return false;
}

} // namespace

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    bytes->clear();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    Orvel::THandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes->append(chunk, read);
    return true;
}

bool ReadHostFile(const std::string& path, std::string* bytes) {
    return ReadHostBytes(path, bytes);
}

bool ReadHostFile(const std::string& path, std::vector<uint8_t>* bytes) {
    return ReadHostBytes(path, bytes);
}

} // namespace base
