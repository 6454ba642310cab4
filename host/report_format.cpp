#include "host/report_format.h"

#include "report/json_object.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

namespace host {
namespace {

// The engine writes each object's members in its hash table's order, which
// follows from the names present and the order the engine set them in.
const std::vector<std::string>& InsertionOrder(const std::string& arrayName) {
    static const std::vector<std::string> problems = {"id",         "section",    "user name",
                                                      "key path",   "value name", "new value"};
    static const std::vector<std::string> fixes = {"id",         "section",   "key path", "user name",
                                                   "value name", "new value", "fixed"};
    static const std::vector<std::string> top = {"finished", "problems", "fixes", "error"};
    return arrayName == "problems" ? problems : arrayName == "fixes" ? fixes : top;
}

bool InEngineOrder(const Members& members, const std::string& arrayName) {
    const std::vector<std::string>& order = InsertionOrder(arrayName);
    JsonObject object;
    for (const std::string& name : order) {
        for (const auto& member : members) {
            if (member.first == name)
                object.Set(name, "");
        }
    }
    if (object.Count() != members.size())
        return false; // a name twice, or one the engine never writes there
    // An array holds copies, made by setting each member in turn.
    if (!arrayName.empty())
        object = CopyObject(object);
    size_t at = 0;
    bool same = true;
    object.ForEach([&](const JsonMember& m) { same = same && m.name == members[at++].first; });
    return same;
}

bool IsDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The engine trims blanks off both ends of every text it sets.
bool IsTrimmed(const std::string& value) {
    const char* blanks = " \t\n\v\f\r";
    return value.empty() || (std::strchr(blanks, value.front()) == nullptr &&
                             std::strchr(blanks, value.back()) == nullptr);
}

// Reads the engine's bytes exactly, finding every way they can be read: the
// engine puts a backslash before each quote of a text but leaves other
// backslashes alone, and writes a text that starts with "[" bare, so a text
// may hold what looks like the end of a member or of a problem.
class ExactReader {
public:
    explicit ExactReader(const std::string& text) : m_text(text) {}

    bool Read(Report* report) {
        size_t at = 0;
        if (!Prefix(report, &at))
            return false;
        if (report->arrayName.empty())
            return true;
        if (At(at, "]") ? !TopRest(at + 1, m_prefix) : !Elements(at))
            return false;
        if (!At(at, "]"))
            Collect(at, report);
        report->members = m_rest;
        report->members.erase(report->members.begin() + static_cast<std::ptrdiff_t>(m_arrayAt));
        return true;
    }
    size_t Furthest() const { return m_furthest; }

private:
    struct Reading {
        Members members;
        size_t end; // after the object's "}"
    };

    bool At(size_t at, const char* literal) {
        const size_t length = std::strlen(literal);
        m_furthest = std::max(m_furthest, std::min(at, m_text.size()));
        return m_text.compare(at, length, literal) == 0;
    }

    // "name": with a name the engine uses (lower-case words).
    bool Name(size_t at, std::string* name, size_t* after) {
        if (!At(at, "\""))
            return false;
        const size_t end = m_text.find("\": ", at + 1);
        if (end == std::string::npos || end == at + 1 ||
            m_text.find_first_not_of("abcdefghijklmnopqrstuvwxyz ", at + 1) != end)
            return false;
        *name = m_text.substr(at + 1, end - at - 1);
        *after = end + 3;
        return true;
    }

    // Every way a quoted text can end: at each quote the text could close
    // (one after a backslash may also be a quote of the text), up to the
    // first quote without a backslash, which must close it.
    std::vector<std::pair<std::string, size_t>> QuotedTexts(size_t at) {
        std::vector<std::pair<std::string, size_t>> texts;
        std::string value;
        for (size_t i = at + 1; i < m_text.size(); ++i) {
            if (m_text[i] != '"') {
                // The run up to the next quote, in one copy.
                const size_t quote = std::min(m_text.find('"', i), m_text.size());
                value.append(m_text, i, quote - i);
                i = quote - 1;
                continue;
            }
            const bool escaped = m_text[i - 1] == '\\';
            if ((value.empty() || value[0] != '[') && IsTrimmed(value))
                texts.emplace_back(value, i + 1);
            if (!escaped)
                break;
            value.back() = '"';
        }
        m_furthest = std::max(m_furthest, texts.empty() ? m_text.size() : texts.back().second);
        return texts;
    }

