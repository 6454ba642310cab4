// Offline Windows installations: their hive files read into the stand-in's
// registry (hive_reader.h says how names and text convert), and the
// machine's settings taken from them.
#include "machine/windows_volume.h"

#include "machine/hive_reader.h"
#include "machine/machine_load.h"
#include "regfile/regfile.h"

#include <win32sim/machine.h>
#include <win32sim/text.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

namespace win32sim {
namespace {

namespace fs = std::filesystem;

constexpr char kProfileList[] = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char kCurrentVersion[] = "Microsoft\\Windows NT\\CurrentVersion";
constexpr char kUsrClassPath[] = "AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";

std::vector<std::string> SplitWindowsPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// NTFS matches names without regard to case; the host's file system may
// not. `relative` is a Windows path below the volume's root, in 1252.
// Empty when some part of it is missing.
fs::path FindOnVolume(const fs::path& root, const std::string& relative) {
    fs::path found = root;
    std::error_code ignored;
    for (const std::string& part : SplitWindowsPath(relative)) {
        const fs::path exact = found / AnsiToHostName(part);
        if (fs::exists(exact, ignored)) {
            found = exact;
            continue;
        }
        fs::path match;
        for (const auto& entry : fs::directory_iterator(found, ignored)) {
            if (EqualAnsiNoCase(HostNameToAnsi(entry.path().filename().string()), part)) {
                match = entry.path();
                break;
            }
        }
        if (match.empty())
            return {};
        found = match;
    }
    return found;
}

fs::path FindHiveFile(const fs::path& root, const std::string& relative) {
    const fs::path found = FindOnVolume(root, relative);
    std::error_code ignored;
    return fs::is_regular_file(found, ignored) ? found : fs::path();
}

// A Windows path on drive C to the part below its root; empty for other drives.
std::string BelowSystemDrive(const std::string& windowsPath) {
    if (windowsPath.size() < 3 || !EqualAnsiNoCase(windowsPath.substr(0, 3), "C:\\"))
        return {};
    return windowsPath.substr(3);
}

using Variables = std::vector<std::pair<std::string, std::string>>;

void SetVariable(Variables* variables, const std::string& name, const std::string& value) {
    for (auto& [existing, old] : *variables) {
        if (EqualAnsiNoCase(existing, name)) {
            old = value;
            return;
        }
    }
    variables->emplace_back(name, value);
}

// %NAME% from `known`, as the hives' REG_EXPAND_SZ settings expect; an
// unknown name stays as written.
std::string ExpandWith(const Variables& known, const std::string& text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const size_t close = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
        const std::string name =
            close == std::string::npos ? "" : text.substr(i + 1, close - i - 1);
        auto match = std::find_if(known.begin(), known.end(), [&](const auto& variable) {
            return !name.empty() && EqualAnsiNoCase(variable.first, name);
        });
        if (match == known.end()) {
            out.push_back(text[i++]);
            continue;
        }
        out += match->second;
        i = close + 1;
    }
    return out;
}

// Everything read from a volume before the machine changes.
class VolumeReader {
public:
    explicit VolumeReader(fs::path root) : m_root(std::move(root)) {
        m_config.drives = {DriveSpec{'C', DRIVE_FIXED, m_root.string()}};
    }

    bool Read(std::string* error);
    bool Replace(WindowsVolume* volume, std::string* error);

private:
    const HiveReader* AddHive(std::unique_ptr<HiveReader> hive, std::vector<HiveMount> mounts) {
        m_volume.hives.push_back(HiveFile{hive->Path(), std::move(mounts)});
        if (!hive->Note().empty())
            m_volume.notes.push_back(hive->Note());
        m_open.push_back(std::move(hive));
        return m_open.back().get();
    }
    const HiveReader* AddHive(const fs::path& path, std::vector<HiveMount> mounts,
                              std::string* error) {
        std::unique_ptr<HiveReader> hive = HiveReader::Open(path.string(), error);
        return hive ? AddHive(std::move(hive), std::move(mounts)) : nullptr;
    }

