// Turning the engine's reports into what a person or a tool reads.
//
// The engine writes a compact JSON dialect: every value is a string or an
// array of flat objects, quotes inside values carry a backslash, and nothing
// else is escaped (key paths keep single backslashes). Strict parsers reject
// that, so the host reads it with its own lenient reader and re-encodes it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace host {

using Members = std::vector<std::pair<std::string, std::string>>;

struct Report {
    Members members;              // top-level string members, in order
    std::string arrayName;        // "problems" or "fixes"
    std::vector<Members> entries; // the array's objects
};

// Parses a report (UTF-8 text). False with `error` set when it is not one.
bool ParseReport(const std::string& text, Report* report, std::string* error);

// Strict RFC 8259 JSON of the same document, one line, ending in a line feed.
std::string ToStrictJson(const Report& report);

// A problem whose bytes the engine's report lets be read more than one way
// (a name holding what looks like the end of a member): it holds only its
// position as "id" and "unreadable": "true", is shown as such and is never
// selected for a fix.
bool IsUnreadable(const Members& entry);
extern const char kUnreadableText[];

// Looks a member up; empty when absent.
std::string Member(const Members& members, const std::string& name);

// The name of a section number as text, for tables.
std::string SectionName(const std::string& section);

} // namespace host
