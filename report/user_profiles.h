// The names of the users whose hives problems lie in.
//
// A key path under HKEY_USERS names its hive only by the user's SID; hosts
// show the user by the name of his profile folder, which the machine's
// profile list records. Each engine remembers the names it has found for its
// whole life (a profile folder is not renamed under a running scan), so two
// engines never share a cache and need no lock.
#pragma once

#include <map>
#include <string>

class CUserNameCache {
public:
    // The profile folder name of the hive the key path lies in; the SID
    // itself when the profile names no folder; the empty text outside
    // HKEY_USERS and for hives without a profile (such as .DEFAULT).
    std::string NameForKeyPath(const std::string& keyPath);

private:
    // SID -> name; a SID whose profile could not be opened is asked again.
    std::map<std::string, std::string> m_names;
};
