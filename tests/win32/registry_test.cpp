// Registry behaviour the engine relies on: enumeration order, buffer rules,
// names, paths and deletion. Each check runs against the stand-in and, in the
// MinGW build, against Wine's advapi32.
#include "support/conformance.h"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kMarker = 0xdeadbeef;

// Closes the key it holds; predefined roots are never stored here.
class Key {
public:
    Key() = default;
    explicit Key(HKEY key) : m_hKey(key) {}
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (m_hKey)
            RegCloseKey(m_hKey);
    }
    HKEY get() const { return m_hKey; }
    HKEY* out() { return &m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

class Registry : public hmtest::ConformanceTest {
protected:
    HKEY CreateSub(HKEY parent, const char* name, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, disposition))
            << name;
        return key;
    }
    void MakeSub(HKEY parent, const char* name) { RegCloseKey(CreateSub(parent, name)); }

    void SetString(HKEY key, const char* name, const std::string& text) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)));
    }
    void SetBytes(HKEY key, const char* name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())));
    }

    static std::vector<std::string> SubkeyNames(HKEY key) {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD size = sizeof(name);
            if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.emplace_back(name, size);
        }
        return names;
    }
    static std::vector<std::string> ValueNames(HKEY key) {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD size = sizeof(name);
            if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.emplace_back(name, size);
        }
        return names;
    }
};

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names)
        text += (text.empty() ? "" : ",") + name;
    return text;
}

// --- enumeration order ----------------------------------------------------------

TEST_F(Registry, SubkeysEnumerateSortedIgnoringCase) {
    for (const char* name : {"b", "A", "c", "B2"})
        MakeSub(TestKey(), name);
    EXPECT_EQ("A,b,B2,c", Join(SubkeyNames(TestKey())));
}

TEST_F(Registry, PunctuationBetweenZAndaSortsAfterLetters) {
    for (const char* name : {"_tail", "Zed", "apple", "[x"})
        MakeSub(TestKey(), name);
    const std::string order = Join(SubkeyNames(TestKey()));
    EXPECT_WINDOWS(order == "apple,Zed,[x,_tail",
                   ("Windows sorts by upper-cased names; got " + order).c_str());
}

TEST_F(Registry, ValuesEnumerateInCreationOrder) {
    for (const char* name : {"zeta", "Alpha", "mid", ""})
        SetString(TestKey(), name, "x");
    const std::string order = Join(ValueNames(TestKey()));
    EXPECT_WINDOWS(order == "zeta,Alpha,mid,", ("creation order; got " + order).c_str());
}

TEST_F(Registry, ReplacedValueKeepsItsPlace) {
    SetString(TestKey(), "first", "1");
    SetString(TestKey(), "second", "2");
    SetString(TestKey(), "FIRST", "one");
    EXPECT_EQ(2u, ValueNames(TestKey()).size());
    EXPECT_WINDOWS(Join(ValueNames(TestKey())) == "first,second", "creation order");
}

// --- names ---------------------------------------------------------------------

