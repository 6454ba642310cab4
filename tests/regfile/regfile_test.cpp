// The .reg reader and writer: every construct and every error of the
// reader, and export/import round trips through the registry API that must
// give back every value byte for byte, in both of the writer's encodings.
#include "support/conformance.h"
#include "support/machine_builder.h"

#include "regfile/regfile.h"

#include <string>
#include <vector>

#ifndef _WIN32
#include <win32sim/machine.h>
#endif

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// UTF-16LE with BOM of text whose characters are given as code units.
std::vector<uint8_t> Utf16File(const std::u16string& text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    return bytes;
}

regfile::Script MustParse(const std::string& text) {
    regfile::Script script;
    std::string error;
    EXPECT_TRUE(regfile::Parse(Bytes(text), "test.reg", &script, &error)) << error;
    return script;
}

const char kHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";

// --- reading --------------------------------------------------------------------------

TEST(RegFileParse, EveryConstruct) {
    const std::string text = std::string(kHeader) + "; a comment\r\n"
                                                    "[HKEY_CURRENT_USER\\Software\\A]\r\n"
                                                    "\"plain\"=\"say \\\"hi\\\" C:\\\\dir\"\r\n"
                                                    "@=\"default\"\r\n"
                                                    "\"n\"=dword:0000002A\r\n"
                                                    "\"bin\"=hex:01,ab,\\\r\n"
                                                    "    ff\r\n"
                                                    "\"exp\"=hex(2):25,00,61,00,25,00,00,00\r\n"
                                                    "\"multi\"=hex(7):61,00,00,00,00,00\r\n"
                                                    "\"q\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                                                    "\"empty\"=hex:\r\n"
                                                    "\"gone\"=-\r\n"
                                                    "  \"spaced\" = \"ok\" ; trailing comment\r\n"
                                                    "\r\n"
                                                    "[-HKEY_CURRENT_USER\\Software\\B]\r\n"
                                                    "\"ignored\"=\"under a deleted key\"\r\n"
                                                    "[HKLM\\SOFTWARE\\C]\r\n";
    const regfile::Script script = MustParse(text);
    ASSERT_EQ(3u, script.keys.size());
    const auto& a = script.keys[0];
    EXPECT_EQ("HKEY_CURRENT_USER\\Software\\A", a.keyPath);
    EXPECT_FALSE(a.remove);
    ASSERT_EQ(10u, a.values.size());
    struct Expected {
        const char* name;
        bool isDefault;
        bool remove;
        DWORD type;
        std::string data;
    } expected[] = {
        {"plain", false, false, REG_SZ, std::string("say \"hi\" C:\\dir\0", 16)},
        {"", true, false, REG_SZ, std::string("default\0", 8)},
        {"n", false, false, REG_DWORD, std::string("\x2a\0\0\0", 4)},
        {"bin", false, false, REG_BINARY, "\x01\xab\xff"},
        {"exp", false, false, REG_EXPAND_SZ, std::string("%a%\0", 4)},
        {"multi", false, false, REG_MULTI_SZ, std::string("a\0\0", 3)},
        {"q", false, false, REG_QWORD, std::string("\x01\0\0\0\0\0\0\0", 8)},
        {"empty", false, false, REG_BINARY, ""},
        {"gone", false, true, REG_NONE, ""},
        {"spaced", false, false, REG_SZ, std::string("ok\0", 3)},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].name);
        const auto& value = a.values[i];
        EXPECT_EQ(expected[i].name, value.name);
        EXPECT_EQ(expected[i].isDefault, value.isDefault);
        EXPECT_EQ(expected[i].remove, value.remove);
        if (!value.remove) {
            EXPECT_EQ(expected[i].type, value.type);
            EXPECT_EQ(Bytes(expected[i].data), value.data);
        }
    }
    EXPECT_TRUE(script.keys[1].remove);
    EXPECT_EQ("HKEY_CURRENT_USER\\Software\\B", script.keys[1].keyPath);
    EXPECT_TRUE(script.keys[1].values.empty());
    EXPECT_EQ("HKLM\\SOFTWARE\\C", script.keys[2].keyPath);
}

