// Registry behaviour the engine relies on: enumeration order, buffer rules,
// names, paths and deletion. Each check runs against the stand-in and, in the
// MinGW build, against Wine's advapi32.
#include "support/conformance.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kMarker = 0xdeadbeef;
const HKEY kMarkerKey = reinterpret_cast<HKEY>(static_cast<uintptr_t>(kMarker));

using hmtest::CreateSubkey;
using Key = hmtest::OwnedKey;

void MakeSub(HKEY parent, const std::string& name) {
    RegCloseKey(CreateSubkey(parent, name));
}

// `size` bytes of `bytes`: a count shorter than the text stores no terminator.
LONG SetBytes(HKEY key, const char* name, DWORD type, const std::string& bytes, DWORD size) {
    return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()), size);
}

void SetString(HKEY key, const char* name, const std::string& text) {
    ASSERT_EQ(ERROR_SUCCESS,
              SetBytes(key, name, REG_SZ, text, static_cast<DWORD>(text.size() + 1)));
}

// Names by index until the first failure, joined with commas.
template <typename Enum> std::string Names(Enum enumerate) {
    std::string text;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof(name);
        if (enumerate(i, name, &size) != ERROR_SUCCESS)
            return text;
        if (i)
            text += ',';
        text.append(name, size);
    }
}

std::string SubkeyNames(HKEY key) {
    return Names([key](DWORD i, char* name, DWORD* size) {
        return RegEnumKeyExA(key, i, name, size, nullptr, nullptr, nullptr, nullptr);
    });
}

std::string ValueNames(HKEY key) {
    return Names([key](DWORD i, char* name, DWORD* size) {
        return RegEnumValueA(key, i, name, size, nullptr, nullptr, nullptr, nullptr);
    });
}

size_t Count(const std::string& names) {
    return names.empty() ? 0 : std::count(names.begin(), names.end(), ',') + 1;
}

using Registry = hmtest::ConformanceTest;

// --- enumeration order and names ---------------------------------------------------

TEST_F(Registry, EnumerationOrder) {
    for (const char* name : {"b", "A", "c", "B2"})
        MakeSub(TestKey(), name);
    EXPECT_EQ("A,b,B2,c", SubkeyNames(TestKey()));

    Key punctuation(CreateSubkey(TestKey(), "punctuation"));
    for (const char* name : {"_tail", "Zed", "apple", "[x"})
        MakeSub(punctuation.get(), name);
    const std::string order = SubkeyNames(punctuation.get());
    EXPECT_WINDOWS(order == "apple,Zed,[x,_tail",
                   ("Windows sorts by upper-cased names; got " + order).c_str());

    for (const char* name : {"zeta", "Alpha", "mid", ""})
        SetString(TestKey(), name, "x");
    SetString(TestKey(), "ZETA", "replaced");
    const std::string values = ValueNames(TestKey());
    EXPECT_EQ(4u, Count(values));
    EXPECT_WINDOWS(values == "zeta,Alpha,mid,",
                   ("creation order, a replaced value in its place; got " + values).c_str());
}

// "v12": built in steps, as GCC 12 at -O3 warns wrongly about "v" + text.
std::string ValueName(char letter, int number) {
    std::string name(1, letter);
    name += std::to_string(number);
    return name;
}