TEST_F(Registry, KeyNamesMatchIgnoringCaseAndKeepFirstSpelling) {
    DWORD disposition = kMarker;
    Key first(CreateSub(TestKey(), "MixedCase", &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    disposition = kMarker;
    Key second(CreateSub(TestKey(), "MIXEDcase", &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ("MixedCase", Join(SubkeyNames(TestKey())));
}

TEST_F(Registry, AnsiNamesMatchTheirOtherCase) {
    // 1252: e9 is é, c9 is É.
    Key created(CreateSub(TestKey(), "caf\xe9"));
    Key opened;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(TestKey(), "CAF\xc9", 0, KEY_READ, opened.out()));
    EXPECT_EQ("caf\xe9", Join(SubkeyNames(TestKey())));

    SetString(created.get(), "\xe9t\xe9", "summer");
    SetString(created.get(), "\xc9T\xc9", "SUMMER");
    EXPECT_EQ("\xe9t\xe9", Join(ValueNames(created.get())));
    char data[16] = {};
    DWORD size = sizeof(data);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(created.get(), "\xc9t\xe9", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(data), &size));
    EXPECT_STREQ("SUMMER", data);
}

TEST_F(Registry, HighAnsiDataRoundTrips) {
    std::string text;
    for (int c = 0x80; c <= 0xFF; ++c)
        text.push_back(static_cast<char>(c));
    SetString(TestKey(), "high", text);
    std::string back(text.size() + 1, 'x');
    DWORD size = static_cast<DWORD>(back.size());
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(TestKey(), "high", nullptr, nullptr,
                                              reinterpret_cast<BYTE*>(back.data()), &size));
    EXPECT_EQ(text.size() + 1, size);
    EXPECT_EQ(text + '\0', back);
}

TEST_F(Registry, KeyNamesUpTo255Characters) {
    const std::string longest(255, 'k');
    MakeSub(TestKey(), longest.c_str());
    EXPECT_EQ(longest, Join(SubkeyNames(TestKey())));
    HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(kMarker));
    const std::string tooLong(256, 'k');
    const LONG status = RegCreateKeyExA(TestKey(), tooLong.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                        nullptr, &key, nullptr);
    EXPECT_WINDOWS(status == ERROR_INVALID_PARAMETER,
                   ("longer key names are refused; got " + std::to_string(status)).c_str());
    if (status == ERROR_SUCCESS)
        RegCloseKey(key);
    else
        EXPECT_EQ(1u, SubkeyNames(TestKey()).size());
}

// --- RegQueryInfoKeyA -----------------------------------------------------------

TEST_F(Registry, QueryInfoReportsCountsAndLongestLengths) {
    MakeSub(TestKey(), "a");
    MakeSub(TestKey(), "abcdef");
    SetString(TestKey(), "", "hello");
    SetBytes(TestKey(), "bin", REG_BINARY, std::string(9, '\1'));
    DWORD subkeys = kMarker, maxSubkey = kMarker, maxClass = kMarker, values = kMarker,
          maxName = kMarker, maxData = kMarker;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(TestKey(), nullptr, nullptr, nullptr, &subkeys, &maxSubkey,
                               &maxClass, &values, &maxName, &maxData, nullptr, nullptr));
    EXPECT_EQ(2u, subkeys);
    EXPECT_EQ(6u, maxSubkey);
    EXPECT_EQ(0u, maxClass);
    EXPECT_EQ(2u, values);
    EXPECT_EQ(3u, maxName);
    EXPECT_EQ(12u, maxData) << "string data counts in its stored UTF-16 form";
}

TEST_F(Registry, QueryInfoOfAnEmptyKeyAndOfADefaultValueOnly) {
    DWORD values = kMarker, maxName = kMarker, maxData = kMarker;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(TestKey(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, &maxName, &maxData, nullptr, nullptr));
    EXPECT_EQ(0u, values);
    EXPECT_EQ(0u, maxName);
    EXPECT_EQ(0u, maxData);
    SetString(TestKey(), nullptr, "ab");
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(TestKey(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               &values, &maxName, &maxData, nullptr, nullptr));
    EXPECT_EQ(1u, values);
    EXPECT_EQ(0u, maxName);
    EXPECT_EQ(6u, maxData);
}

// --- RegQueryValueExA -------------------------------------------------------------

