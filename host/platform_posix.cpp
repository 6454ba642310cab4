// Linux: the plug-in is a shared object over the Win32 stand-in, and the
// machine is a simulated one loaded from a folder.
#include "host/platform.h"

#include "machine/machine_folder.h"
#include "machine/windows_volume.h"
#include <win32sim/machine.h>

#include <dlfcn.h>
#include <sys/ioctl.h>
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

fs::path ExecutableFolder() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::current_path() : self.parent_path();
}

// The demo shipped in the checkout, found from the build tree or beside us.
fs::path DemoFolder() {
    for (const fs::path& candidate :
         {ExecutableFolder() / "demo", fs::path(HM_SOURCE_DIR) / "demo"}) {
        if (fs::exists(candidate / "machine.reg"))
            return candidate;
    }
    return {};
}

// The checkout's demo must never change: scans and fixes work on a copy.
bool CopyDemo(fs::path* copy, std::string* error) {
    const fs::path demo = DemoFolder();
    if (demo.empty()) {
        *error = "the demo machine was not found (looked for demo/machine.reg)";
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
    if (!win32sim::LoadWindowsVolume(folder, &volume, error))
        return false;
    *description = "Windows volume " + folder + ": " + std::to_string(volume.hives.size()) +
                   " hives, " + win32sim::Describe();
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
         {folder / "libhivemender.so", folder.parent_path() / "engine" / "libhivemender.so"}) {
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

bool PrepareMachine(const MachineOptions& options, std::string* description, std::string* error) {
    fs::path folder = options.folder;
    const char* fromEnvironment = std::getenv("HIVEMENDER_MACHINE");
    if (folder.empty() && fromEnvironment && *fromEnvironment)
        folder = fromEnvironment;
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
    if (!win32sim::LoadMachine(folder.string(), error))
        return false;
    g_machineFolder = folder.string();
    g_machineIsScratch = isDemo;
    *description = (isDemo ? "demo machine (scratch copy at " + folder.string() + ")"
                           : "machine " + folder.string()) +
                   ": " + win32sim::Describe();
    return true;
}

bool MachineAcceptsChanges(bool force, std::string* error) {
    return !g_volume || win32sim::CheckVolumeWritable(*g_volume, force, error);
}

bool SaveMachine(std::string* error) {
    if (g_volume)
        return win32sim::SaveWindowsVolume(*g_volume, g_forceVolume, error);
    if (g_machineFolder.empty())
        return true;
    return win32sim::SaveRegistry((fs::path(g_machineFolder) / "machine.reg").string(), error);
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

bool ExportMachine(const std::string& volume, const std::string& out, std::string* note,
                   std::string* error) {
    win32sim::WindowsVolume loaded;
    if (!win32sim::LoadWindowsVolume(volume, &loaded, error) ||
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

std::string PluginWindowsFolder(const std::string&) {
    const std::string& pluginPath = win32sim::CurrentConfig().pluginPath;
    const size_t slash = pluginPath.find_last_of('\\');
    return slash == std::string::npos ? std::string() : pluginPath.substr(0, slash);
}

std::string LocalPathFor(const std::string& windowsPath) {
    const std::string local = win32sim::HostPathFor(windowsPath);
    return local.empty() ? windowsPath : local;
}

} // namespace host