TEST(RegFileParse, LfLineEndingsAndRegedit4Strings) {
    const regfile::Script script = MustParse("REGEDIT4\n"
                                             "[HKEY_USERS\\.DEFAULT\\x]\n"
                                             "\"exp\"=hex(2):25,61,25,00\n"
                                             "\"multi\"=hex(7):61,00,62,00,00\n");
    ASSERT_EQ(1u, script.keys.size());
    ASSERT_EQ(2u, script.keys[0].values.size());
    EXPECT_EQ(Bytes(std::string("%a%\0", 4)), script.keys[0].values[0].data)
        << "REGEDIT4 holds string types as ANSI bytes";
    EXPECT_EQ(Bytes(std::string("a\0b\0\0", 5)), script.keys[0].values[1].data);
}

// A UTF-16 file gives a wide script: names in UTF-8, string data as the
// file's UTF-16LE, whether 1252 spells it (U+00E9, U+20AC) or not (U+4E2D).
TEST(RegFileParse, Utf16FileIsReadExactly) {
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_CURRENT_USER\\caf\u00e9]\r\n"
                                u"\"\u20ac\"=\"\u4e2d\u00e9\"\r\n"
                                u"\"hex\"=hex(1):ac,20,2d,4e,00\r\n";
    regfile::Script script;
    std::string error;
    ASSERT_TRUE(regfile::Parse(Utf16File(text), "u.reg", &script, &error)) << error;
    ASSERT_EQ(1u, script.keys.size());
    EXPECT_TRUE(script.wide);
    EXPECT_EQ("HKEY_CURRENT_USER\\caf\xc3\xa9", script.keys[0].keyPath);
    ASSERT_EQ(2u, script.keys[0].values.size());
    EXPECT_EQ("\xe2\x82\xac", script.keys[0].values[0].name);
    EXPECT_EQ(Bytes(std::string("\x2d\x4e\xe9\0\0\0", 6)), script.keys[0].values[0].data);
    EXPECT_EQ(Bytes(std::string("\xac\x20\x2d\x4e\0", 5)), script.keys[0].values[1].data);
}

// "\k" `levels` times.
std::string Nested(int levels) {
    std::string path;
    for (int i = 0; i < levels; ++i)
        path += "\\k";
    return path;
}

