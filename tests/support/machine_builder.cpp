#include "support/machine_builder.h"

#include "support/conformance.h"

#include "registry/key_walk.h"
#include "registry/root_names.h"

#ifndef _WIN32
#include "support/host_files.h"
#include <win32sim/machine.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace hmtest {
namespace {

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

#ifndef _WIN32
// KeyDenial names the stand-in's denials in their order.
static_assert(int(KeyDenial::Read) == int(win32sim::Denial::Read) &&
              int(KeyDenial::Write) == int(win32sim::Denial::Write));
#endif

// One line per key and per value, the key named by the path it was asked
// for and the path below it.
class Snapshotter : public KeyVisitor {
public:
    Snapshotter(const std::string& keyPath, std::map<std::string, std::string>& lines)
        : m_keyPath(keyPath), m_lines(lines) {}

    LONG EnterKey(RegKey& key, const std::string& relativePath) override {
        const std::string path = relativePath.empty() ? m_keyPath : m_keyPath + "\\" + relativePath;
        m_lines[path] = "";
        std::vector<RegValue> values;
        const LONG status = ReadValues(key.Handle(), values);
        for (const RegValue& value : values) {
            std::string line = "type " + std::to_string(value.type) + ":";
            for (BYTE b : value.data) {
                char hex[4];
                std::snprintf(hex, sizeof(hex), " %02x", b);
                line += hex;
            }
            m_lines[path + "\n  \"" + value.name + "\""] = line;
        }
        return status;
    }

private:
    const std::string& m_keyPath;
    std::map<std::string, std::string>& m_lines;
};

bool SplitKeyPath(const std::string& keyPath, HKEY* root, std::string* subkey) {
    return ::SplitKeyPath(keyPath, RootNames::EngineLongNames, root, subkey);
}

// Opens a key named by its full path text; false for an unknown root too.
bool OpenKeyPath(const std::string& keyPath, REGSAM access, HKEY* key) {
    HKEY root;
    std::string subkey;
    return SplitKeyPath(keyPath, &root, &subkey) &&
           RegOpenKeyExA(root, subkey.c_str(), 0, access, key) == ERROR_SUCCESS;
}

} // namespace

bool KeyExists(const std::string& keyPath) {
    HKEY key;
    if (!OpenKeyPath(keyPath, KEY_READ, &key))
        return false;
    RegCloseKey(key);
    return true;
}

bool ReadValue(const std::string& keyPath, const std::string& name, DWORD* type,
               std::vector<BYTE>* data) {
    HKEY key;
    if (!OpenKeyPath(keyPath, KEY_READ, &key))
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size, 0);
        status = RegQueryValueExA(key, name.c_str(), nullptr, type, data->data(), &size);
        data->resize(size);
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

std::string ReadText(const std::string& keyPath, const std::string& name) {
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!ReadValue(keyPath, name, &type, &data))
        return "(none)";
    return std::string(data.begin(), data.end()).c_str();
}

std::string SnapshotTree(const std::string& keyPath) {
    HKEY root;
    std::string subkey;
    std::map<std::string, std::string> lines;
    RegKey key;
    if (SplitKeyPath(keyPath, &root, &subkey) && key.OpenPath(root, subkey, KEY_READ) == 0) {
        Snapshotter snapshotter(keyPath, lines);
        EXPECT_EQ(ERROR_SUCCESS, WalkKeyTree(key, snapshotter)) << keyPath;
    }
    std::string text;
    for (const auto& [what, line] : lines)
        text += what + (line.empty() ? "" : " = " + line) + "\n";
    return text;
}

// A fresh builder describes the world the test binary runs in: the stand-in
// is a 32-bit process on 64-bit Windows.
MachineBuilder::MachineBuilder() : m_wow64Process(RunningOnStandIn()) {}

MachineBuilder::~MachineBuilder() {
    if (m_built)
        RemoveStaged();
}

MachineBuilder& MachineBuilder::Administrator(bool isAdministrator) {
    m_administrator = isAdministrator;
    return *this;
}

MachineBuilder& MachineBuilder::Wow64Process(bool is32BitOn64BitWindows) {
    m_wow64Process = is32BitOn64BitWindows;
    return *this;
}

MachineBuilder& MachineBuilder::Drive(char letter, UINT driveType) {
    m_drives.emplace_back(static_cast<char>(toupper(static_cast<unsigned char>(letter))),
                          driveType);
    return *this;
}

