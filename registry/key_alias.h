// Several key paths can name one key. The classes root is a view of
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes; on Windows it is merged with the
// current user's classes hive, HKEY_USERS\<SID>_Classes, where the user's
// own keys win, and HKEY_USERS\<SID>\Software\Classes is a link to that hive.
// Whoever saves or changes a key once must know it again under another name.
#pragma once

#include <functional>
#include <set>
#include <string>

struct KeyAliasFacts {
    // The SID whose classes hive is merged into the classes root; "" when
    // none is (Wine and the simulated machine merge nothing).
    std::string userClassesSid;
    // The SIDs (upper-cased) whose Software\Classes is a link to their
    // classes hive.
    std::set<std::string> linkedSids;
    // Whether a key path names a key that exists.
    std::function<bool(const std::string&)> keyExists;
};

// The facts of this machine as it is now, found by reading only. Two names
// are taken for one key only on evidence, as a wrong "same" would skip a
// repair: the classes root shows a key of HKEY_USERS\<SID>_Classes that the
// machine's classes lack (and only one hive does so), and
// HKEY_USERS\<SID>\Software\Classes answers exactly as that hive does
// (subkeys, value count, last write time).
KeyAliasFacts CurrentKeyAliasFacts();

// The path of the key that holds `keyPath`'s data, in the spelling of the
// path given (compare in any letter case).
std::string BackingKeyPath(const std::string& keyPath, const KeyAliasFacts& facts);
