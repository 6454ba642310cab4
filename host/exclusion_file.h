// The exclude command's edits of regkeys.txt (its format, shared with the
// engine: registry/exclusion_format.h). Every line it adds is one the
// engine reads back as exactly the key the user named; every line it
// removes is one that the engine obeys for that key.
#pragma once

#include "registry/exclusion_format.h"

#include <string>
#include <vector>

namespace host {

// "HKEY_LOCAL_MACHINE\..." for a key path with a long or short root name and
// no trailing backslash; empty, with `error` set, for anything the engine
// could not match.
std::string ExclusionKeyPath(const std::string& keyPath, std::string* error);

// The line (ANSI code page) for a key path as ExclusionKeyPath gives it, in
// UTF-8. The engine walks users' hives only under HKEY_USERS, so
// HKEY_CURRENT_USER becomes the hive of `currentUserSid`. Empty, with
// `error` set, for a key no line can name.
std::string ExclusionLine(const std::string& keyPath, const std::string& currentUserSid,
                          std::string* error);

// The first line that keeps the line's key out (naming it or an ancestor);
// the file's line count when none does.
size_t CoveringLine(const ExclusionFile& file, const std::string& ansiLine);
void AppendLine(ExclusionFile* file, const std::string& ansiLine);
// Removes every line naming the line's key; how many went.
size_t RemoveLines(ExclusionFile* file, const std::string& ansiLine);

// The lines that name keys, in UTF-8.
std::vector<std::string> ExcludedKeys(const ExclusionFile& file);
std::string Utf8Line(const ExclusionFile& file, size_t index);

} // namespace host