// A key with many values (the stand-in indexes them past a few dozen): a
// deletion in the middle and a replacement under another spelling keep every
// other value found, and the order.
TEST_F(Registry, ManyValuesStayFoundAfterDeletionAndReplacement) {
    Key many(CreateSubkey(TestKey(), "many"));
    for (int i = 0; i < 100; ++i) {
        const std::string name = ValueName('v', i);
        SetString(many.get(), name.c_str(), name);
    }
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(many.get(), "V10"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(many.get(), "v10"));
    SetString(many.get(), "V50", "v50");
    for (int i = 0; i < 100; ++i) {
        const std::string name = ValueName('V', i);
        char data[16] = {};
        DWORD size = sizeof(data);
        const LONG status = RegQueryValueExA(many.get(), name.c_str(), nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(data), &size);
        EXPECT_EQ(i == 10 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS, status) << name;
        if (i != 10) {
            EXPECT_EQ(ValueName('v', i), std::string(data)) << name;
        }
    }
    const std::string names = ValueNames(many.get());
    EXPECT_EQ(99u, Count(names));
    EXPECT_WINDOWS(names.find(",v9,v11,") != std::string::npos &&
                       names.find(",v49,v50,v51,") != std::string::npos,
                   ("creation order after the deletion; got " + names).c_str());

    // Deleting while enumerating: the next value moves into the deleted
    // one's place. Then a name deleted earlier comes back at the end.
    char name[16];
    for (DWORD i = 0;;) {
        DWORD size = sizeof(name);
        if (RegEnumValueA(many.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        if (std::atoi(name + 1) % 2 == 0)
            EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(many.get(), name));
        else
            ++i;
    }
    SetString(many.get(), "v10", "back");
    const struct {
        const char* name;
        const char* data;
    } kKept[] = {{"v1", "v1"}, {"V51", "v51"}, {"v99", "v99"}, {"V10", "back"}};
    for (const auto& kept : kKept) {
        char data[16] = {};
        DWORD size = sizeof(data);
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(many.get(), kept.name, nullptr, nullptr,
                                                  reinterpret_cast<BYTE*>(data), &size));
        EXPECT_STREQ(kept.data, data) << kept.name;
    }
    std::string odd;
    for (int i = 1; i < 100; i += 2) {
        odd += ValueName('v', i);
        odd += ',';
    }
    const std::string left = ValueNames(many.get());
    EXPECT_EQ(51u, Count(left));
    odd += "v10";
    EXPECT_WINDOWS(left == odd, ("creation order after deletions; got " + left).c_str());

    // Every value but the first deleted: the first keeps its data whole.
    SetString(many.get(), "v1", "kept whole, past twelve bytes");
    for (int i = 3; i < 100; i += 2)
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(many.get(), ValueName('v', i).c_str()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(many.get(), "v10"));
    char data[40] = {};
    DWORD size = sizeof(data);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(many.get(), "v1", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(data), &size));
    EXPECT_STREQ("kept whole, past twelve bytes", data);
    EXPECT_EQ("v1", ValueNames(many.get()));
}

// Subkeys created out of order, more than a key sorts in place one by one,
// still enumerate sorted, whether listed while being added or after.
TEST_F(Registry, ManySubkeysEnumerateSorted) {
    Key many(CreateSubkey(TestKey(), "subkeys"));
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        if (i)
            expected += ',';
        expected += ValueName('k', 1000 + i);
        const std::string name = ValueName('k', 1000 + (i * 7919) % 1000);
        MakeSub(many.get(), name);
        if (i == 500) {
            EXPECT_EQ(501u, Count(SubkeyNames(many.get())));
        }
    }
    MakeSub(many.get(), "K1500"); // opens the existing k1500
    EXPECT_EQ(expected, SubkeyNames(many.get()));
}

