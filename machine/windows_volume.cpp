// Offline Windows installations: their hive files read through hivex into
// the stand-in's registry, and the machine's settings taken from them.
//
// The stand-in keeps names and string data in Windows-1252, as the A
// registry functions show them. String data converts as RegQueryValueExA
// converts it: a character 1252 lacks becomes '?'. A key or value *name*
// 1252 lacks cannot be loaded without becoming another name (two names
// could meet in one, and the write-back would take the '?' form for a new
// key), so such a key is left out whole, as is a key holding such a value,
// and the key is listed among its mount's excludedNodes: the write-back
// never touches what the engine could not see.
#include "machine/windows_volume.h"

#include "machine/machine_load.h"
#include "regfile/regfile.h"

#include <win32sim/machine.h>
#include <win32sim/text.h>

#include <hivex.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

namespace win32sim {
namespace {

namespace fs = std::filesystem;

struct HiveCloser {
    void operator()(hive_h* hive) const { hivex_close(hive); }
};
using HiveHandle = std::unique_ptr<hive_h, HiveCloser>;

// hivex hands out names, data and lists in malloc'd memory.
struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
template <class T> using Malloced = std::unique_ptr<T, FreeDeleter>;

constexpr char kProfileList[] = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char kCurrentVersion[] = "Microsoft\\Windows NT\\CurrentVersion";
constexpr char kUsrClassPath[] = "AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";

bool Fail(std::string* error, std::string message) {
    if (error)
        *error = std::move(message);
    return false;
}

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

bool IsStringData(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// UTF-16LE hive text to 1252 unit for unit: a missing terminator stays
// missing, and an odd last byte, which no UTF-16 reader sees, is dropped.
std::string AnsiFromUtf16(const char* bytes, size_t size) {
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), bytes, units.size() * 2);
    std::string ansi(units.size(), '\0');
    if (!units.empty())
        WideCharToMultiByte(CP_ACP, 0, units.data(), static_cast<int>(units.size()), ansi.data(),
                            static_cast<int>(ansi.size()), nullptr, nullptr);
    return ansi;
}

// hivex gives names in UTF-8. False when 1252 has no form for one of them.
bool AnsiName(const char* utf8, std::string* ansi) {
    ansi->clear();
    const int length = static_cast<int>(std::strlen(utf8));
    if (length == 0)
        return true;
    std::u16string units(static_cast<size_t>(length), u'\0');
    const int count =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, length, units.data(), length);
    if (count <= 0)
        return false;
    ansi->assign(static_cast<size_t>(count), '\0');
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, units.data(), count, ansi->data(), count, nullptr, &lossy);
    return !lossy;
}

// One opened hive file and the questions asked of it.
class Hive {
public:
    Hive(HiveHandle handle, std::string hostPath)
        : m_handle(std::move(handle)), m_path(std::move(hostPath)) {}

    const std::string& Path() const { return m_path; }

    // The node at a '\'-separated path below the root ("" is the root); 0
    // when a part is missing.
    hive_node_h NodeAt(const std::string& path) const {
        hive_node_h node = hivex_root(m_handle.get());
        for (const std::string& part : SplitWindowsPath(path)) {
            if (!node)
                break;
            node = hivex_node_get_child(m_handle.get(), node, part.c_str());
        }
        return node;
    }

    // A value's data as the stand-in keeps it (1252 text for string types).
    bool ValueData(hive_value_h value, DWORD* type, std::vector<BYTE>* data) const {
        hive_type hiveType;
        size_t size = 0;
        Malloced<char> bytes(hivex_value_value(m_handle.get(), value, &hiveType, &size));
        if (!bytes)
            return false;
        *type = static_cast<DWORD>(hiveType);
        if (IsStringData(*type)) {
            const std::string text = AnsiFromUtf16(bytes.get(), size);
            data->assign(text.begin(), text.end());
        } else {
            data->assign(bytes.get(), bytes.get() + size);
        }
        return true;
    }

