// Linux: the plug-in is a shared object over the Win32 stand-in, and the
// machine is a simulated one loaded from a folder.
#include "host/platform.h"

#include "machine/machine_folder.h"
#include "machine/hive_writer.h"
#include "machine/volume_checks.h"
#include "machine/windows_volume.h"
#include <win32sim/machine.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;

namespace host {
namespace {

class PosixPlugin final : public PluginLibrary {
public:
    PosixPlugin(void* handle, GetPluginEngineFn entry) : m_handle(handle), m_entry(entry) {}
    ~PosixPlugin() override { dlclose(m_handle); }
    GetPluginEngineFn Entry() const override { return m_entry; }

private:
    void* m_handle;
    GetPluginEngineFn m_entry;
};

std::string g_machineFolder; // where SaveMachine writes machine.reg
bool g_machineIsScratch = false;
// Set when the machine is an offline installation: SaveMachine writes its hives.
std::optional<win32sim::WindowsVolume> g_volume;
bool g_forceVolume = false;
// The machine folder or volume root whose lock this process holds (Normal).
std::string g_lockedFolder;

std::string Normal(const std::string& folder) {
    const fs::path path = fs::absolute(folder).lexically_normal();
    return (path.has_filename() ? path : path.parent_path()).string();
}

constexpr char kLockName[] = "hivemender.lock";

// The lock file lives in the machine folder, or beside the hives of a
// volume; its holder writes what it is doing into it and removes it when
// done. A process that locked the file just as it was removed finds another
// file (or none) at the path and takes that one instead.
class FileLock final : public MachineLock {
public:
    FileLock(std::string path, int fd, std::string folder) : m_path(std::move(path)), m_fd(fd) {
        g_lockedFolder = Normal(folder);
    }
    ~FileLock() override {
        g_lockedFolder.clear();
        std::remove(m_path.c_str());
        ::close(m_fd);
    }

private:
    std::string m_path;
    int m_fd;
};

std::string LockPathFor(const std::string& folder) {
    const std::string config = win32sim::VolumeConfigFolder(folder);
    return ((config.empty() ? fs::path(folder) : fs::path(config)) / kLockName).string();
}

std::string HolderOf(int fd) {
    char text[200] = {};
    const ssize_t got = ::pread(fd, text, sizeof(text) - 1, 0);
    std::string holder(text, got > 0 ? static_cast<size_t>(got) : 0);
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\r'))
        holder.pop_back();
    return holder;
}

bool SameFile(int fd, const std::string& path) {
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

std::unique_ptr<MachineLock> LockFolder(const std::string& folder, const std::string& command,
                                        bool wait, std::string* error) {
    const std::string path = LockPathFor(folder);
    for (;;) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            *error = "cannot lock the machine: " + path + ": " + std::strerror(errno);
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
            const int lockErrno = errno;
            const std::string holder = HolderOf(fd);
            ::close(fd);
            *error = lockErrno != EWOULDBLOCK
                         ? "cannot lock the machine: " + path + ": " + std::strerror(lockErrno)
                         : "the machine " + folder + " is busy: " +
                               (holder.empty() ? "another hivemender is changing it"
                                               : "another hivemender is running " + holder) +
                               "; try again when it ends, or use --wait";
            return nullptr;
        }
        if (SameFile(fd, path)) {
            const std::string holder = command + " (pid " + std::to_string(::getpid()) + ")\n";
            if (::ftruncate(fd, 0) != 0 ||
                ::pwrite(fd, holder.data(), holder.size(), 0) != ssize_t(holder.size())) {
                // The lock holds all the same; only the description is missing.
            }
            return std::make_unique<FileLock>(path, fd, folder);
        }
        ::close(fd);
    }
}

// The folder a command names: --machine, else HIVEMENDER_MACHINE; empty for
// the demo machine, which is copied.
fs::path NamedFolder(const MachineOptions& options) {
    const char* fromEnvironment = std::getenv("HIVEMENDER_MACHINE");
    if (options.folder.empty() && fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    return options.folder;
}

// A save of several hives that stopped between its renames is completed
// before anything reads the volume; a scan, which holds no lock, takes it
// for that only, waiting for a save still running.
bool FinishVolumeSave(const std::string& root, std::string* error) {
    const std::string config = win32sim::VolumeConfigFolder(root);
    if (g_lockedFolder == Normal(root))
        return machine::FinishInterruptedSave(config, error);
    if (!machine::HasInterruptedSave(config))
        return true;
    const auto lock = LockFolder(root, "a repair of an interrupted save", true, error);
    return lock && machine::FinishInterruptedSave(config, error);
}

fs::path ExecutableFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

// Everything is found from where this program lies, so an installed copy
// works wherever its prefix is and moves with it: installed, the engine and
// the demo sit in the prefix's private folders; in a build folder, the engine
// is built in engine/ and the build links demo/ beside us to the checkout's.
fs::path InstalledFolder(const char* fromBin) {
    return (ExecutableFolder() / fromBin).lexically_normal();
}

fs::path DemoFolder() {
    for (const fs::path& candidate :
         {InstalledFolder(HM_DEMO_FROM_BIN), ExecutableFolder() / "demo"}) {
        if (fs::exists(candidate / "machine.reg"))
            return candidate;
    }
    return {};
}

// The checkout's demo must never change: scans and fixes work on a copy.
bool CopyDemo(fs::path* copy, std::string* error) {
    const fs::path demo = DemoFolder();
    if (demo.empty()) {
        *error = "the demo machine was not found (looked for machine.reg in " +
                 InstalledFolder(HM_DEMO_FROM_BIN).string() + " and " +
                 (ExecutableFolder() / "demo").string() + ")";
        return false;
    }
    char pattern[] = "/tmp/hivemender-demo.XXXXXX";
    if (!mkdtemp(pattern)) {
        *error = "cannot make a scratch folder for the demo machine";
        return false;
    }
    std::error_code ec;
    fs::copy(demo, pattern, fs::copy_options::recursive, ec);
    if (ec) {
        *error = "cannot copy the demo machine: " + ec.message();
        return false;
    }
    *copy = pattern;
    return true;
}

// An offline installation: its hives are the registry, the volume drive C.
bool PrepareVolume(const std::string& folder, bool force, std::string* description,
                   std::string* error) {
    win32sim::WindowsVolume volume;
    if (!FinishVolumeSave(folder, error) || !win32sim::LoadWindowsVolume(folder, &volume, error))
        return false;
    *description = "Windows volume " + folder + ": " + std::to_string(volume.hives.size()) +
                   " hives, " + win32sim::Describe();
    for (const std::string& note : volume.notes)
        *description += "; " + note;
    g_volume = std::move(volume);
    g_forceVolume = force;
    return true;
}

} // namespace

std::unique_ptr<PluginLibrary> LoadPlugin(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        *error = "cannot load the plug-in " + path + ": " + dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<GetPluginEngineFn>(dlsym(handle, "GetPluginEngine"));
    if (!entry) {
        dlclose(handle);
        *error = "the plug-in " + path + " does not export GetPluginEngine";
        return nullptr;
    }
    return std::make_unique<PosixPlugin>(handle, entry);
}

std::string DefaultPluginPath() {
    const fs::path folder = ExecutableFolder();
    for (const fs::path& candidate :
         {InstalledFolder(HM_PLUGIN_FROM_BIN) / "libhivemender.so", folder / "libhivemender.so",
          folder.parent_path() / "engine" / "libhivemender.so"}) {
        if (fs::exists(candidate))
            return candidate.string();
    }
    return (folder / "libhivemender.so").string();
}

bool IsTerminal(int fd) {
    return isatty(fd) != 0;
}

size_t TerminalColumns() {
    winsize size{};
    if (!isatty(1) || ioctl(1, TIOCGWINSZ, &size) != 0)
        return isatty(1) ? 80 : 0;
    return size.ws_col > 0 ? size.ws_col : 80;
}

bool TerminalTakesColour() {
    return isatty(1) != 0;
}

void UseBinaryOutput() {}

bool ReplaceFile(const std::string& source, const std::string& target, std::string* error) {
    if (std::rename(source.c_str(), target.c_str()) == 0)
        return true;
    *error = "cannot replace " + target + ": " + std::strerror(errno);
    return false;
}

std::unique_ptr<MachineLock> LockMachine(const MachineOptions& options, const std::string& command,
                                         bool wait, std::string* error) {
    const fs::path folder = NamedFolder(options);
    std::error_code ignored;
    // The demo's scratch copy is ours alone; a missing folder is refused when
    // it is prepared.
    if (folder.empty() || !fs::is_directory(folder, ignored))
        return std::make_unique<MachineLock>();
    return LockFolder(folder.string(), command, wait, error);
}

bool PrepareMachine(const MachineOptions& options, std::string* description, std::string* error) {
    fs::path folder = NamedFolder(options);
    bool isDemo = false;
    if (folder.empty()) {
        if (!CopyDemo(&folder, error))
            return false;
        isDemo = true;
    }
    if (!fs::is_directory(folder)) {
        *error = "no machine folder at " + folder.string();
        return false;
    }
    if (!isDemo && win32sim::IsWindowsVolume(folder.string()))
        return PrepareVolume(folder.string(), options.force, description, error);
    if (g_lockedFolder == Normal(folder.string()))
        win32sim::RemoveAbandonedSaves(folder.string());
    if (!win32sim::LoadMachine(folder.string(), error))
        return false;
    g_machineFolder = folder.string();
    g_machineIsScratch = isDemo;
    *description = (isDemo ? "demo machine (scratch copy at " + folder.string() + ")"
                           : "machine " + folder.string()) +
                   ": " + win32sim::Describe();
    return true;
}

bool OpenInBrowser(const std::string& url) {
    const pid_t child = fork();
    if (child == 0) {
        // The browser's chatter is not ours to show.
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execlp("xdg-open", "xdg-open", url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

bool MachineAcceptsChanges(bool force, const std::vector<std::string>& keyPaths,
                           std::string* error) {
    return !g_volume || machine::CheckVolumeWritable(*g_volume, force, keyPaths, error);
}

bool SaveMachine(std::string* error) {
    if (g_volume)
        return machine::SaveWindowsVolume(*g_volume, g_forceVolume, error);
    if (g_machineFolder.empty())
        return true;
    return win32sim::SaveRegistry((fs::path(g_machineFolder) / "machine.reg").string(), error);
}

bool RegistryIsLive() {
    return false;
}

bool ReloadMachine(std::string* error) {
    if (g_volume) {
        const std::string root = g_volume->root;
        std::string ignored;
        return PrepareVolume(root, g_forceVolume, &ignored, error);
    }
    return g_machineFolder.empty() || win32sim::LoadMachine(g_machineFolder, error);
}

// Whether `inner` is `outer` or lies below it, links resolved.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
    std::error_code ignored;
    const fs::path a = fs::weakly_canonical(inner, ignored);
    const fs::path b = fs::weakly_canonical(outer, ignored);
    auto [end, unused] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return end == b.end();
}

bool HoldsFiles(const fs::path& folder) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored)) {
        if (entry.path().filename() != kLockName)
            return true;
    }
    return false;
}

