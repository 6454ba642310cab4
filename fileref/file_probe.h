// Does this file, directory or registry class exist?
//
// A 32-bit engine on 64-bit Windows sees a redirected system folder and a
// redirected registry, so the probes look a second time with file-system
// redirection switched off, and the registry tests look under Wow6432Node as
// well as in the native view. Anything that cannot be examined (access
// denied, bad syntax, an unreadable share) counts as absent.
//
// The search directories and the fixed-drive mask are process-wide tables,
// filled on first use and kept. The first user fills them under a lock;
// once filled they never change and are read without one, so two engines
// scanning at once in the same process share them safely.
#pragma once

#include <windows.h>

#include <span>
#include <string>

// True when `path`, or one of its fallback forms (redirection off; "Program
// Files (x86)" read as "Program Files"; the name with any extension), exists.
// `attributes` receives the attribute word of what was found, or
// INVALID_FILE_ATTRIBUTES.
bool ProbeFile(const std::string& path, DWORD& attributes);

// Where a loader looks for a file a registration names: `name` joined to
// each of `folders` in turn, probed as ProbeFile does; true at the first
// found.
bool FoundInFolders(const std::string& name, std::span<const std::string> folders);
// The text as given first (a full path), then in the folders.
bool FoundAsGivenOrInFolders(const std::string& path, std::span<const std::string> folders);

// True when a file of that name lies in a search directory (system and
// Windows folders, the Path variable) or is registered under App Paths. A
// drive path is probed as it is. The place where it was found is not kept.
bool SearchFile(const std::string& name);

// True when `name` lies in a language folder below `folder`
// (`folder`\mui\0409\`name`), where the MUI loader finds a localised help
// file registered for the folder above it.
bool FoundInLanguageFolder(const std::string& folder, const std::string& name);

// The drive letters that were fixed disks when first asked (bit 0 = A).
bool GetFixedDriveMask(DWORD& mask);
bool IsFixedDrive(char letter);

// A path whose absence proves nothing: a UNC path (a share may be offline),
// a drive that is not a fixed disk (a stick may be unplugged), or a text
// that still begins with a variable that did not expand. Scanners that probe
// a path themselves rather than through the value check leave these alone.
bool IsOutOfReach(const std::string& path);

// The key `parent`\`name` (or `name`) exists below HKEY_CLASSES_ROOT in the
// native view or below its Wow6432Node.
// Within a scan the answer is remembered (see CScanFileCache).
bool ClassesKeyExists(const std::string& name, const std::string& parent);
// The class is listed below HKEY_LOCAL_MACHINE ...\ExtShellViews.
bool ExtShellViewExists(const std::string& name);

// Forgets the process-wide tables, so the next use reads the machine afresh.
// For a host that replaces the machine under a running process (the tests'
// simulated machines); never called by a scan.
void ForgetFileSearchTables();
