// Taking a registry value's text apart into the one file path it names.
//
// Values that refer to files rarely hold a clean path: they hold command
// lines with arguments, a rundll host with its library, resource references,
// lists separated by semicolons and kernel-style paths. These operations
// reduce such texts by their shape (extension dots, delimiters, characters no
// file name may hold) and, where the shape does not decide, by asking the
// file system whether a prefix exists. All text is ANSI/multibyte; indexes
// are byte offsets.
#pragma once

#include <string>

// Characters that may end a file path and start an argument.
bool IsPathDelimiter(char c);
// Characters no file name may hold: the path ends before them.
bool IsNameBreaking(char c);

// Reduces `text` to the file path it starts with. False when no end of the
// path was found; `text` is then unchanged.
bool ExtractCommandPath(std::string& text);

// A text that (after an optional double quote and blanks) starts with "\\"
// or with "X:\". `driveLetter` receives X, or 0 for a UNC path.
bool IsRootedPath(const std::string& text, char& driveLetter);
bool IsRootedPath(const std::string& text);

// The whole name is one of the rundll host's spellings.
bool IsRundllHost(const std::string& name);

// From the last dot of the file-name part to the end, dot included; a dot at
// index 0 does not count.
bool GetFileExtension(const std::string& path, std::string& extension);
// One of the extensions of programs, libraries, drivers, help and font files.
bool HasKnownFileExtension(const std::string& path);
// The text after the last backslash, or the whole text.
std::string GetFileNamePart(const std::string& path);

// Rewrites "\SystemRoot\..." and device-prefixed paths ("\??\C:\...") into
// drive paths. True when a rule applied.
bool ExpandSystemRootPath(std::string& path);
