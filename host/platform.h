// What the host does differently on Windows and on Linux: loading the
// plug-in, and the machine it works on (the real one on Windows, a simulated
// machine folder elsewhere). One implementation file per platform.
#pragma once

#include "engine/cloud_plugin.h"

#include <memory>
#include <string>
#include <vector>

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

// One writer per machine. Every command that changes the machine (fix, undo,
// exclude, export-machine's target) holds it from before it reads the
// machine until its save is complete, so two processes never save over each
// other. On Linux it is a lock file in the machine folder (a volume: beside
// its SOFTWARE hive), which outlives the renames of a save; on Windows a
// named mutex. Released when destroyed. Scans take none.
class MachineLock {
public:
    virtual ~MachineLock() = default;
};

// Takes the lock of the machine `options` names (the scratch copy of the
// demo machine is ours alone: a lock that holds nothing). `command` ("fix",
// "undo"...) is what a second process is told holds it. With `wait` it
// waits for the holder; without, a busy machine gives null and a one-line
// `error` naming the holder's command and process when known.
std::unique_ptr<MachineLock> LockMachine(const MachineOptions& options, const std::string& command,
                                         bool wait, std::string* error);

// Makes the machine ready before the plug-in loads. On Linux this loads a
// simulated machine (a scratch copy of the demo when none is named); on
// Windows the real machine needs nothing. `description` says which.
// Called under the machine's lock, it first completes or removes what a
// save that died halfway left behind.
bool PrepareMachine(const MachineOptions& options, std::string* description, std::string* error);

// Reads the prepared machine from disk again, dropping what this process
// held in memory: a long-running host calls it under the lock before each
// change, so it never saves over what another process wrote meanwhile.
// Nothing to do on Windows, whose registry is live.
bool ReloadMachine(std::string* error);

// Opens `url` in the default browser; false when no opener is available.
bool OpenInBrowser(const std::string& url);

// Whether the keys at `keyPaths` may be changed now; false with the reason
// when not (on Linux, a Windows volume that is hibernated, or a hive they
// are in that was not cleanly shut down, without `force`, or cannot be
// written). Asked before a fix or an undo starts, so a refused machine gets
// no undo file and no change.
bool MachineAcceptsChanges(bool force, const std::vector<std::string>& keyPaths,
                           std::string* error);

// Persists registry changes made by a fix or an undo (a simulated machine's
// machine.reg, written atomically, or a Windows volume's hives); nothing to
// do on Windows.
bool SaveMachine(std::string* error);

// True where the engine changes the registry itself (Windows): a change is
// on the machine once made, with no save of the host's to complete it.
bool RegistryIsLive();

// Writes the installation on the Windows volume `volume` as a machine folder
// `out` whose drive C is the volume, holding the lock of `out`. Refuses an
// `out` inside the volume, and one that holds files unless `force`. `note`
// says what of the volume the folder could not take (empty when nothing).
// Not available on Windows.
bool ExportMachine(const std::string& volume, const std::string& out, bool force, bool wait,
                   std::string* note,
                   std::string* error);

// Removes the scratch copy of the demo machine a scan worked on; a fix keeps
// its copy, which holds the undo file. Nothing to do for a named machine.
void DiscardScratchMachine();

// True on the scratch copy of the demo machine, which is the same at every
// run, so a fix there may take the ids of a scan it did not remember.
bool MachineIsScratchCopy();

// The Windows path of the plug-in's folder as the engine sees it.
std::string PluginWindowsFolder(const std::string& pluginPath);

// A command-line argument as UTF-8: on Windows the arguments arrive in the
// ANSI code page, elsewhere in UTF-8 already.
std::string Utf8FromArgument(const std::string& argument);

// The current user's SID ("S-1-5-21-..."), the name of the user's hive
// below HKEY_USERS; empty when it cannot be read.
std::string CurrentUserSid();

// A path a person can open on this computer for a Windows path of the machine.
std::string LocalPathFor(const std::string& windowsPath);

} // namespace host