    // A string value's text without its terminator; empty when absent.
    std::string Text(const std::string& nodePath, const char* name) const {
        const hive_node_h node = NodeAt(nodePath);
        const hive_value_h value = node ? hivex_node_get_value(m_handle.get(), node, name) : 0;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (!value || !ValueData(value, &type, &data) || !IsStringData(type))
            return {};
        const std::string text(data.begin(), data.end());
        return text.substr(0, text.find('\0'));
    }

    std::optional<DWORD> Dword(const std::string& nodePath, const char* name) const {
        const hive_node_h node = NodeAt(nodePath);
        const hive_value_h value = node ? hivex_node_get_value(m_handle.get(), node, name) : 0;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (!value || !ValueData(value, &type, &data) || type != REG_DWORD || data.size() < 4)
            return std::nullopt;
        return static_cast<DWORD>(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24);
    }

    // The names of a node's subkeys (those 1252 can spell) and its
    // (name, text) string values, for the settings read from the hives.
    std::vector<std::string> SubkeyNames(const std::string& nodePath) const;
    std::vector<std::pair<std::string, std::string>> TextValues(const std::string& nodePath) const;

    // Appends the keys `mount` places to `script`; keys left out for their
    // names join the mount's excludedNodes.
    bool ReadMount(HiveMount* mount, regfile::Script* script, std::string* error) const;

private:
    struct Walk {
        HiveMount* mount;
        regfile::Script* script;
    };

    bool IsExcluded(const HiveMount& mount, const std::string& nodePath) const {
        for (const std::string& excluded : mount.excludedNodes) {
            if (EqualAnsiNoCase(excluded, nodePath))
                return true;
        }
        return false;
    }

    bool ReadValues(hive_node_h node, std::vector<regfile::ValueOp>* values, bool* nameless) const;
    bool ReadNode(hive_node_h node, const std::string& nodePath, const std::string& keyPath,
                  Walk& walk) const;

    HiveHandle m_handle;
    std::string m_path;
};

std::vector<std::string> Hive::SubkeyNames(const std::string& nodePath) const {
    std::vector<std::string> names;
    const hive_node_h node = NodeAt(nodePath);
    Malloced<hive_node_h> children(node ? hivex_node_children(m_handle.get(), node) : nullptr);
    for (size_t i = 0; children && children.get()[i]; ++i) {
        Malloced<char> name(hivex_node_name(m_handle.get(), children.get()[i]));
        std::string ansi;
        if (name && AnsiName(name.get(), &ansi))
            names.push_back(ansi);
    }
    return names;
}

std::vector<std::pair<std::string, std::string>>
Hive::TextValues(const std::string& nodePath) const {
    std::vector<std::pair<std::string, std::string>> texts;
    std::vector<regfile::ValueOp> values;
    bool nameless = false;
    const hive_node_h node = NodeAt(nodePath);
    if (!node || !ReadValues(node, &values, &nameless))
        return texts;
    for (const regfile::ValueOp& value : values) {
        if (IsStringData(value.type) && !value.isDefault) {
            const std::string text(value.data.begin(), value.data.end());
            texts.emplace_back(value.name, text.substr(0, text.find('\0')));
        }
    }
    return texts;
}

// `nameless`: some value has a name 1252 cannot spell.
bool Hive::ReadValues(hive_node_h node, std::vector<regfile::ValueOp>* values,
                      bool* nameless) const {
    Malloced<hive_value_h> list(hivex_node_values(m_handle.get(), node));
    if (!list)
        return false;
    for (size_t i = 0; list.get()[i]; ++i) {
        Malloced<char> name(hivex_value_key(m_handle.get(), list.get()[i]));
        regfile::ValueOp value;
        if (!name)
            return false;
        if (!AnsiName(name.get(), &value.name)) {
            *nameless = true;
            continue;
        }
        value.isDefault = value.name.empty();
        if (!ValueData(list.get()[i], &value.type, &value.data))
            return false;
        values->push_back(std::move(value));
    }
    return true;
}

