// How values are written into undo files: the .reg text of names and data.
#include "fix/undo_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Data(DWORD type, const std::vector<BYTE>& bytes) {
    return FormatRegData(type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

std::vector<BYTE> Bytes(const std::string& text) {
    return std::vector<BYTE>(text.begin(), text.end());
}

TEST(UndoFormat, StringsEscapeBackslashesThenQuotes) {
    EXPECT_EQ("\"C:\\\\a \\\"word\\\"\"", FormatRegString("C:\\a \"word\""));
    // A backslash before a quote: both escaped, each once.
    EXPECT_EQ("\"\\\\\\\"\"", FormatRegString("\\\""));
    EXPECT_EQ("\"\"", FormatRegString(""));
}

TEST(UndoFormat, ValueNames) {
    EXPECT_EQ("@", FormatRegValueName(""));
    EXPECT_EQ("\"Run=me\"", FormatRegValueName("Run=me"));
    EXPECT_EQ("\"a\\\\b\"", FormatRegValueName("a\\b"));
    // A line break inside a name would cut the entry line in two.
    EXPECT_EQ("\"two\\r\\nlines\"", FormatRegValueName("two\r\nlines"));
}

TEST(UndoFormat, DataByType) {
    struct Case {
        const char* what;
        DWORD type;
        std::vector<BYTE> bytes;
        const char* expected;
    };
    const Case cases[] = {
        {"one-line string", REG_SZ, Bytes(std::string("C:\\x\0", 5)), "\"C:\\\\x\""},
        {"binary", REG_BINARY, {1, 171}, "hex:01,ab"},
        {"empty binary", REG_BINARY, {}, "hex:"},
        {"expand string", REG_EXPAND_SZ, Bytes(std::string("%a%\0", 4)),
         "hex(2):25,00,61,00,25,00,00,00"},
        {"multi string", REG_MULTI_SZ, Bytes(std::string("a\0b\0\0", 5)),
         "hex(7):61,00,00,00,62,00,00,00,00,00"},
        {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}, "hex(b):01,02,03,04,05,06,07,08"},
        {"none", REG_NONE, {0xff}, "hex(0):ff"},
        {"type beyond the named ones", 0x12345, {0}, "hex(12345):00"},
        {"empty expand string", REG_EXPAND_SZ, {}, "hex(2):"},
        {"dword", REG_DWORD, {10, 0, 0, 0}, "dword:0000000a"},
        {"dword, little-endian", REG_DWORD, {0x78, 0x56, 0x34, 0xf2}, "dword:f2345678"},
        {"dword of two bytes", REG_DWORD, {10, 0}, "hex(4):0a,00"},
        {"dword of five bytes", REG_DWORD, {1, 0, 0, 0, 2}, "hex(4):01,00,00,00,02"},
        // The ",00 after every byte" shortcut would give e9,00 for the euro
        // sign's 0x80 byte too; the .reg reader needs the real UTF-16 unit.
        {"expand string, ANSI", REG_EXPAND_SZ, {0x80, 0xe9, 0}, "hex(2):ac,20,e9,00,00,00"},
        {"multi string, ANSI", REG_MULTI_SZ, {0x80, 0, 0}, "hex(7):ac,20,00,00,00,00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Data(c.type, c.bytes)) << c.what;
}

TEST(UndoFormat, StringsAQuotedLineCannotCarryGoOutAsUtf16Hex) {
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        const char* expected;
    };
    const Case cases[] = {
        {"line feed", Bytes(std::string("a\nb\0", 4)), "hex(1):61,00,0a,00,62,00,00,00"},
        {"carriage return", Bytes(std::string("a\r\0", 3)), "hex(1):61,00,0d,00,00,00"},
        {"inner zero", Bytes(std::string("a\0b\0", 4)), "hex(1):61,00,00,00,62,00,00,00"},
        {"no terminator", Bytes("ab"), "hex(1):61,00,62,00"},
        {"no bytes", {}, "hex(1):"},
        // Windows-1252: 0xe9 is U+00E9, 0x80 the euro sign U+20AC.
        {"high ANSI with a break", {0xe9, 0x80, '\n', 0}, "hex(1):e9,00,ac,20,0a,00,00,00"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, Data(REG_SZ, c.bytes)) << c.what;
}

TEST(UndoFormat, LongDataStaysOnOneLine) {
    const std::string text = Data(REG_BINARY, std::vector<BYTE>(1000, 0x5a));
    EXPECT_EQ(std::string::npos, text.find_first_of("\r\n\\ "));
    EXPECT_EQ(4u + 1000 * 3 - 1, text.size());
}

} // namespace
