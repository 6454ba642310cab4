// Stub implementation: replaced by the machine loader.
#include <win32sim/machine.h>
namespace win32sim {
namespace { MachineConfig g_config; }
std::vector<std::pair<std::string, std::string>> DefaultEnvironment(const MachineConfig&) { return {}; }
void ResetMachine(const MachineConfig& config, const std::string&) { g_config = config; }
bool LoadMachine(const std::string&, std::string* error) { if (error) *error = "not implemented"; return false; }
bool LoadMachineFromEnvironment(std::string* error) { if (error) *error = "not implemented"; return false; }
bool SaveRegistry(const std::string&, std::string* error) { if (error) *error = "not implemented"; return false; }
const MachineConfig& CurrentConfig() { return g_config; }
std::string HostPathFor(const std::string&) { return {}; }
void DenyKey(const DeniedKey&) {}
PrivilegedScope::PrivilegedScope() {}
PrivilegedScope::~PrivilegedScope() {}
std::string Describe() { return "simulated Windows machine"; }
}
