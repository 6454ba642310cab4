#include "base/common_library.h"

#include "base/built_once.h"
#include "base/text.h"

#include <mbstring.h>

#include <cstdio>

namespace Orvel {
namespace {

using base::Bytes;
using base::EndsWithBackslash;

std::string WithoutTrailingBackslashes(std::string text) {
    while (!text.empty() && EndsWithBackslash(text))
        text.pop_back();
    return text;
}

std::string ReadFolder(UINT(WINAPI* read)(LPSTR, UINT)) {
    char buffer[MAX_PATH + 1] = {};
    UINT length = read(buffer, sizeof(buffer));
    return length == 0 || length >= sizeof(buffer) ? std::string() : std::string(buffer, length);
}

struct DateTimeParts {
    int year, month, day, hour, minute, second, millisecond;
};

DateTimeParts Unpack(int64_t packed) {
    DateTimeParts parts{};
    parts.millisecond = static_cast<int>(packed % 1000);
    packed /= 1000;
    parts.second = static_cast<int>(packed % 100);
    packed /= 100;
    parts.minute = static_cast<int>(packed % 100);
    packed /= 100;
    parts.hour = static_cast<int>(packed % 100);
    packed /= 100;
    parts.day = static_cast<int>(packed % 100);
    packed /= 100;
    parts.month = static_cast<int>(packed % 100);
    parts.year = static_cast<int>(packed / 100);
    return parts;
}

} // namespace

std::string PathCombineA(const std::string& first, const std::string& second) {
    if (first.empty())
        return second;
    size_t skip = second.find_first_not_of('\\');
    return WithoutTrailingBackslashes(first) + "\\" +
           (skip == std::string::npos ? std::string() : second.substr(skip));
}

std::string GetModulePathNameA(HMODULE module) {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return {};
    const unsigned char* lastSeparator = _mbsrchr(Bytes(path), '\\');
    if (lastSeparator == nullptr)
        return {};
    return std::string(path, static_cast<size_t>(base::Chars(lastSeparator) - path));
}

const char* GetSystemDirectoryA() {
    static constinit TBuiltOnce<std::string> folder;
    return folder.Get([] { return ReadFolder(::GetSystemDirectoryA); }).c_str();
}

const char* GetWindowsDirectoryA() {
    static constinit TBuiltOnce<std::string> folder;
    return folder.Get([] { return ReadFolder(::GetWindowsDirectoryA); }).c_str();
}

int Wow64DisableWow64FsRedirection(PVOID* oldValue) {
    return ::Wow64DisableWow64FsRedirection(oldValue) ? 1 : 0;
}

int Wow64RevertWow64FsRedirection(PVOID oldValue) {
    return ::Wow64RevertWow64FsRedirection(oldValue) ? 1 : 0;
}

int64_t GetLocalTime() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    int64_t packed = now.wYear;
    for (int part : {now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond})
        packed = packed * 100 + part;
    return packed * 1000 + now.wMilliseconds;
}

std::string FormatDateTimeA(int64_t localTime, bool withMilliseconds) {
    const DateTimeParts t = Unpack(localTime);
    char text[40];
    int length = std::snprintf(text, sizeof(text), "%04d/%02d/%02d %02d:%02d:%02d", t.year, t.month,
                               t.day, t.hour, t.minute, t.second);
    if (withMilliseconds)
        std::snprintf(text + length, sizeof(text) - length, ".%03d", t.millisecond);
    return text;
}

DWORD CreateDirectoryA(const std::string& path) {
    // Create each prefix that ends before a separator, then the whole path;
    // prefixes that exist already (a drive, an earlier folder) fail harmlessly.
    for (const unsigned char* p = Bytes(path); *p != '\0'; p = _mbsinc(p)) {
        if (*p == '\\' && p != Bytes(path)) {
            std::string prefix(path.c_str(), base::Chars(p));
            ::CreateDirectoryA(prefix.c_str(), nullptr);
        }
    }
    if (::CreateDirectoryA(path.c_str(), nullptr))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    DWORD attributes = GetFileAttributesA(path.c_str());
    bool isFolder =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return isFolder ? ERROR_SUCCESS : error;
}

} // namespace Orvel

HMODULE EngineModule() {
    // Any static of ours lies inside our image; its allocation base is the
    // module handle.
    static const int anchor = 0;
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(&anchor, &info, sizeof(info)) == 0)
        return nullptr;
    return static_cast<HMODULE>(info.AllocationBase);
}
