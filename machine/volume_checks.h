// The checks before the stand-in's registry is written back into the hive
// files of a Windows volume (hive_writer.h): that no one else holds the
// hives, that Windows will not resume over the change, and that each hive
// written can be written and is clean.
#pragma once

#include "machine/windows_volume.h"

#include <string>
#include <utility>
#include <vector>

namespace machine {

using win32sim::WindowsVolume;

// A file descriptor with one owner, closed when it goes.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~FileDescriptor();
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// strerror(errno): why the last system call failed.
std::string ErrnoText();

// An advisory lock on every hive, held while `locks` live: another
// hivemender, or any program that takes flock locks on the hive, is held
// off. It cannot see a Windows running from the same disk elsewhere:
// hiberfil.sys and the hives' sequence numbers are the signs of that.
bool LockHives(const WindowsVolume& volume, std::vector<FileDescriptor>* locks, std::string* error);

// False with the reason when Windows on the volume is hibernated or
// fast-started, unless `force`: a change now would be lost or break it.
bool CheckNotHibernated(const WindowsVolume& volume, bool force, std::string* error);

// What --force cannot override: a hive that cannot be written or is damaged.
bool CheckHiveSound(const std::string& path, std::string* error);

// CheckHiveSound, and that a dirty hive's logs apply whole (unless `force`).
bool CheckHiveWritable(const std::string& path, bool force, std::string* error);

// Whether a change of the keys at `keyPaths` (full key paths, any root) may
// be written into the volume's hives: false with the reason when Windows is
// hibernated or fast-started, or a hive the change writes is dirty without
// logs that apply whole, unless `force`; or when such a hive or its folder
// cannot be written. Checked before a fix or an undo starts.
bool CheckVolumeWritable(const WindowsVolume& volume, bool force,
                         const std::vector<std::string>& keyPaths, std::string* error);

} // namespace machine
