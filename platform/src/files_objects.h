// The kernel objects behind file and find handles. CloseHandle (threads.cpp)
// and FindClose drop them from the handle table; the destructor releases
// what the host gave us.
#pragma once

#include "handles.h"

#include <mutex>
#include <vector>

namespace win32sim::detail {

class OpenFile : public KernelObject {
public:
    OpenFile(int fd, bool canRead, bool canWrite)
        : m_fd(fd), m_canRead(canRead), m_canWrite(canWrite) {}
    ~OpenFile() override;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int Fd() const { return m_fd; }
    bool CanRead() const { return m_canRead; }
    bool CanWrite() const { return m_canWrite; }

private:
    int m_fd;
    bool m_canRead;
    bool m_canWrite;
};

// A listing taken whole by FindFirstFileA; FindNextFileA hands out the rest.
class FindSearch : public KernelObject {
public:
    explicit FindSearch(std::vector<WIN32_FIND_DATAA> matches) : m_matches(std::move(matches)) {}
    // False at the end of the listing.
    bool Next(WIN32_FIND_DATAA* data);

private:
    std::mutex m_mutex;
    std::vector<WIN32_FIND_DATAA> m_matches;
    size_t m_next = 0;
};

} // namespace win32sim::detail