bool Hive::ReadNode(hive_node_h node, const std::string& nodePath, const std::string& keyPath,
                    Walk& walk) const {
    regfile::KeyOp key;
    key.keyPath = keyPath;
    bool nameless = false;
    if (!ReadValues(node, &key.values, &nameless))
        return false;
    if (nameless) {
        walk.mount->excludedNodes.push_back(nodePath);
        return true;
    }
    walk.script->keys.push_back(std::move(key));
    Malloced<hive_node_h> children(hivex_node_children(m_handle.get(), node));
    if (!children)
        return false;
    for (size_t i = 0; children.get()[i]; ++i) {
        Malloced<char> name(hivex_node_name(m_handle.get(), children.get()[i]));
        if (!name)
            return false;
        const std::string childPath = nodePath.empty() ? name.get() : nodePath + "\\" + name.get();
        std::string ansi;
        if (!AnsiName(name.get(), &ansi)) {
            walk.mount->excludedNodes.push_back(childPath);
            continue;
        }
        if (!IsExcluded(*walk.mount, childPath) &&
            !ReadNode(children.get()[i], childPath, keyPath + "\\" + ansi, walk))
            return false;
    }
    return true;
}

bool Hive::ReadMount(HiveMount* mount, regfile::Script* script, std::string* error) const {
    errno = 0;
    const hive_node_h top = NodeAt(mount->hiveNodePath);
    if (!top)
        return Fail(error, m_path + ": no key " + mount->hiveNodePath);
    Walk walk{mount, script};
    if (!ReadNode(top, mount->hiveNodePath, mount->keyPath, walk))
        return Fail(error,
                    m_path + ": damaged key data (" + std::strerror(errno ? errno : EIO) + ")");
    return true;
}

constexpr size_t kBaseBlockSize = 0x1000;
constexpr size_t kBinsSizeOffset = 0x28;  // the base block's count of hive bin bytes
constexpr size_t kChecksumOffset = 0x1FC; // XOR of the 127 words before it

uint32_t WordAt(const std::string& bytes, size_t offset) {
    uint32_t word = 0;
    std::memcpy(&word, bytes.data() + offset, sizeof(word));
    return word;
}

bool ChecksumMatches(const std::string& base) {
    uint32_t sum = 0;
    for (size_t offset = 0; offset < kChecksumOffset; offset += 4)
        sum ^= WordAt(base, offset);
    return sum == WordAt(base, kChecksumOffset);
}

// What is wrong with a hive file hivex refused (errno `code`), for a person.
// hivex's errno says little (a missing signature and a file cut short can
// both be "not supported", a short file "invalid"); the base block tells.
std::string OpenFailure(int code, const fs::path& path) {
    if (code == ENOENT)
        return "no such file";
    if (code == EACCES)
        return "cannot be read (permission denied)";
    std::ifstream in(path, std::ios::binary);
    std::string base(kBaseBlockSize, '\0');
    in.read(base.data(), static_cast<std::streamsize>(base.size()));
    const auto read = static_cast<size_t>(in.gcount());
    std::error_code ignored;
    const auto size = static_cast<uint64_t>(fs::file_size(path, ignored));
    if (read < 4 || base.compare(0, 4, "regf") != 0)
        return "not a registry hive (no regf signature)";
    if (read < kBaseBlockSize)
        return "truncated: shorter than the hive's " + std::to_string(kBaseBlockSize) +
               "-byte header";
    if (!ChecksumMatches(base))
        return "damaged hive: the header checksum does not match";
    const uint64_t promised = kBaseBlockSize + uint64_t{WordAt(base, kBinsSizeOffset)};
    if (size < promised)
        return "truncated: the header promises " + std::to_string(promised) +
               " bytes, the file holds " + std::to_string(size);
    return std::string("damaged or unsupported hive: ") + std::strerror(code);
}

