#include "report/json_writer.h"

#include "base/text.h"

#include <algorithm>
#include <charconv>

namespace {

// Every double quote gets a backslash in front, even one that already
// follows a backslash: a\"b becomes a\\"b. Hosts undo exactly this rule.
void AppendEscapingQuotes(std::string& out, std::string_view value) {
    for (size_t quote; (quote = value.find('"')) != std::string_view::npos;) {
        out.append(value.substr(0, quote)).append("\\\"");
        value.remove_prefix(quote + 1);
    }
    out.append(value);
}

} // namespace

void AppendMemberText(std::string& out, std::string_view name, std::string_view value) {
    out += '"';
    out += name;
    out += "\": ";
    if (!value.empty() && value.front() == '[') {
        out += value;
    } else {
        out += '"';
        AppendEscapingQuotes(out, value);
        out += '"';
    }
}

void SetString(JsonObject& object, std::string_view name, std::string_view value) {
    object.Set(name, base::Trim(value, base::kSpaces));
}

void SetInt64(JsonObject& object, std::string_view name, LONGLONG number) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, number);
    object.Set(name, std::string_view(digits, static_cast<size_t>(result.ptr - digits)));
}

namespace {

// The object as Serialize writes it, without its line end, after `out`.
void AppendObject(std::string& out, const JsonObject& object) {
    if (object.IsEmpty())
        return;
    size_t size = out.size() + 2;
    object.ForEach([&size](const JsonMember& member) {
        size += member.name.size() + member.value.size() + 8;
    });
    if (size > out.capacity())
        out.reserve(std::max(size, out.capacity() * 2));
    out += '{';
    const char* separator = "";
    object.ForEach([&](const JsonMember& member) {
        out += separator;
        AppendMemberText(out, member.name, member.value);
        separator = ", ";
    });
    out += '}';
}

} // namespace

void SetArray(JsonObject& object, std::string_view name, const JsonObjectArray& array) {
    std::string elements = "[";
    for (const JsonObject& element : array) {
        AppendObject(elements, element);
        elements += ',';
    }
    if (elements.size() > 1)
        elements.pop_back(); // the last comma
    elements += ']';
    object.Set(name, elements);
}

std::string Serialize(const JsonObject& object) {
    if (object.IsEmpty())
        return std::string();
    std::string out;
    AppendObject(out, object);
    out += '\n';
    return out;
}

WideText ReportToWide(const std::string& reportText) {
    // The text up to its first zero, as a C string hands it over.
    return base::ToWide(CP_THREAD_ACP, reportText.c_str());
}