TEST(RegFileParse, ErrorsNameTheLine) {
    const std::string h = "Windows Registry Editor Version 5.00\n\n"; // lines 1-2
    const std::string k = "[HKEY_CURRENT_USER\\x]\n";                 // line 3
    const struct {
        std::string text;
        int line;
    } cases[] = {
        {"REGEDIT5\n[HKEY_CURRENT_USER\\x]\n", 1},
        {"", 1},
        {h + "[HKEY_CURRENT_USER\\x\n", 3},
        {h + "\"a\"=\"b\"\n", 3},
        {h + "[HKEY_NOWHERE\\x]\n", 3},
        {h + "[-HKEY_CURRENT_USER]\n", 3},
        {h + k + "\"a\" \"b\"\n", 4},
        {h + k + "\"a=\"b\n", 4},
        {h + k + "\"a\"=dword:123456789\n", 4},
        {h + k + "\"a\"=dword:xyz\n", 4},
        {h + k + "\"a\"=dword:12 34\n", 4},
        {h + k + "\"a\"=hex:0g\n", 4},
        {h + k + "\"a\"=hex:01 02\n", 4},
        {h + k + "\"a\"=hex(zz):00\n", 4},
        {h + k + "\"a\"=hex(2)00\n", 4},
        {h + k + "\"a\"=text\n", 4},
        {h + k + "\"a\"=\"b\" junk\n", 4},
        {h + k + "\"a\"=- junk\n", 4},
        {h + k + "\n\"a\"=hex:00,\\\n", 5},
        {h + k + "\"a\"=hex:00,\\\n  01,\\\n  zz\n", 6},
        {h + k + "hello\n", 4},
        // What Windows cannot create: refused before anything is applied.
        {h + k + std::string("[HKEY_CURRENT_USER\\a\0b]\n", 24), 4},
        {h + "[HKEY_CURRENT_USER\\" + std::string(256, 'n') + "]\n", 3},
        {h + "[HKEY_CURRENT_USER" + Nested(513) + "]\n", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        regfile::Script script;
        std::string error;
        EXPECT_FALSE(regfile::Parse(Bytes(c.text), "bad.reg", &script, &error));
        const std::string prefix = "bad.reg:" + std::to_string(c.line) + ": ";
        EXPECT_EQ(prefix, error.substr(0, prefix.size())) << error;
        EXPECT_GT(error.size(), prefix.size()) << "says what is wrong";
        EXPECT_LT(error.size(), 300u) << "a long key path is shortened";
    }
    regfile::Script script;
    std::string error;
    EXPECT_TRUE(regfile::Parse(Bytes(h + "[HKEY_CURRENT_USER\\" + std::string(255, 'n') + "]\n" +
                                     "[HKEY_CURRENT_USER" + Nested(512) + "]\n"),
                               "limits.reg", &script, &error))
        << error;
}

// A file cut anywhere must read as a file or fail cleanly, never crash or
// read past its end (the sanitizer build watches).
TEST(RegFileParse, EveryPrefixOfAFileIsHandled) {
    const std::string text = std::string(kHeader) +
                             "[HKEY_CURRENT_USER\\A]\r\n\"s\"=\"a\\\\b\\\"\"\r\n"
                             "\"h\"=hex(7):61,00,\\\r\n  00,00\r\n@=dword:0000000f\r\n";
    for (size_t size = 0; size <= text.size(); ++size) {
        regfile::Script script;
        std::string error;
        if (!regfile::Parse(Bytes(text.substr(0, size)), "cut.reg", &script, &error)) {
            EXPECT_EQ(0u, error.rfind("cut.reg:", 0)) << error;
        }
    }
    std::vector<uint8_t> odd = {0xFF, 0xFE, 'W', 0, 'i'};
    regfile::Script script;
    std::string error;
    EXPECT_FALSE(regfile::Parse(odd, "odd.reg", &script, &error));
}

// --- applying and exporting ---------------------------------------------------------------

class RegFile : public hmtest::ConformanceTest {
protected:
    std::string FullPath() const { return "HKEY_CURRENT_USER\\" + TestKeyPath(); }

    HKEY Sub(const std::string& relative) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(TestKey(), relative.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        return key;
    }
    static void Set(HKEY key, const char* name, DWORD type, const std::string& bytes) {
        // A guard byte after the data keeps RegSetValueExA from adding a terminator.
        const std::string guarded = bytes + 'G';
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(guarded.data()),
                                 static_cast<DWORD>(bytes.size())))
            << name;
    }

    void BuildEveryKindOfValue() {
        HKEY key = Sub("values");
        std::string high;
        for (int c = 0x80; c <= 0xFF; ++c)
            high.push_back(static_cast<char>(c));
        Set(key, "", REG_SZ, std::string("default\0", 8));
        Set(key, "sz", REG_SZ, std::string("C:\\Program Files\\\"quoted\"\0", 26));
        Set(key, "sz high", REG_SZ, high + '\0');
        Set(key, "sz empty", REG_SZ, std::string("\0", 1));
        Set(key, "sz no bytes", REG_SZ, "");
        Set(key, "sz no terminator", REG_SZ, "abc");
        Set(key, "sz lines", REG_SZ, std::string("one\r\ntwo\nthree\0", 15));
        Set(key, "sz inner zero", REG_SZ, std::string("a\0b\0", 4));
        Set(key, "expand", REG_EXPAND_SZ, std::string("%SystemRoot%\\x\xe9\0", 17));
        Set(key, "multi", REG_MULTI_SZ, std::string("one\0\0three\0\0", 12));
        Set(key, "multi empty", REG_MULTI_SZ, std::string("\0", 1));
        Set(key, "binary", REG_BINARY, std::string("\x00\x01\xff\x7f", 4));
        Set(key, "binary empty", REG_BINARY, "");
        Set(key, "binary long", REG_BINARY, std::string(300, '\x5a'));
        Set(key, "dword", REG_DWORD, std::string("\x0a\x00\x00\x00", 4));
        Set(key, "dword short", REG_DWORD, std::string("\x01\x02", 2));
        Set(key, "qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8));
        Set(key, "none", REG_NONE, "");
        Set(key, "type 0x1234", 0x1234, "xy");
        Set(key, "name = with ] and \" and\ttab", REG_SZ, std::string("v\0", 2));
        Set(key, "back\\slash", REG_SZ, std::string("\\\\server\\\0", 10));
        Set(key, "caf\xe9 \x80", REG_SZ, std::string("\xe9\0", 2));
        RegCloseKey(key);
        RegCloseKey(Sub("values\\child\\grandchild"));
        RegCloseKey(Sub("empty key"));
        RegCloseKey(Sub("name ] with = signs"));
    }

    void RoundTrip(regfile::Encoding encoding) {
        BuildEveryKindOfValue();
        const std::string before = hmtest::SnapshotTree(FullPath());
        const std::vector<uint8_t> exported = regfile::Export({FullPath()}, encoding);

        ASSERT_EQ(ERROR_SUCCESS, hmtest::DeleteTree(TestKey(), "values"));
        ASSERT_EQ(ERROR_SUCCESS, hmtest::DeleteTree(TestKey(), "empty key"));
        ASSERT_EQ(ERROR_SUCCESS, hmtest::DeleteTree(TestKey(), "name ] with = signs"));
        ASSERT_EQ(FullPath() + "\n", hmtest::SnapshotTree(FullPath()));

        regfile::Script script;
        std::string error;
        ASSERT_TRUE(regfile::Parse(exported, "export.reg", &script, &error))
            << error << "\n"
            << std::string(exported.begin(), exported.end());
        ASSERT_EQ(ERROR_SUCCESS, regfile::Apply(script, &error)) << error;
        EXPECT_EQ(before, hmtest::SnapshotTree(FullPath()));
    }
};