TEST_F(Registry, NamesMatchIgnoringCaseAndKeepTheFirstSpelling) {
    DWORD disposition = kMarker;
    Key first(CreateSubkey(TestKey(), "MixedCase", &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    disposition = kMarker;
    Key second(CreateSubkey(TestKey(), "MIXEDcase", &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ("MixedCase", SubkeyNames(TestKey()));

    // 1252: e9 is é, c9 is É.
    Key created(CreateSubkey(first.get(), "caf\xe9"));
    Key opened;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(first.get(), "CAF\xc9", 0, KEY_READ, opened.out()));
    EXPECT_EQ("caf\xe9", SubkeyNames(first.get()));
    SetString(created.get(), "\xe9t\xe9", "summer");
    SetString(created.get(), "\xc9T\xc9", "SUMMER");
    EXPECT_EQ("\xe9t\xe9", ValueNames(created.get()));
    char data[16] = {};
    DWORD size = sizeof(data);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(created.get(), "\xc9t\xe9", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(data), &size));
    EXPECT_STREQ("SUMMER", data);
}

// Names the ANSI code page cannot spell, as the W functions create them:
// the A functions list them with '?' for each such character, cannot open
// them by that spelling, and never take two of them for one. Their data
// reads back through the code page, and byte for byte through W.
TEST_F(Registry, NamesOutsideTheCodePageListAsQuestionMarksAndDoNotOpen) {
    const WCHAR kNamae[] = {0x540D, 0x524D, 0}, kTomodachi[] = {0x53CB, 0x9054, 0};
    // U+4E2D: Windows' best-fit table gives some characters a look-alike
    // (Ω becomes O), none this one.
    const BYTE kText[] = {0x2D, 0x4E, 0x21, 0x00, 0x00, 0x00}; // "中!"
    Key key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(TestKey(), kNamae, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, key.out(), nullptr));
    for (const WCHAR* name : {kNamae, kTomodachi})
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), name, 0, REG_SZ, kText, sizeof(kText)));
    EXPECT_EQ("??", SubkeyNames(TestKey()));
    EXPECT_EQ("??,??", ValueNames(key.get()));
    Key mangled;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(TestKey(), "??", 0, KEY_READ, mangled.out()));
    char text[8] = {};
    DWORD size = sizeof(text);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key.get(), "??", nullptr, nullptr,
                                                     reinterpret_cast<BYTE*>(text), &size));
    char name[8];
    DWORD nameSize = sizeof(name), type = 0;
    size = sizeof(text);
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key.get(), 1, name, &nameSize, nullptr, &type,
                                           reinterpret_cast<BYTE*>(text), &size));
    EXPECT_EQ(std::string("?!", 3), std::string(text, size));
    DWORD longestData = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr, nullptr, nullptr, &longestData,
                                              nullptr, nullptr));
    EXPECT_EQ(sizeof(kText), longestData);
    // As the A function, the W one stores a terminator the count left out.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.get(), nullptr, 0, REG_SZ, kText, 4));
    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(6u, size);

    Key reopened;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(TestKey(), kNamae, 0, KEY_READ, reopened.out()));
    BYTE data[16] = {};
    size = sizeof(data);
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryValueExW(reopened.get(), kTomodachi, nullptr, &type, data, &size));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(kText), sizeof(kText)),
              std::string(reinterpret_cast<const char*>(data), size));
    // The A functions cannot name it: the cleanup after the test could not either.
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(TestKey(), kNamae));
}

TEST_F(Registry, KeyNamesUpTo255Characters) {
    const std::string longest(255, 'k');
    MakeSub(TestKey(), longest);
    EXPECT_EQ(longest, SubkeyNames(TestKey()));
    HKEY key = kMarkerKey;
    const std::string tooLong(256, 'k');
    const LONG status = RegCreateKeyExA(TestKey(), tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                        nullptr, &key, nullptr);
    EXPECT_WINDOWS(status == ERROR_INVALID_PARAMETER,
                   ("longer key names are refused; got " + std::to_string(status)).c_str());
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    else
        EXPECT_EQ(longest, SubkeyNames(TestKey()));
}

// --- RegQueryInfoKeyA --------------------------------------------------------------