TEST_F(Registry, QueryValueBufferSizes) {
    SetString(TestKey(), "str", "hello");
    SetBytes(TestKey(), "bin", REG_BINARY, "\x01\x02\x03");
    struct Case {
        const char* name;
        DWORD bufferSize;
        LONG status;
        DWORD reportedSize;
        bool written;
    } cases[] = {
        {"str", 5, ERROR_MORE_DATA, 6, false}, {"str", 6, ERROR_SUCCESS, 6, true},
        {"str", 7, ERROR_SUCCESS, 6, true},    {"str", 0, ERROR_MORE_DATA, 6, false},
        {"bin", 2, ERROR_MORE_DATA, 3, false}, {"bin", 3, ERROR_SUCCESS, 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " buffer " + std::to_string(c.bufferSize));
        BYTE buffer[8];
        std::memset(buffer, 'x', sizeof(buffer));
        DWORD type = kMarker, size = c.bufferSize;
        EXPECT_EQ(c.status, RegQueryValueExA(TestKey(), c.name, nullptr, &type, buffer, &size));
        EXPECT_EQ(c.reportedSize, size);
        EXPECT_EQ(std::string(c.name) == "str" ? DWORD{REG_SZ} : DWORD{REG_BINARY}, type);
        EXPECT_EQ(c.written, buffer[0] != 'x');
    }
}

TEST_F(Registry, QueryValueSizeOnly) {
    SetString(TestKey(), "str", "hello");
    DWORD type = kMarker, size = kMarker;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(TestKey(), "str", nullptr, &type, nullptr, &size));
    EXPECT_EQ(6u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(Registry, MissingValues) {
    BYTE buffer[4] = {'x', 'x', 'x', 'x'};
    DWORD size = sizeof(buffer);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(TestKey(), "absent", nullptr, nullptr, buffer, &size));
    EXPECT_EQ(sizeof(buffer), size);
    EXPECT_EQ('x', buffer[0]);

    size = kMarker;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(TestKey(), "absent", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(0u, size) << "a size given without a buffer is cleared first";

    size = sizeof(buffer);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExA(TestKey(), nullptr, nullptr, nullptr, buffer, &size))
        << "an unset default value";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(TestKey(), "absent"));
}

TEST_F(Registry, SetValueAddsAForgottenTerminator) {
    const char text[] = "abc"; // the byte after the counted three is zero
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(TestKey(), "counted", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(text), 3));
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS,
              RegQueryValueExA(TestKey(), "counted", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(4u, size);
}

TEST_F(Registry, StringStoredWithoutTerminator) {
    const char text[] = "abcX"; // the byte after the counted three is not zero
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExA(TestKey(), "bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3));
    struct Case {
        DWORD bufferSize;
        LONG status;
        const char* expected; // buffer contents afterwards, 5 bytes
    } cases[] = {
        {2, ERROR_MORE_DATA, "xxxxx"},
        {3, ERROR_SUCCESS, "abcxx"},
        {4, ERROR_SUCCESS, "abc\0x"},
        {5, ERROR_SUCCESS, "abc\0x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("buffer " + std::to_string(c.bufferSize));
        char buffer[5] = {'x', 'x', 'x', 'x', 'x'};
        DWORD size = c.bufferSize;
        EXPECT_EQ(c.status, RegQueryValueExA(TestKey(), "bare", nullptr, nullptr,
                                             reinterpret_cast<BYTE*>(buffer), &size));
        EXPECT_EQ(3u, size);
        EXPECT_EQ(std::string(c.expected, 5), std::string(buffer, 5));
    }
    DWORD maxData = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyA(TestKey(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, &maxData, nullptr, nullptr));
    EXPECT_EQ(6u, maxData);
}

TEST_F(Registry, EmptyString) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(TestKey(), "empty", 0, REG_SZ, nullptr, 0));
    BYTE buffer[2] = {'x', 'x'};
    DWORD type = kMarker, size = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(TestKey(), "empty", nullptr, &type, buffer, &size));
    EXPECT_EQ(0u, size);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ('x', buffer[0]);
}

// --- RegEnumValueA / RegEnumKeyExA ---------------------------------------------------

