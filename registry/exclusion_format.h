// "regkeys.txt", the user's list of keys kept out of every scan: the one
// reading of its bytes that both the engine (which obeys it) and the host
// (which edits it) go by, so that what the host writes is what the engine
// reads.
//
// The file is ANSI, or UTF-8 or UTF-16 (either byte order) after a
// byte-order mark, its lines ending in CR LF, LF or a lone CR. The engine
// reads each line in the ANSI code page, up to a NUL and cut after 1,023
// bytes. A line that is empty or starts with ';', '[' or a space names no
// key. Otherwise it names a key path, in any letter case, optionally
// followed by a marker ("=LOCKED", "=BLOCKED", and whatever follows it),
// with or without trailing backslashes; "HKEY_USERS\*\" stands for every
// user hive. A line keeps its key and the key's whole subtree out.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

constexpr size_t kMaxExclusionLineBytes = 1023;

// The file as its editor saved it. Lines keep the file's own encoding, so
// a rewrite leaves every line it does not touch byte for byte.
struct ExclusionFile {
    enum class Encoding { Ansi, Utf8, Utf16Le, Utf16Be };
    Encoding encoding = Encoding::Ansi;
    std::string lineEnd = "\r\n"; // the first line's end; CR LF for a new file
    std::vector<std::string> lines; // encoded, without their line ends
    bool endsWithLineEnd = true;
};

ExclusionFile ParseExclusionFile(const std::string& bytes);
std::string SerializeExclusionFile(const ExclusionFile& file);

// The line as UTF-16 text, and as the engine reads it (ANSI code page, up
// to a NUL, at most 1,023 bytes).
std::basic_string<WCHAR> WideLine(const ExclusionFile& file, size_t index);
std::string EngineLine(const ExclusionFile& file, size_t index);

// ANSI text as a line of the file's encoding, ready to append.
std::string EncodeLine(const ExclusionFile& file, const std::string& ansiLine);

// A line's entry: upper case, marker cut, ending in exactly one backslash;
// empty for a line that names no key.
std::string ExclusionEntry(std::string ansiLine);
// The same form for a key path text (any letter case, trailing backslashes
// or none), so that a key and a line compare as texts.
std::string KeyEntry(std::string keyPathText);
// Whether `entry` keeps out the key whose KeyEntry is `keyEntry`: the key
// itself or one of its ancestors.
bool EntryCovers(std::string_view entry, std::string_view keyEntry);

// Why the ANSI key path cannot be written as a line that the engine reads
// back as exactly that key (too long, holding a marker or a line break);
// empty when it can.
std::string WhyNotExcludable(const std::string& ansiKeyPath);