MachineBuilder& MachineBuilder::Environment(const std::string& name, const std::string& value) {
    m_environment.emplace_back(name, value);
    return *this;
}

MachineBuilder& MachineBuilder::Deny(const std::string& keyPath, KeyDenial denial) {
    m_denied.emplace_back(keyPath, denial);
    return *this;
}

MachineBuilder& MachineBuilder::PluginPath(const std::string& windowsPath) {
    m_pluginPath = windowsPath;
    return *this;
}

MachineBuilder& MachineBuilder::Key(const std::string& keyPath) {
    m_keys.push_back(keyPath);
    return *this;
}

MachineBuilder& MachineBuilder::Value(const std::string& keyPath, const std::string& name,
                                      DWORD type, const std::vector<BYTE>& data) {
    m_values.push_back({keyPath, name, type, data});
    return *this;
}

MachineBuilder& MachineBuilder::String(const std::string& keyPath, const std::string& name,
                                       const std::string& text, DWORD type) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    if (type == REG_MULTI_SZ)
        data.push_back(0);
    return Value(keyPath, name, type, data);
}

MachineBuilder& MachineBuilder::Dword(const std::string& keyPath, const std::string& name,
                                      DWORD value) {
    std::vector<BYTE> data(4);
    for (int i = 0; i < 4; ++i)
        data[i] = static_cast<BYTE>(value >> (8 * i));
    return Value(keyPath, name, REG_DWORD, data);
}

MachineBuilder& MachineBuilder::File(const std::string& path, const std::string& bytes) {
    m_files.emplace_back(path, bytes);
    return *this;
}

MachineBuilder& MachineBuilder::Folder(const std::string& path) {
    m_folders.push_back(path);
    return *this;
}

std::string MachineBuilder::CurrentUserSid() const {
#ifndef _WIN32
    return win32sim::CurrentConfig().currentUserSid;
#else
    return {}; // Wine's HKEY_CURRENT_USER is not staged through HKEY_USERS here
#endif
}

bool MachineBuilder::CheckStageable() {
    if (!RunningOnWine())
        return true;
    if (!m_administrator)
        m_unstageable.push_back("a non-administrator user");
    if (m_wow64Process != RunningOnStandIn())
        m_unstageable.push_back("a 32-bit process on 64-bit Windows");
    for (const auto& [letter, type] : m_drives) {
        if (letter != 'C' || type != DRIVE_FIXED)
            m_unstageable.push_back(std::string("drive ") + letter + ": of another type");
    }
    if (!m_denied.empty())
        m_unstageable.push_back("a key denied to the user");
    if (!m_pluginPath.empty())
        m_unstageable.push_back("another plug-in path");
    return m_unstageable.empty();
}

void MachineBuilder::Build() {
    ASSERT_FALSE(m_built) << "Build() called twice";
    if (!CheckStageable()) {
        std::string reasons;
        for (const auto& reason : m_unstageable)
            reasons += (reasons.empty() ? "" : ", ") + reason;
        GTEST_SKIP() << "cannot be staged under Wine: " << reasons;
    }
    m_built = true;
#ifndef _WIN32
    win32sim::MachineConfig config;
    config.administrator = m_administrator;
    config.wow64Process = m_wow64Process;
    for (const auto& [letter, type] : m_drives) {
        if (letter != 'C')
            config.drives.push_back({letter, type, ""});
    }
    if (std::none_of(config.drives.begin(), config.drives.end(),
                     [](const win32sim::DriveSpec& d) { return d.letter == 'C'; })) {
        UINT typeOfC = DRIVE_FIXED;
        for (const auto& [letter, type] : m_drives)
            typeOfC = letter == 'C' ? type : typeOfC;
        config.drives.insert(config.drives.begin(), {'C', typeOfC, ""});
    }
    config.environment = m_environment;
    if (!m_pluginPath.empty())
        config.pluginPath = m_pluginPath;
    win32sim::ResetMachine(config, FreshHostFolder("hm-machine").string());
    win32sim::PrivilegedScope privileged;
#else
    for (const auto& [name, value] : m_environment) {
        char old[8192];
        DWORD length = GetEnvironmentVariableA(name.c_str(), old, sizeof(old));
        m_savedEnvironment.emplace_back(name, length ? std::string(old, length) : std::string());
        SetEnvironmentVariableA(name.c_str(), value.c_str());
    }
#endif
    for (const auto& keyPath : m_keys)
        StageKey(keyPath);
    for (const auto& value : m_values)
        StageValue(value);
    for (const auto& folder : m_folders)
        StageFolder(folder);
    for (const auto& [path, bytes] : m_files)
        StageFile(path, bytes);
#ifndef _WIN32
    for (const auto& [keyPath, denial] : m_denied)
        win32sim::DenyKey({keyPath, static_cast<win32sim::Denial>(denial)});
#endif
}