// The keys a volume holds that the stand-in could not load, by key path:
// a machine folder made from it lacks them, and the user is told so.
std::string LeftOutNote(const win32sim::WindowsVolume& volume) {
    constexpr size_t kNamed = 3;
    size_t count = 0;
    std::string named;
    for (const win32sim::HiveFile& hive : volume.hives) {
        for (const win32sim::HiveMount& mount : hive.mounts) {
            for (const std::string& node : mount.leftOutNodes) {
                if (++count > kNamed)
                    continue;
                const std::string below = node.substr(
                    std::min(node.size(), mount.hiveNodePath.size() + (mount.hiveNodePath.empty() ? 0 : 1)));
                named += (named.empty() ? "" : ", ") + mount.keyPath + "\\" + below;
            }
        }
    }
    if (count == 0)
        return {};
    return "left out " + std::to_string(count) +
           (count == 1 ? " key" : " keys") +
           " whose name or value name holds a NUL character, which a machine folder cannot "
           "hold: " +
           named + (count > kNamed ? ", ..." : "");
}

bool ExportMachine(const std::string& volume, const std::string& out, bool force, bool wait,
                   std::string* note, std::string* error) {
    win32sim::WindowsVolume loaded;
    if (!win32sim::IsWindowsVolume(volume))
        return win32sim::LoadWindowsVolume(volume, &loaded, error); // says why it is none
    if (IsWithin(out, volume)) {
        *error = out + " is inside the Windows volume " + volume +
                 ": the machine folder must be written elsewhere";
        return false;
    }
    std::error_code made;
    fs::create_directories(out, made);
    if (made) {
        *error = out + ": " + made.message();
        return false;
    }
    const auto lock = LockFolder(out, "export-machine", wait, error);
    if (!lock)
        return false;
    if (!force && HoldsFiles(out)) {
        *error = out + " is not empty: name a new folder, or use --force to replace its "
                       "machine.reg and machine.ini";
        return false;
    }
    if (!FinishVolumeSave(volume, error) || !win32sim::LoadWindowsVolume(volume, &loaded, error) ||
        !win32sim::SaveMachineFolder(out, error))
        return false;
    *note = LeftOutNote(loaded);
    return true;
}

void DiscardScratchMachine() {
    if (!g_machineIsScratch)
        return;
    std::error_code ignored;
    fs::remove_all(g_machineFolder, ignored);
    g_machineFolder.clear();
    g_machineIsScratch = false;
}

bool MachineIsScratchCopy() {
    return g_machineIsScratch;
}

std::string PluginWindowsFolder(const std::string&) {
    const std::string& pluginPath = win32sim::CurrentConfig().pluginPath;
    const size_t slash = pluginPath.find_last_of('\\');
    return slash == std::string::npos ? std::string() : pluginPath.substr(0, slash);
}

std::string Utf8FromArgument(const std::string& argument) {
    return argument;
}

std::string CurrentUserSid() {
    return win32sim::CurrentConfig().currentUserSid;
}

std::string LocalPathFor(const std::string& windowsPath) {
    const std::string local = win32sim::HostPathFor(windowsPath);
    return local.empty() ? windowsPath : local;
}

} // namespace host
