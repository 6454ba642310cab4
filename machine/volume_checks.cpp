#include "machine/volume_checks.h"

#include "machine/hive_log.h"
#include "machine/hive_reader.h"
#include "machine/machine_load.h"

#include <win32sim/machine.h>
#include <win32sim/text.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace machine {
namespace {

namespace fs = std::filesystem;

using win32sim::CurrentConfig;
using win32sim::EqualAnsiNoCase;
using win32sim::Fail;
using win32sim::HiveFile;
using win32sim::HiveHandle;
using win32sim::HiveMount;
using win32sim::HiveRecovery;
using win32sim::HostNameToAnsi;
using win32sim::RecoverHive;
using win32sim::UpperAnsi;

constexpr char kForceHint[] = "; use --force to write anyway";

// Whether the volume's hiberfil.sys holds an image Windows will resume,
// told by the signature its header starts with; empty when it holds none
// (no file, an empty or zeroed one: Windows 8 and later zero the header
// once resumed).
std::string HibernationState(const std::string& root) {
    static const std::pair<const char*, const char*> kImages[] = {
        {"hibr", "hibernated"},                 // Windows 2000 to 7
        {"HIBR", "hibernated or fast-started"}, // Windows 8 and later: both write it
        {"wake", "hibernated, its resume started and not finished"},
        {"WAKE", "hibernated or fast-started, its resume started and not finished"},
    };
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root, ignored)) {
        if (!EqualAnsiNoCase(HostNameToAnsi(entry.path().filename().string()), "hiberfil.sys"))
            continue;
        char signature[4] = {};
        std::ifstream(entry.path(), std::ios::binary).read(signature, sizeof signature);
        for (const auto& [image, state] : kImages) {
            if (std::memcmp(signature, image, 4) == 0)
                return state;
        }
    }
    return {};
}

// A dirty hive is written as recovered from its logs (hive_log.h); one
// whose logs are missing or could not be applied whole would lose changes.
bool CheckHiveClean(const std::string& path, bool force, std::string* error) {
    HiveRecovery recovery;
    if (!RecoverHive(path, &recovery, error))
        return false;
    if (recovery.Complete() || force)
        return true;
    return Fail(error,
                path + " is dirty: Windows did not shut down cleanly and " +
                    (recovery.logs.empty()
                         ? std::string("no transaction logs beside it hold its newest changes")
                         : "its transaction logs could not be applied in full (log entries "
                           "left out: " +
                               std::to_string(recovery.leftOut) + ")") +
                    kForceHint);
}

// A key path as the mounts name it: HKEY_CLASSES_ROOT merges the machine's
// classes and the current user's (UsrClass.dat, also the user's
// Software\Classes), HKEY_CURRENT_USER is the user's key.
std::vector<std::string> MountedPaths(const std::string& keyPath) {
    const size_t slash = keyPath.find('\\');
    const std::string root = UpperAnsi(keyPath.substr(0, slash));
    const std::string rest = slash == std::string::npos ? "" : keyPath.substr(slash);
    const std::string user = "HKEY_USERS\\" + CurrentConfig().currentUserSid;
    if (root == "HKEY_CLASSES_ROOT" || root == "HKCR")
        return {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes" + rest, user + "_Classes" + rest};
    const std::string userClasses = UpperAnsi(user + "\\Software\\Classes");
    const std::string full = root == "HKEY_CURRENT_USER" || root == "HKCU" ? user + rest : keyPath;
    if (UpperAnsi(full).rfind(userClasses, 0) == 0)
        return {full, user + "_Classes" + full.substr(userClasses.size())};
    return {full};
}

// Whether `outer` is `inner` or one of its parents.
bool IsOrHolds(const std::string& outer, const std::string& inner) {
    const std::string a = UpperAnsi(outer), b = UpperAnsi(inner);
    return b.rfind(a, 0) == 0 && (b.size() == a.size() || b[a.size()] == '\\');
}

// Whether a change of `keyPath` may write `hive`.
bool Writes(const std::string& keyPath, const HiveFile& hive) {
    for (const std::string& path : MountedPaths(keyPath)) {
        for (const HiveMount& mount : hive.mounts) {
            if (IsOrHolds(mount.keyPath, path) || IsOrHolds(path, mount.keyPath))
                return true;
        }
    }
    return false;
}

} // namespace

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string ErrnoText() {
    return std::strerror(errno);
}

bool LockHives(const WindowsVolume& volume, std::vector<FileDescriptor>* locks,
               std::string* error) {
    for (const HiveFile& hive : volume.hives) {
        FileDescriptor fd(::open(hive.hostPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.Get() < 0)
            return Fail(error, hive.hostPath + ": cannot be opened (" + ErrnoText() + ")");
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
            return Fail(error, hive.hostPath + ": the hive is open elsewhere (" + ErrnoText() +
                                   "); close what holds it and try again");
        locks->push_back(std::move(fd));
    }
    return true;
}

bool CheckNotHibernated(const WindowsVolume& volume, bool force, std::string* error) {
    const std::string hibernated = force ? "" : HibernationState(volume.root);
    if (!hibernated.empty())
        return Fail(error, volume.root + ": Windows is " + hibernated +
                               " (hiberfil.sys holds its image); a change now would be lost or "
                               "break it when it resumes" +
                               kForceHint);
    return true;
}

bool CheckHiveSound(const std::string& path, std::string* error) {
    const std::string folder = fs::path(path).parent_path().string();
    if (::access(path.c_str(), W_OK) != 0)
        return Fail(error, path + ": the hive cannot be written (" + ErrnoText() + ")");
    if (::access(folder.c_str(), W_OK) != 0)
        return Fail(error, folder + ": the hive folder cannot be written (" + ErrnoText() +
                               "), so no new hive can be made beside " + path);
    // Without HIVEX_OPEN_UNSAFE hivex refuses a short file and a base block
    // whose checksum does not match.
    if (!HiveHandle(hivex_open(path.c_str(), 0)))
        return Fail(error, path + ": not a sound hive, truncated or with a bad checksum (" +
                               ErrnoText() + ")");
    return true;
}

bool CheckHiveWritable(const std::string& path, bool force, std::string* error) {
    return CheckHiveSound(path, error) && CheckHiveClean(path, force, error);
}

bool CheckVolumeWritable(const WindowsVolume& volume, bool force,
                         const std::vector<std::string>& keyPaths, std::string* error) {
    std::vector<FileDescriptor> locks;
    if (!LockHives(volume, &locks, error) || !CheckNotHibernated(volume, force, error))
        return false;
    for (const HiveFile& hive : volume.hives) {
        const bool written =
            std::any_of(keyPaths.begin(), keyPaths.end(),
                        [&hive](const std::string& key) { return Writes(key, hive); });
        if (written && !CheckHiveWritable(hive.hostPath, force, error))
            return false;
    }
    return true;
}

} // namespace machine
