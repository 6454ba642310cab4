// The commands that work on the machine's files without loading the engine:
// undo files (restore, list) and the exclusion list.
#pragma once

#include "host/arguments.h"

#include <string>

namespace host {

int RunUndo(const Options& options, const std::string& pluginPath);
int RunExclude(const Options& options, const std::string& pluginPath);

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

} // namespace host
