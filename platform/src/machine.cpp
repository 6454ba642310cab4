// The simulated machine as a whole: its configuration and its reset.
#include "codepage.h"
#include "files_hostnames.h"
#include "machine_parts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>

namespace win32sim {
namespace {

namespace fs = std::filesystem;
using Variables = std::vector<std::pair<std::string, std::string>>;

MachineConfig g_config;
bool g_machineLoaded = false;

constexpr char kDefaultUserName[] = "User";
constexpr char kComputerName[] = "DESKTOP-HM01";

std::string ValueOf(const Variables& variables, std::string_view name, std::string fallback) {
    for (const auto& [key, value] : variables) {
        if (detail::EqualAnsiNoCase(key, name))
            return value;
    }
    return fallback;
}

Variables MergedEnvironment(const MachineConfig& config) {
    Variables merged = DefaultEnvironment(config);
    for (const auto& [name, value] : config.environment) {
        bool replaced = false;
        for (auto& [key, old] : merged) {
            if (detail::EqualAnsiNoCase(key, name)) {
                old = value;
                replaced = true;
            }
        }
        if (!replaced)
            merged.emplace_back(name, value);
    }
    return merged;
}

const DriveSpec* DriveOf(const MachineConfig& config, char letter) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (const auto& drive : config.drives) {
        if (drive.letter == letter)
            return &drive;
    }
    return nullptr;
}

std::string HostPathIn(const MachineConfig& config, const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':')
        return {};
    const DriveSpec* drive = DriveOf(config, windowsPath[0]);
    if (!drive)
        return {};
    std::string host = drive->hostFolder;
    std::string name;
    auto flush = [&] {
        if (!name.empty())
            host += "/" + detail::AnsiToHostName(name);
        name.clear();
    };
    for (size_t i = 2; i < windowsPath.size(); ++i) {
        if (windowsPath[i] == '\\' || windowsPath[i] == '/')
            flush();
        else
            name.push_back(windowsPath[i]);
    }
    flush();
    return host;
}

// A fresh system drive gets the folders every Windows installation has, so
// that the paths the environment names exist.
void CreateStandardFolders(const MachineConfig& config, const Variables& environment) {
    const std::string& windows = config.windowsDir;
    std::vector<std::string> folders = {windows + "\\system32", windows + "\\SysWOW64",
                                        windows + "\\Fonts", windows + "\\ShellNew"};
    for (const char* name :
         {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "CommonProgramFiles",
          "CommonProgramFiles(x86)", "CommonProgramW6432", "ProgramData", "PUBLIC", "USERPROFILE",
          "APPDATA", "LOCALAPPDATA", "TEMP", "TMP"}) {
        folders.push_back(ValueOf(environment, name, ""));
    }
    const std::string programData = ValueOf(environment, "ProgramData", "");
    const std::string appData = ValueOf(environment, "APPDATA", "");
    folders.push_back(programData + "\\Microsoft\\Windows\\Templates");
    folders.push_back(appData + "\\Microsoft\\Windows\\Templates");
    for (const auto& folder : folders) {
        if (folder.size() > 2 &&
            detail::EqualAnsiNoCase(folder.substr(0, 2), windows.substr(0, 2))) {
            std::error_code ignored;
            fs::create_directories(HostPathIn(config, folder), ignored);
        }
    }
}

size_t CountKeys(HKEY key) {
    size_t count = 0;
    char name[256];
    for (DWORD index = 0;; ++index) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY child;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            count += 1 + CountKeys(child);
            RegCloseKey(child);
        }
    }
    return count;
}

const char* DriveTypeName(UINT type) {
    switch (type) {
    case DRIVE_FIXED:
        return "fixed";
    case DRIVE_REMOVABLE:
        return "removable";
    case DRIVE_CDROM:
        return "cdrom";
    case DRIVE_REMOTE:
        return "remote";
    case DRIVE_RAMDISK:
        return "ramdisk";
    default:
        return "unknown";
    }
}

} // namespace

