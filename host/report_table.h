// The readable table of a scan or fix report, sized for the screen it goes to.
//
// On a terminal (or wherever COLUMNS says how wide the screen is) every row
// fits one line: roots are abbreviated, a user's hive is named by the user,
// and long texts lose their middle. Elsewhere nothing is shortened, so the
// table can be searched for the key paths the other commands take.
#pragma once

#include "host/report_format.h"

#include <map>
#include <string>
#include <vector>

namespace host {

struct TableStyle {
    size_t width = 0;    // screen columns; 0: no limit
    bool colour = false; // ANSI colour, for a terminal that wants it
    // Lines shown below a problem's row, by its id (--explain).
    std::map<std::string, std::vector<std::string>> notes;
};

// One row per problem, grouped by section with a count each, then the total.
std::string ToTable(const Report& report, const TableStyle& style);

// Characters in UTF-8 text (continuation bytes do not count).
size_t DisplayWidth(const std::string& text);

// The text with blanks after it up to `width` characters.
std::string PadToWidth(const std::string& text, size_t width);

// The text cut to `width` characters by putting "…" in place of its middle.
std::string ShortenMiddle(const std::string& text, size_t width);

// "HKLM\..." for "HKEY_LOCAL_MACHINE\..." (HKU, HKCR, HKCU likewise), and the
// user's name in place of the SID of the user's hive when it is known.
std::string ShortKeyPath(const std::string& keyPath, const std::string& userName);

} // namespace host
