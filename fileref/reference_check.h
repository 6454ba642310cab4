// Does the file a registry value names still exist?
//
// Both checks answer in favour of presence: whatever cannot be tested safely
// (a UNC path, a drive that is not a fixed disk, a variable that did not
// expand, a text too short or too long to be a path) counts as present, so
// only certainly broken references become problems. On false the value text
// holds a "*" where the missing file's path stood, from which the problem
// record derives the repaired value; `file` holds the extracted path.
#pragma once

#include <string>

// Any value text: command lines, quoted paths, bare program names, rundll
// host commands, resource references.
bool CheckFileReference(std::string& text, std::string& file);

// Texts that begin with a drive path (optionally quoted), including lists of
// such paths separated by semicolons; anything else answers true.
bool CheckDrivePathReference(std::string& text, std::string& file);