TEST_F(Registry, QueryInfoCountsAndLongestLengths) {
    // Subkeys, longest subkey name, values, longest value name, longest data.
    using Info = std::array<DWORD, 5>;
    auto query = [this] {
        Info info{kMarker, kMarker, kMarker, kMarker, kMarker};
        DWORD maxClass = kMarker;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryInfoKeyA(TestKey(), nullptr, nullptr, nullptr, &info[0], &info[1],
                                   &maxClass, &info[2], &info[3], &info[4], nullptr, nullptr));
        EXPECT_EQ(0u, maxClass);
        return info;
    };
    const struct {
        const char* what;
        void (*stage)(HKEY);
        Info expected;
    } cases[] = {
        {"an empty key", [](HKEY) {}, {0, 0, 0, 0, 0}},
        // String data counts in its stored UTF-16 form: "ab" is 6 bytes.
        {"a default value only", [](HKEY key) { SetString(key, nullptr, "ab"); }, {0, 0, 1, 0, 6}},
        {"a string without terminator",
         [](HKEY key) { SetBytes(key, "bare", REG_SZ, "abcX", 3); },
         {0, 0, 2, 4, 6}},
        {"subkeys and binary data",
         [](HKEY key) {
             MakeSub(key, "a");
             MakeSub(key, "abcdef");
             SetBytes(key, "bin", REG_BINARY, std::string(9, '\1'), 9);
         },
         {2, 6, 3, 4, 9}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.stage(TestKey());
        EXPECT_EQ(c.expected, query());
    }
}

// --- RegQueryValueExA --------------------------------------------------------------

TEST_F(Registry, QueryValueBuffers) {
    SetString(TestKey(), "str", "hello");
    SetBytes(TestKey(), "bin", REG_BINARY, "\x01\x02\x03", 3);
    SetBytes(TestKey(), "bare", REG_SZ, "abcX", 3);   // the byte after the three is not zero
    SetBytes(TestKey(), "counted", REG_SZ, "abc", 3); // the byte after the three is zero
    SetBytes(TestKey(), "empty", REG_SZ, "", 0);
    struct Case {
        const char* name;
        int bufferSize; // -1: no buffer
        LONG status;
        DWORD size;        // kMarker: not checked
        const char* after; // the 5-byte buffer afterwards
        DWORD type;        // kMarker: not checked
    } cases[] = {
        {"str", 5, ERROR_MORE_DATA, 6, "xxxxx", REG_SZ},
        {"str", 6, ERROR_SUCCESS, 6, "hello", REG_SZ},
        {"str", 0, ERROR_MORE_DATA, 6, "xxxxx", REG_SZ},
        {"str", -1, ERROR_SUCCESS, 6, "xxxxx", REG_SZ},
        {"bin", 2, ERROR_MORE_DATA, 3, "xxxxx", REG_BINARY},
        {"bin", 3, ERROR_SUCCESS, 3, "\1\2\3xx", REG_BINARY},
        {"counted", -1, ERROR_SUCCESS, 4, "xxxxx", REG_SZ}, // a forgotten terminator is added
        {"bare", 2, ERROR_MORE_DATA, 3, "xxxxx", REG_SZ},
        {"bare", 3, ERROR_SUCCESS, 3, "abcxx", REG_SZ},
        {"bare", 4, ERROR_SUCCESS, 3, "abc\0x", REG_SZ},
        {"empty", 0, ERROR_SUCCESS, 0, "xxxxx", REG_SZ},
        {"absent", 5, ERROR_FILE_NOT_FOUND, 5, "xxxxx", kMarker},
        {"absent", -1, ERROR_FILE_NOT_FOUND, 0, "xxxxx", kMarker},     // the size is cleared first
        {nullptr, 5, ERROR_FILE_NOT_FOUND, kMarker, "xxxxx", kMarker}, // an unset default
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name ? c.name : "(default)") + " buffer " +
                     std::to_string(c.bufferSize));
        char buffer[8] = "xxxxxxx";
        DWORD type = kMarker, size = c.bufferSize < 0 ? kMarker : DWORD(c.bufferSize);
        EXPECT_EQ(c.status,
                  RegQueryValueExA(TestKey(), c.name, nullptr, &type,
                                   c.bufferSize < 0 ? nullptr : reinterpret_cast<BYTE*>(buffer),
                                   &size));
        if (c.size != kMarker) {
            EXPECT_EQ(c.size, size);
        }
        EXPECT_EQ(std::string(c.after, 5), std::string(buffer, 5));
        if (c.type != kMarker) {
            EXPECT_EQ(c.type, type);
        }
    }
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(TestKey(), "absent"));
}