    // A bare text (one starting with "[") ends wherever a next member or
    // the object's end could begin.
    std::vector<std::pair<std::string, size_t>> BareTexts(size_t at) {
        std::vector<std::pair<std::string, size_t>> texts;
        // Problem N ends in its id and section, and that text can stand
        // unescaped only there or inside a bare text: no reading of the
        // problem reaches past the last place it stands.
        size_t stop = m_text.size();
        if (m_arrayName == "problems") {
            const std::string idAndSection =
                ", \"id\": \"" + std::to_string(m_index) + "\", \"section\": \"";
            stop = std::min(stop, m_text.rfind(idAndSection) + 1);
        }
        for (size_t i = at + 1; i < stop; ++i) {
            if (m_text.compare(i, 3, ", \"") == 0 || m_text[i] == '}') {
                const std::string value = m_text.substr(at, i - at);
                if (IsTrimmed(value))
                    texts.emplace_back(value, i);
            }
        }
        return texts;
    }

    // Every reading of the object at `at`, or more than kMostReadings.
    void Objects(size_t at, const std::string& arrayName, std::vector<Reading>* readings) {
        if (!At(at, "{"))
            return;
        host::Members members;
        MemberList(at + 1, arrayName, &members, readings);
    }

    void MemberList(size_t at, const std::string& arrayName, host::Members* sofar,
                 std::vector<Reading>* readings) {
        std::string name;
        size_t valueAt = 0;
        if (readings->size() > kMostReadings || !Name(at, &name, &valueAt))
            return;
        const auto texts = At(valueAt, "[") ? BareTexts(valueAt)
                           : At(valueAt, "\"") ? QuotedTexts(valueAt)
                                               : std::vector<std::pair<std::string, size_t>>{};
        for (const auto& [value, end] : texts) {
            sofar->emplace_back(name, value);
            if (At(end, ", "))
                MemberList(end + 2, arrayName, sofar, readings);
            else if (At(end, "}") && InEngineOrder(*sofar, arrayName) && Plausible(*sofar))
                readings->push_back({*sofar, end + 1});
            sofar->pop_back();
        }
    }

    // Every problem and fix has a key path and a section, and problems are
    // numbered from 0 in order.
    bool Plausible(const host::Members& members) const {
        const std::string id = Member(members, "id");
        const std::string fixed = Member(members, "fixed");
        return IsDigits(id) && IsDigits(Member(members, "section")) &&
               !Member(members, "key path").empty() &&
               (m_arrayName != "problems" || id == std::to_string(m_index)) &&
               (m_arrayName != "fixes" || fixed == "true" || fixed == "false");
    }

    // The top-level members before the array (engine texts, no array).
    bool Prefix(Report* report, size_t* at) {
        if (!At(0, "{"))
            return false;
        for (size_t i = 1;;) {
            std::string name;
            size_t valueAt = 0;
            if (!Name(i, &name, &valueAt))
                return false;
            if (At(valueAt, "[")) {
                report->arrayName = m_arrayName = name;
                m_prefix = report->members;
                m_arrayAt = m_prefix.size();
                *at = valueAt + 1;
                return true;
            }
            const auto texts = QuotedTexts(valueAt);
            if (texts.empty())
                return false;
            report->members.emplace_back(name, texts.front().first);
            i = texts.front().second;
            if (At(i, "}\n") && i + 2 == m_text.size())
                return InEngineOrder(report->members, "");
            if (!At(i, ", "))
                return false;
            i += 2;
        }
    }

    // After the array: the remaining top-level members and the end.
    bool TopRest(size_t at, host::Members members) {
        while (At(at, ", ")) {
            std::string name;
            size_t valueAt = 0;
            if (!Name(at + 2, &name, &valueAt) || !At(valueAt, "\""))
                return false;
            const auto texts = QuotedTexts(valueAt);
            if (texts.empty())
                return false;
            members.emplace_back(name, texts.front().first);
            at = texts.front().second;
        }
        if (!At(at, "}\n") || at + 2 != m_text.size())
            return false;
        members.emplace(members.begin() + static_cast<std::ptrdiff_t>(m_arrayAt), m_arrayName, "");
        if (!InEngineOrder(members, ""))
            return false;
        m_rest = std::move(members);
        return true;
    }

