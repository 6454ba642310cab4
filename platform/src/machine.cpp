// Stub implementation: replaced by the machine loader.
#include "machine_parts.h"

#include <filesystem>

namespace win32sim {
namespace {
MachineConfig g_config;
}
std::vector<std::pair<std::string, std::string>> DefaultEnvironment(const MachineConfig&) { return {}; }
void ResetMachine(const MachineConfig& config, const std::string& scratchRoot) {
    g_config = config;
    if (g_config.drives.empty())
        g_config.drives.push_back(DriveSpec{});
    for (auto& drive : g_config.drives) {
        if (drive.hostFolder.empty())
            drive.hostFolder = scratchRoot + "/drives/" + drive.letter;
        std::filesystem::create_directories(drive.hostFolder);
    }
    detail::ResetRegistry(g_config);
    for (const auto& denied : g_config.deniedKeys)
        detail::AddKeyDenial(denied);
    detail::ResetFiles(g_config);
    detail::ResetEnvironment(g_config.environment);
}
bool LoadMachine(const std::string&, std::string* error) { if (error) *error = "not implemented"; return false; }
bool LoadMachineFromEnvironment(std::string* error) { if (error) *error = "not implemented"; return false; }
bool SaveRegistry(const std::string&, std::string* error) { if (error) *error = "not implemented"; return false; }
const MachineConfig& CurrentConfig() { return g_config; }
std::string HostPathFor(const std::string&) { return {}; }
void DenyKey(const DeniedKey& denied) { detail::AddKeyDenial(denied); }
PrivilegedScope::PrivilegedScope() { detail::EnterRegistryPrivilege(); }
PrivilegedScope::~PrivilegedScope() { detail::LeaveRegistryPrivilege(); }
std::string Describe() { return "simulated Windows machine"; }
}