TEST_F(Registry, EnumValueDataTooSmall) {
    SetString(TestKey(), "Test", "foobar");
    char name[16], data[16];
    std::strcpy(name, "xxxxxxxxxx");
    std::strcpy(data, "xxxxxxxxxx");
    DWORD nameSize = 20, dataSize = 2, type = kMarker;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(TestKey(), 0, name, &nameSize, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data), &dataSize));
    EXPECT_EQ(20u, nameSize);
    EXPECT_EQ(7u, dataSize);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_STREQ("xxxxxxxxxx", name);
    EXPECT_STREQ("xxxxxxxxxx", data);
}

TEST_F(Registry, EnumValueNameTooSmall) {
    SetString(TestKey(), "Test", "foobar");
    for (DWORD capacity : {0u, 1u, 4u}) {
        SCOPED_TRACE("name capacity " + std::to_string(capacity));
        char name[16], data[16];
        std::strcpy(name, "xxxxxxxxxx");
        DWORD nameSize = capacity, dataSize = sizeof(data);
        EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(TestKey(), 0, name, &nameSize, nullptr, nullptr,
                                                 reinterpret_cast<BYTE*>(data), &dataSize));
        EXPECT_EQ(capacity, nameSize);
    }
    char name[16];
    DWORD nameSize = 5;
    EXPECT_EQ(ERROR_SUCCESS,
              RegEnumValueA(TestKey(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(4u, nameSize);
    EXPECT_STREQ("Test", name);
}

TEST_F(Registry, EnumValuePastTheEnd) {
    SetString(TestKey(), "only", "1");
    char name[16];
    DWORD nameSize = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumValueA(TestKey(), 1, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
}

TEST_F(Registry, EnumKeyNameBufferSizes) {
    MakeSub(TestKey(), "four");
    for (DWORD capacity : {0u, 1u, 4u}) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        char name[8] = "xxxxxxx";
        DWORD size = capacity;
        EXPECT_EQ(ERROR_MORE_DATA,
                  RegEnumKeyExA(TestKey(), 0, name, &size, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(capacity, size);
        EXPECT_STREQ("xxxxxxx", name);
    }
    char name[8] = "xxxxxxx";
    DWORD size = 5;
    EXPECT_EQ(ERROR_SUCCESS,
              RegEnumKeyExA(TestKey(), 0, name, &size, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(4u, size);
    EXPECT_STREQ("four", name);
    size = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExA(TestKey(), 1, name, &size, nullptr, nullptr, nullptr, nullptr));
}

// --- paths -----------------------------------------------------------------------------

TEST_F(Registry, OpenPathForms) {
    Key child(CreateSub(TestKey(), "child"));
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
        HKEY key = reinterpret_cast<HKEY>(static_cast<uintptr_t>(kMarker));
        EXPECT_EQ(c.status, RegOpenKeyExA(TestKey(), c.subkey, 0, KEY_READ, &key));
        if (c.status == ERROR_SUCCESS)
            RegCloseKey(key);
        else
            EXPECT_EQ(nullptr, key);
    }
}

TEST_F(Registry, EmptySubkeyOpensTheSameKey) {
    SetString(TestKey(), "probe", "1");
    for (const char* subkey : {"", static_cast<const char*>(nullptr)}) {
        Key again;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(TestKey(), subkey, 0, KEY_READ, again.out()));
        EXPECT_NE(TestKey(), again.get()) << "a new handle";
        EXPECT_EQ("probe", Join(ValueNames(again.get())));
    }
    HKEY root = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_READ, &root));
    EXPECT_EQ(HKEY_CURRENT_USER, root);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER)) << "closing a root is harmless";
}

TEST_F(Registry, LeadingBackslashBelowClassesRoot) {
    const std::string name = "HivemenderTest-" + TestKeyPath().substr(TestKeyPath().find('-') + 1);
    Key created;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, created.out(), nullptr));
    Key opened;
    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_CLASSES_ROOT, ("\\" + name).c_str(), 0, KEY_READ, opened.out()));
    EXPECT_EQ(ERROR_SUCCESS, hmtest::DeleteTree(HKEY_CLASSES_ROOT, name));
}

