// regkeys.txt as the exclude command edits it: one key path a line, in
// whatever encoding and line ends the person's editor saved it, both kept.
#pragma once

#include <string>
#include <vector>

namespace host {

struct ExclusionFile {
    enum class Encoding { Bytes, Utf16Le }; // Bytes: ANSI, or UTF-8 after its mark
    Encoding encoding = Encoding::Bytes;
    std::string mark;             // the byte-order mark, if the file has one
    std::string lineEnd = "\r\n"; // the file's own; CR LF for a new file
    std::vector<std::string> lines;
    bool endsWithLineEnd = true;
};

ExclusionFile ParseExclusionFile(const std::string& bytes);
std::string SerializeExclusionFile(const ExclusionFile& file);

// The lines that name keys (not comments, section headers or blank lines).
std::vector<std::string> ExcludedKeys(const ExclusionFile& file);

// "HKEY_LOCAL_MACHINE\..." for a key path with a long or short root name and
// no trailing backslash; empty, with `error` set, for anything the engine
// could not match.
std::string ExclusionKeyPath(const std::string& keyPath, std::string* error);

// False when the key is listed already (any letter case, any marker).
bool AddExclusion(ExclusionFile* file, const std::string& keyPath);
// False when the key is not listed.
bool RemoveExclusion(ExclusionFile* file, const std::string& keyPath);

} // namespace host
