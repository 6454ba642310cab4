#include "report/user_profiles.h"

#include "base/common_library.h"
#include "base/text.h"
#include "registry/reg_key.h"

#include <mbstring.h>

#include <algorithm>

namespace {

constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
constexpr char kProfileImagePath[] = "ProfileImagePath";
// A user's classes hive (S-1-5-21-..._Classes) belongs to the same user.
constexpr char kClassesSuffix[] = "_Classes";

// The first two non-empty parts of a backslash-separated text.
void FirstTwoParts(const std::string& text, std::string& first, std::string& second) {
    std::string* parts[] = {&first, &second};
    size_t at = 0;
    for (std::string* part : parts) {
        at = text.find_first_not_of('\\', at);
        if (at == std::string::npos)
            return;
        const size_t end = std::min(text.find('\\', at), text.size());
        *part = text.substr(at, end - at);
        at = end;
    }
}

std::string WithoutClassesSuffix(std::string sid) {
    for (size_t at = sid.find(kClassesSuffix); at != std::string::npos;
         at = sid.find(kClassesSuffix, at))
        sid.erase(at, sizeof(kClassesSuffix) - 1);
    return sid;
}

const unsigned char* LastBackslash(const std::string& text) {
    return _mbsrchr(base::Bytes(text), '\\');
}

// Multibyte-aware: in a double-byte code page a trail byte can equal '\\'.
std::string LastFolderName(std::string path) {
    const unsigned char* last = LastBackslash(path);
    for (; last != nullptr && last[1] == '\0'; last = LastBackslash(path))
        path.resize(static_cast<size_t>(base::Chars(last) - path.c_str()));
    return last == nullptr ? path : std::string(base::Chars(last) + 1);
}

} // namespace

std::string CUserNameCache::NameForKeyPath(const std::string& keyPath) {
    std::string rootName, hive;
    FirstTwoParts(keyPath, rootName, hive);
    if (!base::EqualNoCase(rootName, "HKEY_USERS") || hive.empty())
        return {};
    const std::string sid = WithoutClassesSuffix(hive);
    std::string& name = m_names[sid];
    if (!name.empty())
        return name;
    RegKey profile;
    if (profile.OpenPath(HKEY_LOCAL_MACHINE, Orvel::PathCombineA(kProfileList, sid), kRead64) !=
        ERROR_SUCCESS)
        return {};
    std::string imagePath;
    if (profile.QueryStringValue(kProfileImagePath, imagePath) == ERROR_SUCCESS &&
        !imagePath.empty())
        name = LastFolderName(imagePath);
    else
        name = sid;
    return name;
}
