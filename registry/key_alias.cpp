#include "registry/key_alias.h"

#include "registry/key_walk.h"
#include "registry/reg_key.h"

#include <vector>

namespace {

constexpr char kClassesRoot[] = "HKEY_CLASSES_ROOT";
constexpr char kMachineClasses[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes";
constexpr char kUsers[] = "HKEY_USERS\\";
constexpr char kUserClassesLink[] = "\\Software\\Classes";
constexpr char kUserClassesSuffix[] = "_Classes";

// The prefixes are ASCII, and a byte that matched an ASCII letter is no
// trail byte (no lead byte came before it), so a byte-wise comparison is
// safe in every code page.
bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(text[i]) != lower(prefix[i]))
            return false;
    }
    return true;
}

// The rest of `text` after `prefix` when it names the key itself or one
// below it ("" or "\sub..."); false otherwise.
bool KeyBelow(const std::string& text, const std::string& prefix, std::string* rest) {
    if (!StartsWithNoCase(text, prefix))
        return false;
    *rest = text.substr(prefix.size());
    return rest->empty() || (*rest)[0] == '\\';
}

bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() > suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool KeyExists(const std::string& keyPath) {
    RegKey key;
    return key.OpenByText(keyPath, KEY_READ) == ERROR_SUCCESS;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        c = c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
    return text;
}

struct KeyFace {
    DWORD values = 0;
    FILETIME lastWrite{};
    std::vector<std::string> subkeys;
};

bool ReadFace(const std::string& keyPath, KeyFace* face) {
    RegKey key;
    return key.OpenByText(keyPath, KEY_READ) == ERROR_SUCCESS &&
           RegQueryInfoKeyA(key.Handle(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            &face->values, nullptr, nullptr, nullptr,
                            &face->lastWrite) == ERROR_SUCCESS &&
           ReadSubkeyNames(key.Handle(), face->subkeys) == ERROR_SUCCESS;
}

bool AnswersAlike(const std::string& a, const std::string& b) {
    KeyFace x, y;
    return ReadFace(a, &x) && ReadFace(b, &y) && !x.subkeys.empty() && x.values == y.values &&
           x.lastWrite.dwLowDateTime == y.lastWrite.dwLowDateTime &&
           x.lastWrite.dwHighDateTime == y.lastWrite.dwHighDateTime && x.subkeys == y.subkeys;
}

// The classes root shows one of the hive's keys that the machine's classes
// lack.
bool MergedIntoClassesRoot(const std::string& hive) {
    KeyFace face;
    if (!ReadFace(hive, &face))
        return false;
    for (const std::string& name : face.subkeys) {
        if (KeyExists(std::string(kClassesRoot) + "\\" + name) &&
            !KeyExists(std::string(kMachineClasses) + "\\" + name))
            return true;
    }
    return false;
}

} // namespace

KeyAliasFacts CurrentKeyAliasFacts() {
    KeyAliasFacts facts;
    facts.keyExists = KeyExists;
    RegKey users;
    std::vector<std::string> names;
    if (users.OpenByText("HKEY_USERS", KEY_READ) != ERROR_SUCCESS ||
        ReadSubkeyNames(users.Handle(), names) != ERROR_SUCCESS)
        return facts;
    int merged = 0;
    for (const std::string& name : names) {
        if (!EndsWith(name, kUserClassesSuffix))
            continue;
        const std::string sid = name.substr(0, name.size() - (sizeof(kUserClassesSuffix) - 1));
        const std::string hive = kUsers + name;
        if (AnswersAlike(kUsers + sid + kUserClassesLink, hive))
            facts.linkedSids.insert(UpperAscii(sid));
        if (MergedIntoClassesRoot(hive)) {
            ++merged;
            facts.userClassesSid = sid;
        }
    }
    if (merged != 1)
        facts.userClassesSid.clear();
    return facts;
}

std::string BackingKeyPath(const std::string& keyPath, const KeyAliasFacts& facts) {
    std::string rest;
    if (KeyBelow(keyPath, kClassesRoot, &rest)) {
        if (!facts.userClassesSid.empty()) {
            const std::string user = kUsers + facts.userClassesSid + kUserClassesSuffix + rest;
            if (facts.keyExists && facts.keyExists(user))
                return user;
        }
        return kMachineClasses + rest;
    }
    if (!StartsWithNoCase(keyPath, kUsers))
        return keyPath;
    const size_t sidEnd = keyPath.find('\\', sizeof(kUsers) - 1);
    if (sidEnd == std::string::npos)
        return keyPath;
    const std::string sid = keyPath.substr(sizeof(kUsers) - 1, sidEnd - (sizeof(kUsers) - 1));
    if (facts.linkedSids.count(UpperAscii(sid)) == 0 ||
        !KeyBelow(keyPath.substr(sidEnd), kUserClassesLink, &rest))
        return keyPath;
    return keyPath.substr(0, sidEnd) + kUserClassesSuffix + rest;
}
