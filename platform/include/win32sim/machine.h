// Control surface of the simulated Windows machine (Linux builds only).
//
// The stand-in answers every Win32 call from one process-wide machine: a
// registry tree, drive letters mapped to host folders, an environment and a
// few identity flags. Tests build one in code (tests/support) or load a
// machine folder (machine/); the host loads a machine folder. Nothing here
// exists on Windows, so engine code never includes this header.
#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace win32sim {

struct DriveSpec {
    char letter = 'C';       // upper case
    UINT type = DRIVE_FIXED; // DRIVE_FIXED, DRIVE_REMOVABLE, DRIVE_CDROM, DRIVE_REMOTE, ...
    std::string hostFolder;  // the host folder that holds the drive's root
};

// What the simulated user may not do on one key (and, for open/read, below it
// only where the key's own subkeys are opened through it).
enum class Denial { Open, Read, Write };

struct DeniedKey {
    std::string keyPath; // full key path text, e.g. HKEY_LOCAL_MACHINE\SOFTWARE\Locked
    Denial denial = Denial::Open;
};

struct MachineConfig {
    bool administrator = true;
    bool wow64Process = true; // a 32-bit process on 64-bit Windows
    std::string windowsDir = "C:\\Windows";
    std::string pluginPath = "C:\\Program Files (x86)\\Hivemender\\hivemender.dll";
    std::string currentUserSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
    std::vector<DriveSpec> drives; // empty: C: fixed only
    std::vector<std::pair<std::string, std::string>>
        environment; // added to / replacing the defaults
    std::vector<DeniedKey> deniedKeys;
};

// The environment a 32-bit process on 64-bit Windows 10 sees for `config`
// (SystemRoot, windir, Path, ProgramFiles, ProgramFiles(x86), TEMP, ...),
// before config.environment is applied.
std::vector<std::pair<std::string, std::string>> DefaultEnvironment(const MachineConfig& config);

// Replaces the whole machine: an empty registry (with the standard root keys
// and the current user's hive), the drives, the environment and the flags.
// A drive with an empty hostFolder gets a fresh folder under `scratchRoot`.
void ResetMachine(const MachineConfig& config, const std::string& scratchRoot);

// Whether ResetMachine (or a machine folder's load) has set up a machine.
bool IsMachineLoaded();

const MachineConfig& CurrentConfig();

// Maps a Windows path of the machine to the host path that holds it; empty
// when the drive is not mapped. No case folding: for setting up files.
std::string HostPathFor(const std::string& windowsPath);

// Denies the user something on a key from now on (tests use it after staging).
void DenyKey(const DeniedKey& denied);

// Switches the denial checks off while the machine itself writes its registry
// (loading machine.reg, fixtures staging keys).
class PrivilegedScope {
public:
    PrivilegedScope();
    ~PrivilegedScope();
    PrivilegedScope(const PrivilegedScope&) = delete;
    PrivilegedScope& operator=(const PrivilegedScope&) = delete;
};

// Test hooks of the identity functions: one step of an administrator check
// made to fail, and a count of self-impersonations, so that tests can prove
// the check cleans up after every failure and how often it runs.
enum class SecurityFault {
    None,
    OpenThreadToken,          // fails with ERROR_ACCESS_DENIED
    AllocateAndInitializeSid, // fails with ERROR_NOT_ENOUGH_MEMORY
    AccessCheck,              // fails with ERROR_ACCESS_DENIED
};
void SetSecurityFault(SecurityFault fault);
// How many times ImpersonateSelf has succeeded in this process.
unsigned long ImpersonationCount();

// Test hook of the file functions: a disk that fails, or a process killed,
// at any one step of a writer. WriteFile and MoveFileExA calls are counted
// (all threads) from the arming on; the `nth` fails with `error` and nothing
// reaches the disk. With `everyAfter`, so does every later one: a disk that
// stays full, or a process that died there, after which nothing it would
// have written reaches the disk. `nth` 0 disarms it. A program started with
// HM_SIM_WRITE_FAULT=N (or N+ for every one from the Nth) starts armed.
struct FileWriteFault {
    unsigned long nth = 0;
    bool everyAfter = false;
    DWORD error = 112; // ERROR_DISK_FULL
};
void SetFileWriteFault(const FileWriteFault& fault);
// How many writes and renames were counted since the last SetFileWriteFault.
unsigned long FileWritesCounted();

// A tally of the questions asked of the file system (GetFileAttributesA and
// FindFirstFileA) while it runs: every call, and the distinct path texts
// asked about, letter case ignored. For measuring how often a scan asks
// about the same file; it costs one flag test per call while stopped.
struct FileQueryTally {
    unsigned long long calls = 0;
    unsigned long long distinctPaths = 0;
    std::vector<std::string> paths; // each distinct path once, as first asked
};
// Starts a tally afresh (a running one is restarted).
void StartFileQueryTally();
// Stops counting and returns what was counted since the start.
FileQueryTally StopFileQueryTally();

// One line describing the machine, for the host's and the demo's banners.
std::string Describe();

} // namespace win32sim