    // Whether the elements from `start` and the rest of the report can be
    // read at all; keeps, for each place a problem can start, the readings
    // of it that lead to the end. Level by level rather than recursively: a
    // report may hold many thousand problems.
    bool Elements(size_t start) {
        std::vector<std::set<size_t>> levels = {{start}};
        std::map<std::pair<size_t, size_t>, std::vector<Reading>> found;
        for (size_t index = 0; index < levels.size(); ++index) {
            std::set<size_t> next;
            m_index = index;
            for (size_t at : levels[index]) {
                std::vector<Reading>& readings = found[{at, index}];
                Objects(at, m_arrayName, &readings);
                for (const Reading& reading : readings) {
                    if (At(reading.end, ","))
                        next.insert(reading.end + 1);
                }
            }
            if (!next.empty())
                levels.push_back(std::move(next));
        }
        for (size_t index = levels.size(); index-- > 0;) {
            for (size_t at : levels[index]) {
                const auto key = std::make_pair(at, index);
                std::vector<Reading>& readings = found[key];
                std::vector<Reading> good;
                for (Reading& reading : readings) {
                    const bool last = At(reading.end, "]") && TopRest(reading.end + 1, m_prefix);
                    if (last || (At(reading.end, ",") && Leads(reading.end + 1, index + 1))) {
                        m_ends[key] = m_ends[key] || last;
                        good.push_back(std::move(reading));
                    }
                }
                if (readings.size() > kMostReadings)
                    good.push_back({{{"unreadable", "true"}}, std::string::npos});
                m_good[key] = std::move(good);
            }
        }
        return Leads(start, 0);
    }

    bool Leads(size_t at, size_t index) const {
        const auto good = m_good.find({at, index});
        return good != m_good.end() && !good->second.empty();
    }

    // Each position's readings, over every way through the array: a
    // problem is read exactly when all of them agree on it.
    void Collect(size_t start, Report* report) {
        std::set<std::pair<size_t, size_t>> level = {{start, 0}};
        bool countUncertain = false;
        for (size_t index = 0; !level.empty(); ++index) {
            std::set<std::pair<size_t, size_t>> next;
            std::set<host::Members> seen;
            bool ends = false;
            for (const auto& key : level) {
                ends = ends || m_ends[key];
                for (const Reading& reading : m_good[key]) {
                    seen.insert(reading.members);
                    if (reading.end != std::string::npos && At(reading.end, ",") &&
                        Leads(reading.end + 1, index + 1))
                        next.insert({reading.end + 1, index + 1});
                }
            }
            if (seen.size() == 1 && !countUncertain)
                report->entries.push_back(*seen.begin());
            else
                report->entries.push_back({{"id", std::to_string(index)}, {"unreadable", "true"}});
            // Where some readings end and others go on, the problems after
            // this one exist in only some of them.
            countUncertain = countUncertain || (ends && !next.empty());
            level = std::move(next);
        }
    }

    static constexpr size_t kMostReadings = 16;
    const std::string& m_text;
    size_t m_furthest = 0;
    std::string m_arrayName;
    size_t m_arrayAt = 0;
    size_t m_index = 0;
    host::Members m_prefix, m_rest;
    std::map<std::pair<size_t, size_t>, std::vector<Reading>> m_good;
    std::map<std::pair<size_t, size_t>, bool> m_ends;
};

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof(escape), "\\u%04x", c);
                out += escape;
            } else {
                out.push_back(static_cast<char>(c));
            }
        }
    }
    return out + "\"";
}

std::string StrictObject(const Members& members) {
    std::string out = "{";
    for (size_t i = 0; i < members.size(); ++i)
        out += (i ? ", " : "") + Quote(members[i].first) + ": " + Quote(members[i].second);
    return out + "}";
}

} // namespace

bool ParseReport(const std::string& text, Report* report, std::string* error) {
    *report = Report{};
    ExactReader reader(text);
    if (reader.Read(report))
        return true;
    if (error)
        *error =
            "the engine's report is not well formed near byte " + std::to_string(reader.Furthest());
    return false;
}

std::string ToStrictJson(const Report& report) {
    std::string out = "{";
    bool first = true;
    for (const auto& [name, value] : report.members) {
        out += (first ? "" : ", ") + Quote(name) + ": " + Quote(value);
        first = false;
    }
    if (!report.arrayName.empty()) {
        out += (first ? "" : ", ") + Quote(report.arrayName) + ": [";
        for (size_t i = 0; i < report.entries.size(); ++i)
            out += (i ? ", " : "") + StrictObject(report.entries[i]);
        out += "]";
    }
    return out + "}\n";
}

const char kUnreadableText[] =
    "(unreadable: the engine's report can be read more than one way here)";

bool IsUnreadable(const Members& entry) {
    return Member(entry, "unreadable") == "true";
}

std::string Member(const Members& members, const std::string& name) {
    for (const auto& [key, value] : members) {
        if (key == name)
            return value;
    }
    return {};
}

std::string SectionName(const std::string& section) {
    static const char* const kNames[] = {
        "user software", "machine software", "classes",   "fonts",       "startup",   "sounds",
        "uninstall",     "services",         "app paths", "shared DLLs", "help files"};
    char* end = nullptr;
    const long number = std::strtol(section.c_str(), &end, 10);
    if (section.empty() || *end != '\0' || number < 0 || number > 10)
        return section;
    return kNames[number];
}

} // namespace host
