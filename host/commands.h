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

// The Windows path of the folder where the engine writes its undo files.
std::string UndoFolder(const std::string& pluginPath);
// The names of the undo files in that folder, in no particular order.
std::vector<std::string> UndoFiles(const std::string& folder);

// Writes `bytes` to the file `temporary` and renames it over `path` (local
// paths), so a reader finds the old content or the new, never a part.
bool WriteFileAtomically(const std::string& path, const std::string& temporary,
                         const std::string& bytes, std::string* error);

// The undo journal, beside the undo files, orders fixes as they happened and
// knows which reached the machine and which were restored; only a command
// holding the machine's lock writes it. A fix begins it (when missing)
// before the engine runs, and records its undo file once its save is
// complete; a restore records the file restored.
bool BeginUndoJournal(const std::string& folder, std::string* error);
bool RecordInJournal(const std::string& folder, const std::string& name, bool restored,
                     std::string* error);

// Restores an undo file (a local path) into the machine and saves it;
// `said` is the line a person reads ("restored 4 keys and 3 values from ...").
bool RestoreUndoFile(const std::string& undoFile, bool force, std::string* said,
                     std::string* error);

enum class UndoState { Fixed, Restored };

struct UndoFileInfo {
    std::string name, path, date; // file name, local path, "2026-12-06 10:18:00"
    size_t bytes = 0;
    std::string keys, values; // what it restores; "?" when unreadable
    UndoState state = UndoState::Fixed;
    std::string restored; // when (UTC), for a restored one
};
// The machine's undo files in the order of their fixes: those of the
// journal, then those it lacks by the time they were written. Files of
// fixes that never reached the machine (a save that failed, a fix stopped or
// killed first) are left out and counted in `unfinished`.
std::vector<UndoFileInfo> DescribeUndoFiles(const std::string& folder,
                                            size_t* unfinished = nullptr);

// The excluded keys of the machine's regkeys.txt.
bool ReadExclusions(const std::string& pluginPath, std::vector<std::string>* keys,
                    std::string* error);
// Adds (or removes) one key path as the exclude command does; `said` is its
// line ("excluded: ...", "already excluded: ...", "no longer excluded: ...").
bool ChangeExclusions(const std::string& pluginPath, const std::string& keyPath, bool add,
                      std::string* said, std::string* error);

} // namespace host
