#include "host/report_table.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>

namespace host {
namespace {

constexpr size_t kGap = 2;
constexpr size_t kMinimumWidth = 6;
const char kEllipsis[] = "\xE2\x80\xA6"; // …
const char kBold[] = "\x1B[1m";
const char kSectionColour[] = "\x1B[1;36m";
const char kReset[] = "\x1B[0m";

struct Column {
    std::string title;
    size_t weight = 0; // 0: never shortened; else its share of the room left
};

using Row = std::vector<std::string>;

bool IsContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Byte offset after the first `count` characters.
size_t ByteOffsetOf(const std::string& text, size_t count) {
    size_t at = 0;
    for (; at < text.size() && count > 0; --count) {
        ++at;
        while (at < text.size() && IsContinuation(text[at]))
            ++at;
    }
    return at;
}

// Water filling: a column narrower than its share keeps its width and leaves
// the rest to the others, which share in proportion to their weights.
std::vector<size_t> FitWidths(const std::vector<Column>& columns,
                              const std::vector<size_t>& natural, size_t screen) {
    std::vector<size_t> widths = natural;
    size_t room = screen;
    std::vector<size_t> open;
    for (size_t c = 0; c < columns.size(); ++c) {
        room -= std::min(room, (c ? kGap : 0) + (columns[c].weight ? 0 : natural[c]));
        if (columns[c].weight)
            open.push_back(c);
    }
    for (bool settled = false; !settled && !open.empty();) {
        settled = true;
        const size_t weights =
            std::accumulate(open.begin(), open.end(), size_t{0},
                            [&](size_t s, size_t c) { return s + columns[c].weight; });
        for (auto it = open.begin(); it != open.end(); ++it) {
            if (natural[*it] * weights <= room * columns[*it].weight) {
                room -= natural[*it];
                open.erase(it);
                settled = false;
                break;
            }
        }
        if (settled) {
            for (size_t c : open)
                widths[c] = std::max(kMinimumWidth, room * columns[c].weight / weights);
        }
    }
    return widths;
}

std::string Line(const Row& row, const std::vector<size_t>& widths, bool shorten) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
        const std::string cell = shorten ? ShortenMiddle(row[c], widths[c]) : row[c];
        line += c + 1 < row.size() ? PadToWidth(cell, widths[c] + kGap) : cell;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string Coloured(const std::string& line, const char* colour, bool enabled) {
    return enabled ? colour + line + kReset : line;
}

int SectionOrder(const std::string& section) {
    char* end = nullptr;
    const long number = std::strtol(section.c_str(), &end, 10);
    return section.empty() || *end != '\0' ? 1000 : static_cast<int>(number);
}

std::string Counted(size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::vector<Column> ColumnsOf(bool isFix, bool fitted) {
    std::vector<Column> columns = {{"id", 0}, {"key path", 3}, {"value name", 2}, {"new value", 2}};
    if (!fitted)
        columns.push_back({"user", 0});
    if (isFix)
        columns.push_back({"fixed", 0});
    return columns;
}

// Registry names may hold any character, and a terminal acts on control
// characters (ESC starts a command, BEL rings): those of C0, DEL and C1
// (U+0080 to U+009F, in UTF-8 after 0xC2) are shown as \xNN instead.
std::string Printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (c >= 0x20 && c != 0x7F && !c1) {
            out.push_back(text[i]);
            continue;
        }
        char escaped[8];
        std::snprintf(escaped, sizeof(escaped), "\\x%02X",
                      c1 ? static_cast<unsigned char>(text[++i]) : c);
        out += escaped;
    }
    return out;
}

Row RowOf(const Members& entry, bool isFix, bool fitted) {
    const bool unreadable = IsUnreadable(entry);
    const std::string user = Printable(Member(entry, "user name"));
    const std::string keyPath = unreadable ? kUnreadableText : Printable(Member(entry, "key path"));
    Row row = {Member(entry, "id"), fitted ? ShortKeyPath(keyPath, user) : keyPath,
               Printable(Member(entry, "value name")), Printable(Member(entry, "new value"))};
    if (!fitted)
        row.push_back(user);
    if (isFix)
        row.push_back(Member(entry, "fixed") == "true" ? "yes" : "no");
    return row;
}

std::string Summary(const Report& report, size_t sections) {
    const bool isFix = report.arrayName == "fixes";
    std::string out;
    if (isFix) {
        const auto fixed =
            std::count_if(report.entries.begin(), report.entries.end(),
                          [](const Members& e) { return Member(e, "fixed") == "true"; });
        out = std::to_string(report.entries.size()) + " selected, " + std::to_string(fixed) +
              " fixed";
    } else {
        out = Counted(report.entries.size(), "problem");
        if (sections > 1)
            out += " in " + Counted(sections, "section");
    }
    const std::string error = Member(report.members, "error");
    return error.empty() ? out : out + " (" + error + ")";
}

} // namespace

