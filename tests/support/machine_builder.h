// Builds the Windows machine an engine test needs, in code.
//
// Natively it makes a whole new simulated machine (registry, drives, files,
// environment, administrator flag, denied keys). In the Windows builds, run
// under Wine, it stages what it can in the real registry and file system of
// the prefix (keys at their real paths, files on drive C:) and removes all
// of it again when the builder is destroyed. A setting Wine cannot stage (a
// non-administrator, another drive type, a denied key, a 32-bit process on
// 64-bit Windows) makes Build() skip the test with the reason printed.
//
//   hmtest::MachineBuilder machine;
//   machine.String("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App", "Path", "C:\\App\\app.exe")
//          .File("C:\\App\\app.exe");
//   RETURN_UNLESS_BUILT(machine); // Build(), and the test ends if that failed or skipped
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace hmtest {

enum class KeyDenial { Open, Read, Write };

class MachineBuilder {
public:
    MachineBuilder();
    ~MachineBuilder();
    MachineBuilder(const MachineBuilder&) = delete;
    MachineBuilder& operator=(const MachineBuilder&) = delete;

    // Settings. Under Wine each must match what the prefix already is.
    MachineBuilder& Administrator(bool isAdministrator);
    MachineBuilder& Wow64Process(bool is32BitOn64BitWindows);
    MachineBuilder& Drive(char letter, UINT driveType);
    MachineBuilder& Environment(const std::string& name, const std::string& value);
    MachineBuilder& Deny(const std::string& keyPath, KeyDenial denial);
    // The plug-in's Windows path (GetModuleFileNameA of the engine's module).
    MachineBuilder& PluginPath(const std::string& windowsPath);

    // Registry content; key paths are full texts (HKEY_LOCAL_MACHINE\..., HKEY_USERS\...,
    // HKEY_CURRENT_USER\..., HKEY_CLASSES_ROOT\...). Parent keys are created.
    MachineBuilder& Key(const std::string& keyPath);
    MachineBuilder& Value(const std::string& keyPath, const std::string& name, DWORD type,
                          const std::vector<BYTE>& data);
    MachineBuilder& String(const std::string& keyPath, const std::string& name,
                           const std::string& text, DWORD type = REG_SZ);
    MachineBuilder& Dword(const std::string& keyPath, const std::string& name, DWORD value);

    // File system content (Windows paths); parent folders are created.
    MachineBuilder& File(const std::string& path, const std::string& bytes = "");
    MachineBuilder& Folder(const std::string& path);

    // Makes the machine. Uses GoogleTest assertions: a failure is fatal for
    // the test, an unstageable setting under Wine skips it.
    void Build();

    // The current user's SID (HKEY_USERS\<sid> is HKEY_CURRENT_USER).
    std::string CurrentUserSid() const;

private:
    struct ValueSpec {
        std::string keyPath, name;
        DWORD type;
        std::vector<BYTE> data;
    };
    struct SavedValue {
        std::string keyPath, name;
        bool existed;
        DWORD type;
        std::vector<BYTE> data;
    };

    void StageKey(const std::string& keyPath);
    void StageValue(const ValueSpec& value);
    void StageFolder(const std::string& path);
    void StageFile(const std::string& path, const std::string& bytes);
    void RemoveStaged();
    bool CheckStageable();

    std::vector<std::string> m_unstageable; // reasons, under Wine
    std::vector<std::string> m_keys;
    std::vector<ValueSpec> m_values;
    std::vector<std::pair<std::string, std::string>> m_files; // path, bytes
    std::vector<std::string> m_folders;
    bool m_administrator = true;
    bool m_wow64Process = true;
    std::vector<std::pair<char, UINT>> m_drives;
    std::vector<std::pair<std::string, std::string>> m_environment;
    std::vector<std::pair<std::string, KeyDenial>> m_denied;
    std::string m_pluginPath; // empty: the stand-in's default

    // What staging created or replaced on a real registry, for removal.
    std::vector<std::string> m_createdKeys;  // topmost keys that did not exist
    std::vector<SavedValue> m_savedValues;   // values in keys that did exist
    std::vector<std::string> m_createdPaths; // files and topmost new folders
    std::vector<std::pair<std::string, std::string>> m_savedEnvironment;
    bool m_built = false;
};

// Reads a value as stored: type and raw bytes. False when it does not exist.
bool ReadValue(const std::string& keyPath, const std::string& name, DWORD* type,
               std::vector<BYTE>* data);
bool KeyExists(const std::string& keyPath);
// A value's data up to its first zero byte; "(none)" when it does not exist.
std::string ReadText(const std::string& keyPath, const std::string& name);

// Every key and value below (and including) a key, as text with one line per
// key and per value (type and bytes), sorted, so two states compare whole.
std::string SnapshotTree(const std::string& keyPath);

} // namespace hmtest

// Builds `machine`; the test ends here when that failed, or skipped it under Wine.
#define RETURN_UNLESS_BUILT(machine)                                                               \
    do {                                                                                           \
        (machine).Build();                                                                         \
        if (HasFatalFailure() || IsSkipped())                                                      \
            return;                                                                                \
    } while (0)
