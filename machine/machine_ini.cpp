#include "machine/machine_ini.h"

#include "base/text.h"

#include <win32sim/text.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <map>

namespace win32sim {
namespace {

std::string Trim(std::string_view text) {
    return std::string(base::Trim(text, " \t\r"));
}

// One pair of surrounding double quotes keeps blanks at either end.
std::string Unquote(std::string value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

// Setting words are ASCII.
std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

const std::map<std::string, UINT> kDriveTypes = {
    {"fixed", DRIVE_FIXED},     {"removable", DRIVE_REMOVABLE}, {"cdrom", DRIVE_CDROM},
    {"cd-rom", DRIVE_CDROM},    {"remote", DRIVE_REMOTE},       {"network", DRIVE_REMOTE},
    {"ramdisk", DRIVE_RAMDISK}, {"unknown", DRIVE_UNKNOWN}};

class IniReader {
public:
    IniReader(std::string sourceName, std::string machineFolder, MachineConfig* config)
        : m_source(std::move(sourceName)), m_folder(std::move(machineFolder)), m_config(config) {}

    bool Read(const std::string& text, std::string* error) {
        size_t start = 0;
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
            start = 3; // a BOM left by a Windows editor
        for (int line = 1; start <= text.size(); ++line) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            m_line = line;
            if (!ReadLine(Trim(std::string_view(text).substr(start, end - start)))) {
                *error = m_source + ":" + std::to_string(m_line) + ": " + m_problem;
                return false;
            }
            start = end + 1;
        }
        return true;
    }

private:
    bool Problem(std::string what) {
        m_problem = std::move(what);
        return false;
    }

    bool ReadLine(const std::string& line) {
        if (line.empty() || line[0] == ';' || line[0] == '#')
            return true;
        if (line.front() == '[') {
            if (line.back() != ']')
                return Problem("section header without ']'");
            m_section = Lower(Trim(std::string_view(line).substr(1, line.size() - 2)));
            if (m_section != "machine" && m_section != "drives" && m_section != "environment" &&
                m_section != "denied")
                return Problem("unknown section [" + m_section + "]");
            return true;
        }
        if (m_section.empty())
            return Problem("a setting before the first [section]");
        // Key paths may hold '='; the denial word after the last one never does.
        const size_t equals = m_section == "denied" ? line.rfind('=') : line.find('=');
        if (equals == std::string::npos)
            return Problem("expected name=value");
        const std::string key = Trim(std::string_view(line).substr(0, equals));
        const std::string value =
            HostNameToAnsi(Unquote(Trim(std::string_view(line).substr(equals + 1))));
        if (key.empty())
            return Problem("empty name before '='");
        if (m_section == "machine")
            return MachineSetting(Lower(key), value);
        if (m_section == "drives")
            return DriveSetting(key, value);
        if (m_section == "environment")
            return EnvironmentSetting(HostNameToAnsi(key), value);
        return DeniedSetting(HostNameToAnsi(key), Lower(value));
    }

    bool Flag(const std::string& value, bool* flag) {
        const std::string word = Lower(value);
        if (word == "yes" || word == "true" || word == "1" || word == "on")
            *flag = true;
        else if (word == "no" || word == "false" || word == "0" || word == "off")
            *flag = false;
        else
            return Problem("expected yes or no, not '" + value + "'");
        return true;
    }

    static bool IsDrivePath(const std::string& value) {
        return value.size() >= 3 && std::isalpha(static_cast<unsigned char>(value[0])) &&
               value[1] == ':' && value[2] == '\\';
    }

    bool MachineSetting(const std::string& key, const std::string& value) {
        if (key == "administrator")
            return Flag(value, &m_config->administrator);
        if (key == "wow64")
            return Flag(value, &m_config->wow64Process);
        if (key == "windows" || key == "plugin") {
            if (!IsDrivePath(value))
                return Problem(key + " must be a full path such as C:\\Windows, not '" + value +
                               "'");
            std::string folder = value;
            while (folder.size() > 3 && folder.back() == '\\')
                folder.pop_back();
            (key == "windows" ? m_config->windowsDir : m_config->pluginPath) = folder;
            return true;
        }
        if (key == "user-sid") {
            if (value.rfind("S-1-", 0) != 0)
                return Problem("user-sid must look like S-1-5-21-..., not '" + value + "'");
            m_config->currentUserSid = value;
            return true;
        }
        return Problem("unknown setting '" + key + "' in [machine]");
    }

    static bool DriveType(const std::string& name, UINT* type) {
        auto it = kDriveTypes.find(name);
        if (it == kDriveTypes.end())
            return false;
        *type = it->second;
        return true;
    }

    bool DriveSetting(const std::string& key, const std::string& value) {
        if (key.size() != 1 || !std::isalpha(static_cast<unsigned char>(key[0])))
            return Problem("a drive is one letter, not '" + key + "'");
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(key[0])));
        const size_t comma = value.find(',');
        UINT type = DRIVE_FIXED;
        const std::string typeName = Lower(Trim(value.substr(0, comma)));
        if (!DriveType(typeName, &type))
            return Problem("unknown drive type '" + typeName +
                           "' (fixed, removable, cdrom, remote, ramdisk or unknown)");
        std::filesystem::path host =
            std::filesystem::path(m_folder) / "drives" / std::string(1, letter);
        if (comma != std::string::npos) {
            const std::string given = Trim(value.substr(comma + 1));
            if (given.empty())
                return Problem("empty host folder for drive " + std::string(1, letter) + ":");
            host = std::filesystem::path(given).is_absolute()
                       ? std::filesystem::path(given)
                       : std::filesystem::path(m_folder) / given;
        }
        std::error_code ignored;
        if (!std::filesystem::is_directory(host, ignored))
            return Problem("drive " + std::string(1, letter) + ": has no folder " + host.string());
        for (auto& drive : m_config->drives) {
            if (drive.letter == letter) {
                drive.type = type;
                drive.hostFolder = host.string();
                return true;
            }
        }
        m_config->drives.push_back(DriveSpec{letter, type, host.string()});
        return true;
    }

