#include "report/json_reader.h"

#include "base/text.h"
#include "report/json_writer.h"

namespace {

constexpr size_t kStop = 0;

bool IsRequestSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsNameNoise(char c) {
    return c == '{' || c == '}' || c == '"' || c == ',';
}

// A position may stand one past the end of the text (a name token that ran
// to the end); every look at a character goes through here.
bool Inside(std::string_view text, size_t pos) {
    return pos < text.size();
}

// Reads the name token at pos: skips colons, takes the text up to the next
// colon and leaves pos behind that colon. False at the end of the text.
bool ReadNameToken(std::string_view text, size_t& pos, std::string_view& token) {
    while (Inside(text, pos) && text[pos] == ':')
        ++pos;
    if (!Inside(text, pos))
        return false;
    const size_t colon = text.find(':', pos);
    const size_t end = colon == std::string_view::npos ? text.size() : colon;
    token = text.substr(pos, end - pos);
    pos = end + 1;
    return true;
}

std::string Bracketed(std::string_view inner) {
    std::string value;
    value.reserve(inner.size() + 2);
    value += '[';
    value.append(inner);
    value += ']';
    return value;
}

bool ValueIsArray(std::string_view text, size_t pos) {
    while (Inside(text, pos) && IsRequestSpace(text[pos]))
        ++pos;
    return Inside(text, pos) && text[pos] == '[';
}

// An array value runs from its "[" to the first "]" outside a quoted text;
// an inner array therefore ends it early. Without such a "]" the value is
// "[]" and parsing stops.
std::string ReadArrayValue(std::string_view text, size_t& pos) {
    const size_t open = text.find('[', pos);
    bool inString = false;
    for (size_t i = open + 1; i < text.size(); ++i) {
        if (text[i] == '"' && text[i - 1] != '\\')
            inString = !inString;
        else if (text[i] == ']' && !inString) {
            pos = i + 1;
            return Bracketed(text.substr(open + 1, i - open - 1));
        }
    }
    pos = kStop;
    return "[]";
}

// A string value is the next quoted text, escapes left as written; a quote
// behind a backslash does not close it. No opening quote: an empty value and
// pos unchanged. No closing quote: an empty value and parsing stops.
std::string_view ReadStringValue(std::string_view text, size_t& pos) {
    std::string_view value;
    const size_t open = Inside(text, pos) ? text.find('"', pos) : std::string_view::npos;
    if (open != std::string_view::npos) {
        size_t close = text.find('"', open + 1);
        while (close != std::string_view::npos && text[close - 1] == '\\')
            close = text.find('"', close + 1);
        if (close == std::string_view::npos) {
            pos = kStop;
            return value;
        }
        value = text.substr(open + 1, close - open - 1);
        pos = close + 1;
    }
    while (Inside(text, pos) && (text[pos] == ',' || IsRequestSpace(text[pos])))
        ++pos;
    return value;
}

std::string CleanName(std::string_view token) {
    std::string name;
    for (char c : token) {
        if (!IsNameNoise(c))
            name += c;
    }
    size_t first = 0;
    while (first < name.size() && IsRequestSpace(name[first]))
        ++first;
    size_t last = name.size();
    while (last > first && IsRequestSpace(name[last - 1]))
        --last;
    return name.substr(first, last - first);
}

} // namespace

void ParseRequest(std::string_view requestText, JsonObject& request) {
    size_t pos = 0;
    std::string_view token;
    do {
        if (!ReadNameToken(requestText, pos, token))
            return;
        const std::string value = ValueIsArray(requestText, pos)
                                      ? ReadArrayValue(requestText, pos)
                                      : std::string(ReadStringValue(requestText, pos));
        const std::string name = CleanName(token);
        if (!name.empty())
            SetString(request, name, value);
    } while (pos != kStop);
}

std::string RequestTextFromWide(LPCWSTR request) {
    return request == nullptr ? std::string()
                              : base::FromWide(CP_THREAD_ACP, base::WideView(request));
}