std::unique_ptr<Hive> OpenHive(const fs::path& path, std::string* error) {
    errno = 0;
    HiveHandle handle(hivex_open(path.c_str(), 0));
    if (!handle) {
        Fail(error, path.string() + ": " + OpenFailure(errno, path));
        return nullptr;
    }
    return std::make_unique<Hive>(std::move(handle), path.string());
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
    const Hive* AddHive(std::unique_ptr<Hive> hive, std::vector<HiveMount> mounts) {
        m_volume.hives.push_back(HiveFile{hive->Path(), std::move(mounts)});
        m_open.push_back(std::move(hive));
        return m_open.back().get();
    }
    const Hive* AddHive(const fs::path& path, std::vector<HiveMount> mounts, std::string* error) {
        std::unique_ptr<Hive> hive = OpenHive(path, error);
        return hive ? AddHive(std::move(hive), std::move(mounts)) : nullptr;
    }

    std::vector<HiveMount> SystemMounts(const Hive& system);
    bool AddProfiles(const Hive& software, std::string* error);
    void TakeEnvironment(const Hive* user, const std::string& profile);

    fs::path m_root;
    MachineConfig m_config;
    WindowsVolume m_volume;
    std::vector<std::unique_ptr<Hive>> m_open; // parallel to m_volume.hives
    const Hive* m_system = nullptr;
    std::string m_controlSet; // the hive node loaded as CurrentControlSet
    regfile::Script m_script;
};

// Windows loads the control set Select\Current names as CurrentControlSet;
// the others stay under their own names.
std::vector<HiveMount> VolumeReader::SystemMounts(const Hive& system) {
    const std::string root = "HKEY_LOCAL_MACHINE\\SYSTEM";
    std::optional<DWORD> current = system.Dword("Select", "Current");
    if (!current)
        current = system.Dword("Select", "Default");
    char name[32] = "";
    if (current)
        std::snprintf(name, sizeof(name), "ControlSet%03lu", static_cast<unsigned long>(*current));
    if (!current || !system.NodeAt(name))
        return {HiveMount{"", root, {}}};
    m_controlSet = name;
    return {HiveMount{"", root, {name}}, HiveMount{name, root + "\\CurrentControlSet", {}}};
}

// Each profile in ProfileList whose NTUSER.DAT is on the volume; a profile
// without one (deleted, or on another drive) is not loaded.
bool VolumeReader::AddProfiles(const Hive& software, std::string* error) {
    const Variables known = {{"SystemDrive", m_config.windowsDir.substr(0, 2)},
                             {"SystemRoot", m_config.windowsDir}};
    const Hive* currentUser = nullptr;
    std::string currentProfile;
    for (const std::string& sid : software.SubkeyNames(kProfileList)) {
        const std::string profile = ExpandWith(
            known, software.Text(std::string(kProfileList) + "\\" + sid, "ProfileImagePath"));
        const std::string below = BelowSystemDrive(profile);
        const fs::path ntuser =
            below.empty() ? fs::path() : FindHiveFile(m_root, below + "\\NTUSER.DAT");
        if (ntuser.empty())
            continue;
        const Hive* user = AddHive(ntuser, {HiveMount{"", "HKEY_USERS\\" + sid, {}}}, error);
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
void VolumeReader::TakeEnvironment(const Hive* user, const std::string& profile) {
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
    const Hive* software =
        AddHive(softwarePath, {HiveMount{"", "HKEY_LOCAL_MACHINE\\SOFTWARE", {}}}, error);
    if (!software)
        return false;
    const std::string windows = software->Text(kCurrentVersion, "SystemRoot");
    if (!BelowSystemDrive(windows).empty())
        m_config.windowsDir = windows;
    const fs::path systemPath = FindHiveFile(m_root, "Windows\\System32\\config\\SYSTEM");
    if (!systemPath.empty()) {
        std::unique_ptr<Hive> system = OpenHive(systemPath, error);
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
    for (size_t i = 0; i < m_open.size(); ++i) {
        for (HiveMount& mount : m_volume.hives[i].mounts) {
            if (!m_open[i]->ReadMount(&mount, &m_script, error))
                return false;
        }
    }
    return ApplyMachineIniFile(m_root.string(), &m_config, error);
}

bool VolumeReader::Replace(WindowsVolume* volume, std::string* error) {
    if (!ReplaceMachine(m_config, m_script, m_root.string(), error))
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
    return !FindHiveFile(VolumeRoot(folder), "Windows\\System32\\config\\SOFTWARE").empty();
}

bool LoadWindowsVolume(const std::string& folder, WindowsVolume* volume, std::string* error) {
    VolumeReader reader(VolumeRoot(folder));
    return reader.Read(error) && reader.Replace(volume, error);
}

} // namespace win32sim
