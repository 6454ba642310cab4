#include "host/explain.h"

#include "base/text.h"
#include "host/session.h"
#include "registry/reg_key.h"
#include "scanners/value_reasons.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace host {
namespace {

// The registry and the checks speak the ANSI code page; reports speak UTF-8.
std::string AnsiFromUtf8(const std::string& text) {
    return base::FromWide(CP_ACP, WideFromUtf8(text));
}

std::string Utf8FromAnsi(const std::string& text) {
    return Utf8FromWide(base::ToWide(CP_ACP, text).c_str());
}

// The strings of a string value as stored (one for REG_SZ, each item of a
// REG_MULTI_SZ). False for other types and values that cannot be read.
bool ReadStrings(const RegKey& key, const std::string& name, std::vector<std::string>* strings) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.Handle(), name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return false;
    std::string bytes(size, '\0');
    if (RegQueryValueExA(key.Handle(), name.c_str(), nullptr, &type, base::MutableBytes(bytes),
                         &size) != ERROR_SUCCESS)
        return false;
    bytes.resize(size);
    if (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)
        return false;
    for (size_t start = 0; start < bytes.size();) {
        const size_t end = std::min(bytes.find('\0', start), bytes.size());
        if (end == start)
            break;
        strings->push_back(bytes.substr(start, end - start));
        if (type != REG_MULTI_SZ)
            break;
        start = end + 1;
    }
    if (strings->empty())
        strings->emplace_back();
    return true;
}

// The section's number; -1 when the problem names none.
int SectionOf(const Members& problem) {
    const std::string section = Member(problem, "section");
    return section.empty() ? -1 : std::atoi(section.c_str());
}

} // namespace

std::vector<std::string> ExplainValue(const Members& problem) {
    RegKey key;
    if (key.OpenByText(AnsiFromUtf8(Member(problem, "key path")), kRead64) != ERROR_SUCCESS)
        return {"the key is gone"};
    const std::string name = AnsiFromUtf8(Member(problem, "value name"));
    std::vector<std::string> strings;
    std::string data;
    if (ReadStrings(key, name, &strings)) {
        for (const std::string& text : strings)
            data += (data.empty() ? "" : " | ") + Utf8FromAnsi(text);
        data = "data: " + data;
    } else if (RegQueryValueExA(key.Handle(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
        // A counter (shared DLLs) names its file by the value's name.
        data = "data: not text; the value's name is the file";
    } else {
        return {"the value is gone"};
    }
    // The reason comes from the rule of the section that reported the value.
    const std::string reason = ValueProblemReason(SectionOf(problem), key, name);
    return {data, reason.empty() ? std::string("now: the scan would not report it any more")
                                 : Utf8FromAnsi(reason)};
}

} // namespace host
