#include "host/explain.h"

#include "base/text.h"
#include "fileref/reference_check.h"
#include "host/session.h"
#include "registry/reg_key.h"

#include <windows.h>

#include <algorithm>

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

// The first file the checks find missing, as the scanners test: whole
// command lines first, then drive paths and lists of them.
std::string MissingFile(const std::vector<std::string>& strings) {
    for (const std::string& text : strings) {
        std::string asCommand = text, asDrivePath = text, file;
        if (!CheckFileReference(asCommand, file) || !CheckDrivePathReference(asDrivePath, file))
            return file;
    }
    return {};
}

} // namespace

std::vector<std::string> ExplainValue(const std::string& keyPath, const std::string& valueName) {
    RegKey key;
    if (key.OpenByText(AnsiFromUtf8(keyPath), kRead64) != ERROR_SUCCESS)
        return {"the key is gone"};
    const std::string name = AnsiFromUtf8(valueName);
    std::vector<std::string> strings;
    std::string data;
    if (ReadStrings(key, name, &strings)) {
        for (const std::string& text : strings)
            data += (data.empty() ? "" : " | ") + Utf8FromAnsi(text);
        data = "data: " + data;
    } else if (RegQueryValueExA(key.Handle(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
        // A counter (shared DLLs) names its file by the value's name.
        strings = {name};
        data = "data: not text; the value's name is the file";
    } else {
        return {"the value is gone"};
    }
    const std::string missing = MissingFile(strings);
    return {data, missing.empty() ? std::string("file: every file it names exists now")
                                  : "file: " + Utf8FromAnsi(missing) + " (missing)"};
}

} // namespace host
