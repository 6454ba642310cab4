// What the host does differently on Windows and on Linux: loading the
// plug-in, and the machine it works on (the real one on Windows, a simulated
// machine folder elsewhere). One implementation file per platform.
#pragma once

#include "engine/cloud_plugin.h"

#include <memory>
#include <string>

namespace host {

class PluginLibrary {
public:
    virtual ~PluginLibrary() = default;
    virtual GetPluginEngineFn Entry() const = 0;
};

// Loads a plug-in by path. Null with `error` set when it cannot be loaded or
// lacks GetPluginEngine.
std::unique_ptr<PluginLibrary> LoadPlugin(const std::string& path, std::string* error);

// The engine built beside this program.
std::string DefaultPluginPath();

bool IsTerminal(int fd);

// The width of the terminal on stdout; 0 when stdout is no terminal.
size_t TerminalColumns();

// Whether the terminal on stdout shows ANSI colour sequences (on Windows,
// a console that could be switched to them).
bool TerminalTakesColour();

// Makes stdout pass bytes through untouched (on Windows it turns LF into
// CR LF otherwise).
void UseBinaryOutput();

// Puts `source` in place of `target` in one step (both local paths), so a
// reader sees either the old file or the new one.
bool ReplaceFile(const std::string& source, const std::string& target, std::string* error);

struct MachineOptions {
    std::string folder; // --machine; empty: HIVEMENDER_MACHINE, then the demo machine
    bool force = false; // --force: write into a Windows volume that looks in use
};

// Makes the machine ready before the plug-in loads. On Linux this loads a
// simulated machine (a scratch copy of the demo when none is named); on
// Windows the real machine needs nothing. `description` says which.
bool PrepareMachine(const MachineOptions& options, std::string* description, std::string* error);

// Whether the machine may be changed now; false with the reason when not
// (on Linux, a Windows volume that is hibernated, not cleanly shut down
// without `force`, or whose hives cannot be written). Asked before a fix or
// an undo starts, so a refused machine gets no undo file and no change.
bool MachineAcceptsChanges(bool force, std::string* error);

// Persists registry changes made by a fix or an undo (a simulated machine's
// machine.reg, written atomically, or a Windows volume's hives); nothing to
// do on Windows.
bool SaveMachine(std::string* error);

// Writes the installation on the Windows volume `volume` as a machine folder
// `out` whose drive C is the volume; `note` says what of the volume the
// folder could not take (empty when nothing). Not available on Windows.
bool ExportMachine(const std::string& volume, const std::string& out, std::string* note,
                   std::string* error);

// Removes the scratch copy of the demo machine a scan worked on; a fix keeps
// its copy, which holds the undo file. Nothing to do for a named machine.
void DiscardScratchMachine();

// The Windows path of the plug-in's folder as the engine sees it.
std::string PluginWindowsFolder(const std::string& pluginPath);

// A path a person can open on this computer for a Windows path of the machine.
std::string LocalPathFor(const std::string& windowsPath);

} // namespace host
