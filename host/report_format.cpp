#include "host/report_format.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace host {
namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : m_text(text) {}

    bool Expect(char c) {
        SkipSpace();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool Peek(char c) {
        SkipSpace();
        return m_pos < m_text.size() && m_text[m_pos] == c;
    }
    bool AtEnd() {
        SkipSpace();
        return m_pos >= m_text.size();
    }
    size_t Position() const { return m_pos; }

    // A quoted text. The engine puts a backslash before every quote in a
    // value but leaves backslashes alone, so a value ending in a backslash
    // ends in \" too: a \" that is followed by what may follow a value closes
    // it, any other \" is a quote inside it.
    bool String(std::string* out) {
        if (!Expect('"'))
            return false;
        out->clear();
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c == '\\' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '"') {
                if (ClosesValue(m_pos + 2)) {
                    out->push_back('\\');
                    m_pos += 2;
                    return true;
                }
                out->push_back('"');
                m_pos += 2;
                continue;
            }
            out->push_back(c);
            ++m_pos;
        }
        return false;
    }

private:
    bool ClosesValue(size_t at) const {
        const std::string rest = m_text.substr(at, 3);
        return rest.empty() || rest[0] == '}' || rest[0] == ':' || rest.rfind(", \"", 0) == 0 ||
               rest == "\n" || rest[0] == '\r';
    }
    void SkipSpace() {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' ||
                                         m_text[m_pos] == '\r' || m_text[m_pos] == '\t'))
            ++m_pos;
    }

    const std::string& m_text;
    size_t m_pos = 0;
};

bool ParseFlatObject(Reader& reader, Members* members) {
    if (!reader.Expect('{'))
        return false;
    if (reader.Expect('}'))
        return true;
    do {
        std::string name, value;
        if (!reader.String(&name) || !reader.Expect(':') || !reader.String(&value))
            return false;
        members->emplace_back(name, value);
    } while (reader.Expect(','));
    return reader.Expect('}');
}

bool ParseArray(Reader& reader, std::vector<Members>* entries) {
    if (!reader.Expect('['))
        return false;
    if (reader.Expect(']'))
        return true;
    do {
        Members entry;
        if (!ParseFlatObject(reader, &entry))
            return false;
        entries->push_back(std::move(entry));
    } while (reader.Expect(','));
    return reader.Expect(']');
}

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
    Reader reader(text);
    *report = Report{};
    bool ok = reader.Expect('{');
    while (ok && !reader.Peek('}')) {
        std::string name;
        ok = reader.String(&name) && reader.Expect(':');
        if (!ok)
            break;
        if (reader.Peek('[')) {
            report->arrayName = name;
            ok = ParseArray(reader, &report->entries);
        } else {
            std::string value;
            ok = reader.String(&value);
            report->members.emplace_back(name, value);
        }
        if (ok && !reader.Expect(','))
            break;
    }
    ok = ok && reader.Expect('}') && reader.AtEnd();
    if (!ok && error)
        *error =
            "the engine's report is not well formed near byte " + std::to_string(reader.Position());
    return ok;
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