Variables DefaultEnvironment(const MachineConfig& config) {
    const std::string windows = config.windowsDir;
    const std::string drive = windows.substr(0, 2);
    const std::string user = ValueOf(config.environment, "USERNAME", kDefaultUserName);
    const std::string profile = drive + "\\Users\\" + user;
    const std::string programFiles64 = drive + "\\Program Files";
    const std::string programFiles32 = drive + "\\Program Files (x86)";
    // A 32-bit process on 64-bit Windows sees the x86 folders under the plain
    // names and the native ones under the W6432 names.
    const std::string programFiles = config.wow64Process ? programFiles32 : programFiles64;
    Variables variables = {
        {"ALLUSERSPROFILE", drive + "\\ProgramData"},
        {"APPDATA", profile + "\\AppData\\Roaming"},
        {"CommonProgramFiles", programFiles + "\\Common Files"},
        {"CommonProgramFiles(x86)", programFiles32 + "\\Common Files"},
        {"CommonProgramW6432", programFiles64 + "\\Common Files"},
        {"COMPUTERNAME", kComputerName},
        {"ComSpec", windows + "\\system32\\cmd.exe"},
        {"HOMEDRIVE", drive},
        {"HOMEPATH", "\\Users\\" + user},
        {"LOCALAPPDATA", profile + "\\AppData\\Local"},
        {"NUMBER_OF_PROCESSORS", "4"},
        {"OS", "Windows_NT"},
        {"Path", windows + "\\system32;" + windows + ";" + windows + "\\System32\\Wbem;" + windows +
                     "\\System32\\WindowsPowerShell\\v1.0\\"},
        {"PATHEXT", ".COM;.EXE;.BAT;.CMD;.VBS;.VBE;.JS;.JSE;.WSF;.WSH;.MSC"},
        {"PROCESSOR_ARCHITECTURE", config.wow64Process ? "x86" : "AMD64"},
        {"ProgramData", drive + "\\ProgramData"},
        {"ProgramFiles", programFiles},
        {"ProgramFiles(x86)", programFiles32},
        {"ProgramW6432", programFiles64},
        {"PUBLIC", drive + "\\Users\\Public"},
        {"SystemDrive", drive},
        {"SystemRoot", windows},
        {"TEMP", profile + "\\AppData\\Local\\Temp"},
        {"TMP", profile + "\\AppData\\Local\\Temp"},
        {"USERDOMAIN", kComputerName},
        {"USERNAME", user},
        {"USERPROFILE", profile},
        {"windir", windows},
    };
    if (config.wow64Process)
        variables.emplace_back("PROCESSOR_ARCHITEW6432", "AMD64");
    return variables;
}

void ResetMachine(const MachineConfig& config, const std::string& scratchRoot) {
    MachineConfig fresh = config;
    if (fresh.drives.empty())
        fresh.drives.push_back(DriveSpec{});
    bool systemDriveIsFresh = false;
    for (auto& drive : fresh.drives) {
        drive.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(drive.letter)));
        if (drive.hostFolder.empty()) {
            drive.hostFolder = scratchRoot + "/drives/" + drive.letter;
            systemDriveIsFresh |= detail::EqualAnsiNoCase(std::string(1, drive.letter),
                                                          fresh.windowsDir.substr(0, 1));
        }
        std::error_code ignored;
        fs::create_directories(drive.hostFolder, ignored);
    }
    const Variables environment = MergedEnvironment(fresh);
    if (systemDriveIsFresh)
        CreateStandardFolders(fresh, environment);
    g_config = fresh;
    g_machineLoaded = true;
    detail::ResetRegistry(g_config);
    for (const auto& denied : g_config.deniedKeys)
        detail::AddKeyDenial(denied);
    detail::ResetFiles(g_config);
    detail::ResetEnvironment(environment);
}

bool IsMachineLoaded() {
    return g_machineLoaded;
}

const MachineConfig& CurrentConfig() {
    return g_config;
}

std::string HostPathFor(const std::string& windowsPath) {
    return HostPathIn(g_config, windowsPath);
}

void DenyKey(const DeniedKey& denied) {
    detail::AddKeyDenial(denied);
}

PrivilegedScope::PrivilegedScope() {
    detail::EnterRegistryPrivilege();
}

PrivilegedScope::~PrivilegedScope() {
    detail::LeaveRegistryPrivilege();
}

std::string Describe() {
    std::string text = "simulated Windows 10 x64: ";
    text += g_config.administrator ? "administrator" : "standard user";
    text += g_config.wow64Process ? ", 32-bit process (WOW64)" : ", 64-bit process";
    text += ", drives";
    for (const auto& drive : g_config.drives)
        text += std::string(" ") + drive.letter + ": " + DriveTypeName(drive.type);
    size_t keys = 0;
    {
        PrivilegedScope privileged;
        keys = CountKeys(HKEY_LOCAL_MACHINE) + CountKeys(HKEY_USERS);
    }
    return text + ", " + std::to_string(keys) + " registry keys";
}

} // namespace win32sim