TEST_F(Registry, InvalidHandles) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExA(nullptr, "x", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
    HKEY closing = CreateSub(TestKey(), "closing");
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(closing));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(closing));
}

// --- deletion ---------------------------------------------------------------------------

TEST_F(Registry, DeleteKeyWithSubkeysIsRefused) {
    Key parent(CreateSub(TestKey(), "parent"));
    MakeSub(parent.get(), "kid");
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(TestKey(), "parent"));
    EXPECT_EQ("kid", Join(SubkeyNames(parent.get())));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(TestKey(), "parent\\kid"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(TestKey(), "PARENT"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(TestKey(), "parent"));
    EXPECT_EQ("", Join(SubkeyNames(TestKey())));
}

TEST_F(Registry, HandlesOfADeletedKeyReportItDeleted) {
    Key doomed(CreateSub(TestKey(), "doomed"));
    SetString(doomed.get(), "v", "1");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(TestKey(), "doomed"));
    DWORD size = 0;
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegQueryValueExA(doomed.get(), "v", nullptr, nullptr, nullptr, &size));
    const BYTE data[] = "2";
    EXPECT_EQ(ERROR_KEY_DELETED, RegSetValueExA(doomed.get(), "v", 0, REG_SZ, data, 2));
    char name[16];
    DWORD nameSize = sizeof(name);
    EXPECT_EQ(ERROR_KEY_DELETED,
              RegEnumKeyExA(doomed.get(), 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    HKEY sub = nullptr;
    EXPECT_EQ(ERROR_KEY_DELETED, RegCreateKeyExA(doomed.get(), "sub", 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &sub, nullptr));
    EXPECT_EQ("", Join(SubkeyNames(TestKey())));
}

TEST_F(Registry, HandleRightsAreCheckedOnUse) {
    Key readOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(TestKey(), "", 0, KEY_READ, readOnly.out()));
    const BYTE data[] = "1";
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(readOnly.get(), "v", 0, REG_SZ, data, 2));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(readOnly.get(), "v"));
    // Creating ignores the rights of the handle the path starts from.
    Key sub;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(readOnly.get(), "sub", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, sub.out(), nullptr));

    Key writeOnly;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(TestKey(), "", 0, KEY_SET_VALUE, writeOnly.out()));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(writeOnly.get(), "v", 0, REG_SZ, data, 2));
    DWORD size = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegQueryValueExA(writeOnly.get(), "v", nullptr, nullptr, nullptr, &size));
    char name[16];
    DWORD nameSize = sizeof(name);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(writeOnly.get(), 0, name, &nameSize, nullptr,
                                                 nullptr, nullptr, nullptr));
}

TEST_F(Registry, ViewBitsAreAccepted) {
    MakeSub(TestKey(), "viewed");
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        Key key;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(TestKey(), "viewed", 0, KEY_READ | view, key.out()));
    }
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyExA(TestKey(), "viewed", KEY_WOW64_64KEY, 0));
}

// The engine's worker thread and the host thread use the registry at once.
TEST_F(Registry, ConcurrentWritersAndReaders) {
    constexpr int kPerThread = 150;
    auto writer = [this](char tag) {
        for (int i = 0; i < kPerThread; ++i) {
            std::string name(1, tag);
            name += std::to_string(i);
            HKEY key = nullptr;
            if (RegCreateKeyExA(TestKey(), name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                &key, nullptr) != ERROR_SUCCESS)
                continue;
            RegSetValueExA(TestKey(), name.c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(name.c_str()),
                           static_cast<DWORD>(name.size() + 1));
            RegCloseKey(key);
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
    EXPECT_EQ(2u * kPerThread, SubkeyNames(TestKey()).size());
    EXPECT_EQ(2u * kPerThread, ValueNames(TestKey()).size());
}

} // namespace