    bool EnvironmentSetting(const std::string& name, const std::string& value) {
        for (auto& [existing, old] : m_config->environment) {
            if (EqualAnsiNoCase(existing, name)) {
                old = value;
                return true;
            }
        }
        m_config->environment.emplace_back(name, value);
        return true;
    }

    bool DeniedSetting(const std::string& keyPath, const std::string& word) {
        Denial denial;
        if (word == "open")
            denial = Denial::Open;
        else if (word == "read")
            denial = Denial::Read;
        else if (word == "write")
            denial = Denial::Write;
        else
            return Problem("a denial is open, read or write, not '" + word + "'");
        if (UpperAnsi(keyPath).rfind("HKEY_", 0) != 0)
            return Problem(
                "a denied key is a full key path such as HKEY_LOCAL_MACHINE\\SOFTWARE\\X");
        m_config->deniedKeys.push_back(DeniedKey{keyPath, denial});
        return true;
    }

    std::string m_source;
    std::string m_folder;
    MachineConfig* m_config;
    std::string m_section;
    std::string m_problem;
    int m_line = 0;
};

std::string DriveTypeName(UINT type) {
    for (const auto& [name, value] : kDriveTypes) {
        if (value == type)
            return name;
    }
    return "unknown";
}

// Quoted, so blanks at either end survive the reader's trimming; the
// reader takes UTF-8, the machine's text is 1252.
std::string IniLine(const std::string& name, const std::string& value) {
    return AnsiToHostName(name) + " = \"" + AnsiToHostName(value) + "\"\n";
}

} // namespace

std::string MachineIniText(const MachineConfig& config) {
    static const char* const kDenials[] = {"open", "read", "write"};
    std::string text = "[machine]\n";
    text += IniLine("administrator", config.administrator ? "yes" : "no");
    text += IniLine("wow64", config.wow64Process ? "yes" : "no");
    text += IniLine("windows", config.windowsDir);
    text += IniLine("plugin", config.pluginPath);
    text += IniLine("user-sid", config.currentUserSid);
    text += "\n[drives]\n";
    for (const DriveSpec& drive : config.drives)
        text += std::string(1, drive.letter) + " = " + DriveTypeName(drive.type) + ", " +
                drive.hostFolder + "\n";
    text += "\n[environment]\n";
    for (const auto& [name, value] : config.environment)
        text += IniLine(name, value);
    text += "\n[denied]\n";
    for (const DeniedKey& denied : config.deniedKeys)
        text += AnsiToHostName(denied.keyPath) + " = " + kDenials[static_cast<int>(denied.denial)] +
                "\n";
    return text;
}

bool ApplyMachineIni(const std::string& text, const std::string& sourceName,
                     const std::string& machineFolder, MachineConfig* config, std::string* error) {
    std::string ignored;
    return IniReader(sourceName, machineFolder, config).Read(text, error ? error : &ignored);
}

} // namespace win32sim