size_t DisplayWidth(const std::string& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuation(c); }));
}

std::string PadToWidth(const std::string& text, size_t width) {
    return text + std::string(width - std::min(width, DisplayWidth(text)), ' ');
}

std::string ShortenMiddle(const std::string& text, size_t width) {
    const size_t length = DisplayWidth(text);
    if (length <= width)
        return text;
    if (width == 0)
        return {};
    // The end of a key path or file path tells most, so it keeps two thirds.
    const size_t head = (width - 1) / 3;
    const size_t tail = width - 1 - head;
    size_t from = ByteOffsetOf(text, length - tail);
    // A path reads better from a whole name on than from the last letters of
    // one, when the next name starts close by.
    const size_t separator = text.find('\\', from);
    if (text[from - 1] != '\\' && separator != std::string::npos &&
        DisplayWidth(text.substr(from, separator - from)) <= tail / 4)
        from = separator;
    return text.substr(0, ByteOffsetOf(text, head)) + kEllipsis + text.substr(from);
}

std::string ShortKeyPath(const std::string& keyPath, const std::string& userName) {
    static const std::pair<const char*, const char*> kRoots[] = {
        {"HKEY_LOCAL_MACHINE\\", "HKLM\\"},
        {"HKEY_USERS\\", "HKU\\"},
        {"HKEY_CLASSES_ROOT\\", "HKCR\\"},
        {"HKEY_CURRENT_USER\\", "HKCU\\"},
    };
    for (const auto& [longName, shortName] : kRoots) {
        if (keyPath.rfind(longName, 0) != 0)
            continue;
        std::string rest = keyPath.substr(std::char_traits<char>::length(longName));
        // The hive is "<SID>" or "<SID>_Classes": the name stands for the SID.
        const size_t sidEnd = rest.find_first_of("_\\");
        if (std::string(shortName) == "HKU\\" && !userName.empty() && rest.rfind("S-1-", 0) == 0 &&
            rest.substr(0, sidEnd) != userName)
            rest = userName + rest.substr(std::min(sidEnd, rest.size()));
        return shortName + rest;
    }
    return keyPath;
}

std::string ToTable(const Report& report, const TableStyle& style) {
    const bool isFix = report.arrayName == "fixes";
    const bool fitted = style.width > 0;
    const std::vector<Column> columns = ColumnsOf(isFix, fitted);
    Row titles;
    for (const Column& column : columns)
        titles.push_back(column.title);

    std::map<int, std::pair<std::string, std::vector<Row>>> sections;
    std::vector<size_t> natural(columns.size());
    for (size_t c = 0; c < columns.size(); ++c)
        natural[c] = DisplayWidth(titles[c]);
    for (const Members& entry : report.entries) {
        const std::string section = Member(entry, "section");
        auto& group = sections[SectionOrder(section)];
        group.first = section.empty() ? "unreadable" : SectionName(section);
        group.second.push_back(RowOf(entry, isFix, fitted));
        for (size_t c = 0; c < columns.size(); ++c)
            natural[c] = std::max(natural[c], DisplayWidth(group.second.back()[c]));
    }
    const std::vector<size_t> widths = fitted ? FitWidths(columns, natural, style.width) : natural;
    const size_t noteIndent = widths[0] + kGap;

    std::string out = Coloured(Line(titles, widths, fitted), kBold, style.colour) + "\n";
    for (const auto& [order, group] : sections) {
        const std::string heading = group.first + " (" + std::to_string(group.second.size()) + ")";
        out += Coloured(heading, kSectionColour, style.colour) + "\n";
        for (const Row& row : group.second) {
            out += Line(row, widths, fitted) + "\n";
            const auto notes = style.notes.find(row[0]);
            if (notes == style.notes.end())
                continue;
            for (const std::string& note : notes->second) {
                const std::string text =
                    fitted ? ShortenMiddle(Printable(note),
                                           style.width - std::min(style.width, noteIndent))
                           : Printable(note);
                out += std::string(noteIndent, ' ') + text + "\n";
            }
        }
    }
    return out + Coloured(Summary(report, sections.size()), kBold, style.colour) + "\n";
}

} // namespace host