// --- RegEnumValueA / RegEnumKeyExA --------------------------------------------------

TEST_F(Registry, EnumBuffers) {
    SetString(TestKey(), "Test", "foobar");
    MakeSub(TestKey(), "four");
    struct Case {
        bool keys;
        DWORD nameSize, dataSize;
        LONG status;
        DWORD nameAfter;
        DWORD dataAfter; // 0: not checked (Windows may size or fill the data too)
    } cases[] = {
        {false, 20, 2, ERROR_MORE_DATA, 20, 7}, {false, 0, 16, ERROR_MORE_DATA, 0, 0},
        {false, 4, 16, ERROR_MORE_DATA, 4, 0},  {false, 5, 16, ERROR_SUCCESS, 4, 7},
        {true, 0, 0, ERROR_MORE_DATA, 0, 0},    {true, 4, 0, ERROR_MORE_DATA, 4, 0},
        {true, 5, 0, ERROR_SUCCESS, 4, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.keys ? "key" : "value") + " name " + std::to_string(c.nameSize) +
                     " data " + std::to_string(c.dataSize));
        char name[16] = "xxxxxxxxxx", data[16] = "xxxxxxxxxx";
        DWORD nameSize = c.nameSize, dataSize = c.dataSize, type = kMarker;
        const LONG status = c.keys ? RegEnumKeyExA(TestKey(), 0, name, &nameSize, nullptr, nullptr,
                                                   nullptr, nullptr)
                                   : RegEnumValueA(TestKey(), 0, name, &nameSize, nullptr, &type,
                                                   reinterpret_cast<BYTE*>(data), &dataSize);
        EXPECT_EQ(c.status, status);
        EXPECT_EQ(c.nameAfter, nameSize);
        if (c.status == ERROR_SUCCESS) {
            EXPECT_STREQ(c.keys ? "four" : "Test", name);
        } else if (c.keys || c.dataAfter) {
            EXPECT_STREQ("xxxxxxxxxx", name);
        }
        if (c.dataAfter) {
            EXPECT_EQ(c.dataAfter, dataSize);
            EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
            EXPECT_STREQ(c.status == ERROR_SUCCESS ? "foobar" : "xxxxxxxxxx", data);
        }
    }
    char name[16];
    DWORD size = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumValueA(TestKey(), 1, name, &size, nullptr, nullptr, nullptr, nullptr));
    size = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExA(TestKey(), 1, name, &size, nullptr, nullptr, nullptr, nullptr));
}

// --- paths and handles ------------------------------------------------------------------

TEST_F(Registry, OpenPathForms) {
    Key child(CreateSubkey(TestKey(), "child"));
    MakeSub(child.get(), "grand");
    struct Case {
        const char* subkey;
        LONG status;
    } cases[] = {
        {"child", ERROR_SUCCESS},
        {"child\\", ERROR_SUCCESS},
        {"child\\\\grand", ERROR_SUCCESS},
        {"CHILD\\GRAND\\", ERROR_SUCCESS},
        {"\\child", ERROR_BAD_PATHNAME},
        {"missing", ERROR_FILE_NOT_FOUND},
        {"child\\missing", ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.subkey);
        HKEY key = kMarkerKey;
        EXPECT_EQ(c.status, RegOpenKeyExA(TestKey(), c.subkey, 0, KEY_READ, &key));
        if (c.status == ERROR_SUCCESS)
            RegCloseKey(key);
        else
            EXPECT_EQ(nullptr, key);
    }
    // An empty subkey opens a new handle to the same key; a root stays itself.
    SetString(child.get(), "probe", "1");
    for (const char* subkey : {"", static_cast<const char*>(nullptr)}) {
        Key again;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(child.get(), subkey, 0, KEY_READ, again.out()));
        EXPECT_NE(child.get(), again.get());
        EXPECT_EQ("probe", ValueNames(again.get()));
    }
    HKEY root = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &root));
    EXPECT_EQ(HKEY_CURRENT_USER, root);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER)) << "closing a root is harmless";
    // The view bits are accepted on open and delete.
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        Key key;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(child.get(), "grand", 0, KEY_READ | view, key.out()));
    }
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyExA(child.get(), "grand", KEY_WOW64_64KEY, 0));
}