void MachineBuilder::StageKey(const std::string& keyPath) {
    if (KeyExists(keyPath))
        return;
    const std::string parent = ParentOf(keyPath);
    if (!parent.empty() && parent.find('\\') != std::string::npos)
        StageKey(parent);
    HKEY root, key;
    std::string subkey;
    ASSERT_TRUE(SplitKeyPath(keyPath, &root, &subkey)) << keyPath;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr))
        << keyPath;
    RegCloseKey(key);
    // Only the topmost new key needs removing: its subtree goes with it.
    if (std::none_of(m_createdKeys.begin(), m_createdKeys.end(),
                     [&](const std::string& k) { return keyPath.rfind(k + "\\", 0) == 0; }))
        m_createdKeys.push_back(keyPath);
}

void MachineBuilder::StageValue(const ValueSpec& value) {
    const bool keyExisted = KeyExists(value.keyPath);
    StageKey(value.keyPath);
    if (keyExisted) {
        SavedValue saved{value.keyPath, value.name, false, REG_NONE, {}};
        saved.existed = ReadValue(value.keyPath, value.name, &saved.type, &saved.data);
        m_savedValues.push_back(saved);
    }
    HKEY key;
    ASSERT_TRUE(OpenKeyPath(value.keyPath, KEY_ALL_ACCESS, &key)) << value.keyPath;
    // RegSetValueExA looks one byte past string data; a non-zero guard keeps
    // text without a terminator exactly as given.
    std::vector<BYTE> guarded = value.data;
    guarded.push_back(1);
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExA(key, value.name.c_str(), 0, value.type, guarded.data(),
                             static_cast<DWORD>(value.data.size())))
        << value.keyPath << " / " << value.name;
    RegCloseKey(key);
}

void MachineBuilder::StageFolder(const std::string& path) {
    if (PathExists(path))
        return;
    const std::string parent = ParentOf(path);
    if (parent.size() > 2) // stop at "C:"
        StageFolder(parent);
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path << ": " << GetLastError();
    if (std::none_of(m_createdPaths.begin(), m_createdPaths.end(),
                     [&](const std::string& p) { return path.rfind(p + "\\", 0) == 0; }))
        m_createdPaths.push_back(path);
}

void MachineBuilder::StageFile(const std::string& path, const std::string& bytes) {
    StageFolder(ParentOf(path));
    const bool existed = PathExists(path);
    ASSERT_TRUE(WriteWholeFile(path, bytes)) << path << ": " << GetLastError();
    if (!existed)
        m_createdPaths.push_back(path);
}

void MachineBuilder::RemoveStaged() {
    if (RunningOnStandIn())
        return; // the next machine replaces this one whole
    for (auto it = m_createdPaths.rbegin(); it != m_createdPaths.rend(); ++it) {
        if (GetFileAttributesA(it->c_str()) & FILE_ATTRIBUTE_DIRECTORY)
            RemoveFolderTree(*it);
        else
            DeleteFileA(it->c_str());
    }
    for (auto it = m_savedValues.rbegin(); it != m_savedValues.rend(); ++it) {
        HKEY key;
        if (!OpenKeyPath(it->keyPath, KEY_ALL_ACCESS, &key))
            continue;
        if (it->existed)
            RegSetValueExA(key, it->name.c_str(), 0, it->type, it->data.data(),
                           static_cast<DWORD>(it->data.size()));
        else
            RegDeleteValueA(key, it->name.c_str());
        RegCloseKey(key);
    }
    for (const auto& keyPath : m_createdKeys) {
        HKEY root;
        std::string subkey;
        if (SplitKeyPath(keyPath, &root, &subkey))
            DeleteTree(root, subkey);
    }
    for (const auto& [name, value] : m_savedEnvironment)
        SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

} // namespace hmtest
