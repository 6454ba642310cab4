// The steps every way of loading a machine shares (machine folders and
// Windows volumes): settings from machine.ini, and the swap of the whole
// machine that puts the previous one back when the new registry does not
// apply.
#pragma once

#include "regfile/regfile.h"

#include <win32sim/machine.h>

#include <functional>
#include <string>
#include <utility>

namespace win32sim {

// Sets `error`, when there is one, and returns false: how every step of a
// load reports what stopped it.
inline bool Fail(std::string* error, std::string message) {
    if (error)
        *error = std::move(message);
    return false;
}

// Applies `folder`/machine.ini, when there is one, over `config` (whose
// drives are already set), then checks that a drive holds the Windows folder.
bool ApplyMachineIniFile(const std::string& folder, MachineConfig* config, std::string* error);

// Applies each key as soon as it is read (a machine.reg's text, a hive's
// nodes), so that no script as large as the registry is ever held; a key
// that does not apply stops the read with "<sourceName>: <what failed>".
// Apply within a PrivilegedScope, as a machine's own registry is written.
class RegistryBuilder : public regfile::KeyReceiver {
public:
    explicit RegistryBuilder(std::string sourceName) : m_sourceName(std::move(sourceName)) {}
    bool Take(regfile::KeyOp& key, bool wide, std::string* error) override;

private:
    std::string m_sourceName;
    regfile::KeyApplier m_applier;
};

// Resets the machine to `config` and has `fillRegistry` fill its registry
// (a machine.reg is parsed as it is applied, so a fault in its text or
// hives may be found once keys before it are in). When that fails, the
// previous machine is put back and `error` is what `fillRegistry` said.
bool ReplaceMachine(const MachineConfig& config,
                    const std::function<bool(std::string* error)>& fillRegistry,
                    std::string* error);

} // namespace win32sim