    std::vector<HiveMount> SystemMounts(const HiveReader& system);
    bool AddProfiles(const HiveReader& software, std::string* error);
    void TakeEnvironment(const HiveReader* user, const std::string& profile);

    fs::path m_root;
    MachineConfig m_config;
    WindowsVolume m_volume;
    std::vector<std::unique_ptr<HiveReader>> m_open; // parallel to m_volume.hives
    const HiveReader* m_system = nullptr;
    std::string m_controlSet; // the hive node loaded as CurrentControlSet
};

// Windows loads the control set Select\Current names as CurrentControlSet;
// the others stay under their own names.
std::vector<HiveMount> VolumeReader::SystemMounts(const HiveReader& system) {
    const std::string root = "HKEY_LOCAL_MACHINE\\SYSTEM";
    std::optional<DWORD> current = system.Dword("Select", "Current");
    if (!current)
        current = system.Dword("Select", "Default");
    char name[32] = "";
    if (current)
        std::snprintf(name, sizeof(name), "ControlSet%03lu", static_cast<unsigned long>(*current));
    if (!current || !system.HasNode(name))
        return {HiveMount{"", root, {}}};
    m_controlSet = name;
    return {HiveMount{"", root, {name}}, HiveMount{name, root + "\\CurrentControlSet", {}}};
}

// Each profile in ProfileList whose NTUSER.DAT is on the volume; a profile
// without one (deleted, or on another drive) is not loaded.
bool VolumeReader::AddProfiles(const HiveReader& software, std::string* error) {
    const Variables known = {{"SystemDrive", m_config.windowsDir.substr(0, 2)},
                             {"SystemRoot", m_config.windowsDir}};
    const HiveReader* currentUser = nullptr;
    std::string currentProfile;
    for (const std::string& sid : software.SubkeyNames(kProfileList)) {
        if (sid.find('.') != std::string::npos)
            continue; // "<sid>.bak": a damaged profile Windows set aside and no longer loads
        const std::string profile = ExpandWith(
            known, software.Text(std::string(kProfileList) + "\\" + sid, "ProfileImagePath"));
        const std::string below = BelowSystemDrive(profile);
        const fs::path ntuser =
            below.empty() ? fs::path() : FindHiveFile(m_root, below + "\\NTUSER.DAT");
        if (ntuser.empty())
            continue;
        const HiveReader* user = AddHive(ntuser, {HiveMount{"", "HKEY_USERS\\" + sid, {}}}, error);
        if (!user)
            return false;
        const fs::path classes = FindHiveFile(m_root, below + "\\" + kUsrClassPath);
        if (!classes.empty() &&
            !AddHive(classes, {HiveMount{"", "HKEY_USERS\\" + sid + "_Classes", {}}}, error))
            return false;
        if (!currentUser && sid.rfind("S-1-5-21-", 0) == 0) {
            currentUser = user;
            currentProfile = profile;
            m_config.currentUserSid = sid;
        }
    }
    TakeEnvironment(currentUser, currentProfile);
    return true;
}

// The environment a process of the current user starts with: the
// machine's variables, then the user's, whose Path is appended to the
// machine's. What describes the process itself (its architecture, which
// follows the wow64 setting) or the SYSTEM account (its user name and
// temporary folder) is not taken.
void VolumeReader::TakeEnvironment(const HiveReader* user, const std::string& profile) {
    Variables known = {{"SystemDrive", m_config.windowsDir.substr(0, 2)},
                       {"SystemRoot", m_config.windowsDir}};
    const auto take = [&](const std::string& name, const std::string& value) {
        SetVariable(&m_config.environment, name, value);
        SetVariable(&known, name, value);
    };
    if (!profile.empty()) {
        take("USERNAME", SplitWindowsPath(profile).back());
        take("USERPROFILE", profile);
    }
    if (m_system && !m_controlSet.empty()) {
        for (const auto& [name, text] :
             m_system->TextValues(m_controlSet + "\\Control\\Session Manager\\Environment")) {
            if (!EqualAnsiNoCase(name, "PROCESSOR_ARCHITECTURE") &&
                !EqualAnsiNoCase(name, "USERNAME") && !EqualAnsiNoCase(name, "TEMP") &&
                !EqualAnsiNoCase(name, "TMP"))
                take(name, ExpandWith(known, text));
        }
    }
    if (!user)
        return;
    for (const auto& [name, text] : user->TextValues("Environment")) {
        const std::string value = ExpandWith(known, text);
        const std::string machinePath = ExpandWith(known, "%Path%");
        const bool appends = EqualAnsiNoCase(name, "Path") && machinePath != "%Path%";
        take(name, appends ? machinePath + ";" + value : value);
    }
}

bool VolumeReader::Read(std::string* error) {
    const fs::path softwarePath = FindHiveFile(m_root, "Windows\\System32\\config\\SOFTWARE");
    if (softwarePath.empty())
        return Fail(error, m_root.string() +
                               ": not a Windows volume (no Windows\\System32\\config\\SOFTWARE)");
    const HiveReader* software =
        AddHive(softwarePath, {HiveMount{"", "HKEY_LOCAL_MACHINE\\SOFTWARE", {}}}, error);
    if (!software)
        return false;
    std::string windows = software->Text(kCurrentVersion, "SystemRoot");
    while (windows.size() > 3 && windows.back() == '\\')
        windows.pop_back();
    if (!BelowSystemDrive(windows).empty())
        m_config.windowsDir = windows;
    const fs::path systemPath = FindHiveFile(m_root, "Windows\\System32\\config\\SYSTEM");
    if (!systemPath.empty()) {
        std::unique_ptr<HiveReader> system = HiveReader::Open(systemPath.string(), error);
        if (!system)
            return false;
        std::vector<HiveMount> mounts = SystemMounts(*system);
        m_system = AddHive(std::move(system), std::move(mounts));
    }
    const fs::path defaultPath = FindHiveFile(m_root, "Windows\\System32\\config\\DEFAULT");
    if (!defaultPath.empty() &&
        !AddHive(defaultPath, {HiveMount{"", "HKEY_USERS\\.DEFAULT", {}}}, error))
        return false;
    if (!AddProfiles(*software, error))
        return false;
    return ApplyMachineIniFile(m_root.string(), &m_config, error);
}

// The hives' keys go into the new machine as they are read, and each hive
// is closed once read: neither a script of the whole registry nor every
// hive is held next to it. A damaged hive found on the way puts the
// previous machine back.
bool VolumeReader::Replace(WindowsVolume* volume, std::string* error) {
    const auto readHives = [this](std::string* readError) {
        PrivilegedScope privileged;
        RegistryBuilder builder(m_root.string());
        m_system = nullptr;
        for (size_t i = 0; i < m_open.size(); ++i) {
            for (HiveMount& mount : m_volume.hives[i].mounts) {
                if (!m_open[i]->ReadMount(&mount, builder, readError))
                    return false;
            }
            m_open[i].reset();
        }
        return true;
    };
    if (!ReplaceMachine(m_config, readHives, error))
        return false;
    m_volume.root = m_root.string();
    *volume = std::move(m_volume);
    return true;
}

fs::path VolumeRoot(const std::string& folder) {
    fs::path root = fs::absolute(folder).lexically_normal();
    return root.has_filename() ? root : root.parent_path();
}

} // namespace

bool IsWindowsVolume(const std::string& folder) {
    return !VolumeConfigFolder(folder).empty();
}

std::string VolumeConfigFolder(const std::string& folder) {
    const fs::path software =
        FindHiveFile(VolumeRoot(folder), "Windows\\System32\\config\\SOFTWARE");
    return software.empty() ? std::string() : software.parent_path().string();
}

bool LoadWindowsVolume(const std::string& folder, WindowsVolume* volume, std::string* error) {
    VolumeReader reader(VolumeRoot(folder));
    return reader.Read(error) && reader.Replace(volume, error);
}

} // namespace win32sim
