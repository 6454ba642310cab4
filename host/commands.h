// The commands beside scan and fix: undo files (restore, list) and the
// exclusion list, which work on the machine's files without the engine, and
// the page of `ui`. Their pieces serve the page too.
#pragma once

#include "host/arguments.h"

#include <atomic>
#include <string>
#include <vector>

namespace host {

int RunUndo(const Options& options, const std::string& pluginPath);
int RunExclude(const Options& options, const std::string& pluginPath);
// Serves the page until its Quit or `interrupted`; `machineLine` is what the
// CLI prints after "machine: ".
int RunUi(const Options& options, const std::string& pluginPath, const std::string& machineLine,
          const std::atomic<bool>& interrupted);

// The whole file; false when it cannot be opened.
bool ReadFileBytes(const std::string& path, std::string* bytes);

// The Windows path of the folder where the engine writes its undo files.
std::string UndoFolder(const std::string& pluginPath);
// The undo files in that folder, oldest first.
std::vector<std::string> UndoFiles(const std::string& folder);

// Undo files are named by the time of their fix ("2026-12-06 10.18.00.reg"),
// a second fix in the same second gets " (2)" and so on: true when `a` was
// written before `b`.
bool UndoFileIsOlder(const std::string& a, const std::string& b);

// Restores an undo file (a local path) into the machine and saves it;
// `said` is the line a person reads ("restored 4 keys and 3 values from ...").
bool RestoreUndoFile(const std::string& undoFile, bool force, std::string* said,
                     std::string* error);

struct UndoFileInfo {
    std::string name, path, date; // file name, local path, "2026-12-06 10:18:00"
    size_t bytes = 0;
    std::string keys, values; // what it restores; "?" when unreadable
};
// The machine's undo files, oldest first.
std::vector<UndoFileInfo> DescribeUndoFiles(const std::string& folder);

// The excluded keys of the machine's regkeys.txt.
bool ReadExclusions(const std::string& pluginPath, std::vector<std::string>* keys,
                    std::string* error);
// Adds (or removes) one key path as the exclude command does; `said` is its
// line ("excluded: ...", "already excluded: ...", "no longer excluded: ...").
bool ChangeExclusions(const std::string& pluginPath, const std::string& keyPath, bool add,
                      std::string* said, std::string* error);

} // namespace host