TEST_F(RegFile, RoundTripAnsi) {
    RoundTrip(regfile::Encoding::Ansi);
}

TEST_F(RegFile, RoundTripUtf16) {
    RoundTrip(regfile::Encoding::Utf16le);
}

TEST_F(RegFile, ExportLooksLikeRegedit) {
    HKEY key = Sub("look");
    Set(key, "", REG_SZ, std::string("d\0", 2));
    Set(key, "dw", REG_DWORD, std::string("\x0a\0\0\0", 4));
    Set(key, "bin", REG_BINARY, "\x01\xab");
    Set(key, "exp", REG_EXPAND_SZ, std::string("%a%\0", 4));
    Set(key, "long", REG_BINARY, std::string(100, '\x11'));
    // Saves keep their bytes: a list wraps by the column of the line in
    // UTF-8 (9 bytes of name here, 6 in 1252), in both encodings.
    Set(key, "\xe9\xe9\xe9", REG_BINARY, std::string(30, '\x22'));
    RegCloseKey(key);
    const std::vector<uint8_t> bytes =
        regfile::Export({FullPath() + "\\look"}, regfile::Encoding::Ansi);
    const std::string text(bytes.begin(), bytes.end());
    const std::string head = std::string(kHeader) + "[" + FullPath() + "\\look]\r\n";
    EXPECT_EQ(head, text.substr(0, head.size()));
    for (const char* line : {"@=\"d\"\r\n", "\"dw\"=dword:0000000a\r\n", "\"bin\"=hex:01,ab\r\n",
                             "\"exp\"=hex(2):25,00,61,00,25,00,00,00\r\n",
                             "\"\xe9\xe9\xe9\"=hex:22,22,22,22,22,22,22,22,22,22,22,22,22,22,22,22,22,22,22,22,"
                             "22,22,\\\r\n  22,"})
        EXPECT_NE(std::string::npos, text.find(line)) << line << "\nin\n" << text;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(std::string::npos, end) << "every line ends in CR LF";
        EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
        start = end + 2;
    }

    const std::vector<uint8_t> wide =
        regfile::Export({FullPath() + "\\look"}, regfile::Encoding::Utf16le);
    ASSERT_GE(wide.size(), 4u);
    EXPECT_EQ(0xFF, wide[0]);
    EXPECT_EQ(0xFE, wide[1]);
    EXPECT_EQ('W', wide[2]);
    EXPECT_EQ(0, wide[3]);
    EXPECT_EQ(2 + 2 * text.size(), wide.size());
}