TEST_F(Registry, LeadingBackslashBelowClassesRoot) {
    const std::string name = "HivemenderTest-" + TestKeyPath().substr(TestKeyPath().find('-') + 1);
    Key created(CreateSubkey(HKEY_CLASSES_ROOT, name.c_str()));
    Key opened;
    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CLASSES_ROOT, ("\\" + name).c_str(), 0, KEY_READ, opened.out()));
    EXPECT_EQ(ERROR_SUCCESS, hmtest::DeleteTree(HKEY_CLASSES_ROOT, name));
}

TEST_F(Registry, HandleRightsAreCheckedOnUse) {
    const std::string data = "1";
    Key readOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(TestKey(), "", 0, KEY_READ, readOnly.out()));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SetBytes(readOnly.get(), "v", REG_SZ, data, 2));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(readOnly.get(), "v"));
    // Creating ignores the rights of the handle the path starts from.
    Key sub(CreateSubkey(readOnly.get(), "sub"));

    Key writeOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(TestKey(), "", 0, KEY_SET_VALUE, writeOnly.out()));
    EXPECT_EQ(ERROR_SUCCESS, SetBytes(writeOnly.get(), "v", REG_SZ, data, 2));
    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegQueryValueExA(writeOnly.get(), "v", nullptr, nullptr, nullptr, &size));
    char name[16];
    DWORD nameSize = sizeof(name);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(writeOnly.get(), 0, name, &nameSize, nullptr,
                                                 nullptr, nullptr, nullptr));
}

// --- deletion ----------------------------------------------------------------------------

TEST_F(Registry, DeleteKeyWithSubkeysIsRefused) {
    Key parent(CreateSubkey(TestKey(), "parent"));
    MakeSub(parent.get(), "kid");
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(TestKey(), "parent"));
    EXPECT_EQ("kid", SubkeyNames(parent.get()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(TestKey(), "parent\\kid"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(TestKey(), "PARENT"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(TestKey(), "parent"));
    EXPECT_EQ("", SubkeyNames(TestKey()));
}

TEST_F(Registry, HandlesOfADeletedKeyReportItDeleted) {
    Key doomed(CreateSubkey(TestKey(), "doomed"));
    SetString(doomed.get(), "v", "1");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(TestKey(), "doomed"));
    DWORD size = 0;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegQueryValueExA(doomed.get(), "v", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_KEY_DELETED, SetBytes(doomed.get(), "v", REG_SZ, "2", 2));
    char name[16];
    DWORD nameSize = sizeof(name);
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegEnumKeyExA(doomed.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    HKEY sub = nullptr;
    EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyExA(doomed.get(), "sub", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &sub, nullptr));
    EXPECT_EQ("", SubkeyNames(TestKey()));
}

// The engine's worker thread and the host thread use the registry at once.
TEST_F(Registry, ConcurrentWritersAndReaders) {
    constexpr int kPerThread = 150;
    auto writer = [this](char tag) {
        for (int i = 0; i < kPerThread; ++i) {
            const std::string name = tag + std::to_string(i);
            MakeSub(TestKey(), name);
            SetString(TestKey(), name.c_str(), name);
        }
    };
    auto reader = [this] {
        for (int i = 0; i < kPerThread; ++i) {
            SubkeyNames(TestKey());
            ValueNames(TestKey());
        }
    };
    std::thread a(writer, 'a'), b(writer, 'b'), c(reader);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(2u * kPerThread, Count(SubkeyNames(TestKey())));
    EXPECT_EQ(2u * kPerThread, Count(ValueNames(TestKey())));
}

} // namespace