TEST_F(RegFile, ExportLeavesOutMissingKeys) {
    const std::vector<uint8_t> bytes =
        regfile::Export({FullPath() + "\\missing"}, regfile::Encoding::Ansi);
    EXPECT_EQ(std::string(kHeader), std::string(bytes.begin(), bytes.end()));
}

TEST_F(RegFile, ApplyDeletesKeysAndValues) {
    HKEY key = Sub("tree\\a\\b");
    RegCloseKey(key);
    key = Sub("keep");
    Set(key, "stay", REG_SZ, std::string("1\0", 2));
    Set(key, "drop", REG_SZ, std::string("2\0", 2));
    RegCloseKey(key);
    const std::string text = std::string(kHeader) + "[-" + FullPath() + "\\tree]\r\n" + "[-" +
                             FullPath() + "\\never existed]\r\n" + "[" + FullPath() +
                             "\\keep]\r\n\"drop\"=-\r\n\"never\"=-\r\n";
    const regfile::Script script = MustParse(text);
    std::string error;
    ASSERT_EQ(ERROR_SUCCESS, regfile::Apply(script, &error)) << error;
    const std::string keep = FullPath() + "\\keep\n";
    EXPECT_EQ(FullPath() + "\n" + keep + keep + "  \"stay\" = type 1: 31 00\n",
              hmtest::SnapshotTree(FullPath()));
}

TEST_F(RegFile, ApplyCreatesMissingKeysOnTheWay) {
    const regfile::Script script =
        MustParse(std::string(kHeader) + "[" + FullPath() + "\\x\\y\\z]\r\n@=dword:00000001\r\n");
    std::string error;
    ASSERT_EQ(ERROR_SUCCESS, regfile::Apply(script, &error)) << error;
    const std::string x = FullPath() + "\\x", z = x + "\\y\\z\n";
    EXPECT_EQ(FullPath() + "\n" + x + "\n" + x + "\\y\n" + z + z + "  \"\" = type 4: 01 00 00 00\n",
              hmtest::SnapshotTree(FullPath()));
}

#ifndef _WIN32
// A key the user may not write is staged through the simulated machine.
TEST_F(RegFile, ApplyStopsAtADeniedKeyAndNamesIt) {
    RegCloseKey(Sub("frozen"));
    win32sim::DenyKey(win32sim::DeniedKey{FullPath() + "\\frozen", win32sim::Denial::Write});
    const regfile::Script script = MustParse(std::string(kHeader) + "[" + FullPath() +
                                             "\\frozen]\r\n\"v\"=\"1\"\r\n[" + FullPath() +
                                             "\\after]\r\n");
    std::string error;
    EXPECT_EQ(ERROR_ACCESS_DENIED, regfile::Apply(script, &error));
    EXPECT_NE(std::string::npos, error.find("frozen")) << error;
    EXPECT_FALSE(hmtest::KeyExists(FullPath() + "\\after")) << "nothing after the failure";
    {
        win32sim::PrivilegedScope privileged;
        EXPECT_EQ(ERROR_SUCCESS, regfile::Apply(script, &error)) << error;
    }
    EXPECT_TRUE(hmtest::KeyExists(FullPath() + "\\after"));
}
#endif

} // namespace
