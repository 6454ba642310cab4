#include "support/conformance.h"

#include <cstring>
#include <string>
#include <vector>

// Code pages: the engine converts between the ANSI page (1252) and UTF-16
// for every name it hands across the plug-in boundary, so a wrong byte here
// corrupts reports silently.
namespace {

std::vector<WCHAR> Wide(std::initializer_list<unsigned> units) {
    std::vector<WCHAR> wide;
    for (unsigned u : units)
        wide.push_back(static_cast<WCHAR>(u));
    return wide;
}

struct AnsiCase {
    unsigned char byte;
    unsigned unit;
};

// The 1252 table, its five unassigned bytes, and the Latin-1 half.
const AnsiCase kAnsiCases[] = {
    {0x41, 0x0041}, {0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160}, {0x8D, 0x008D},
    {0x8F, 0x008F}, {0x90, 0x0090}, {0x99, 0x2122}, {0x9D, 0x009D}, {0x9F, 0x0178},
    {0xA0, 0x00A0}, {0xC9, 0x00C9}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
};

} // namespace

TEST(CodePage, AnsiBytesMapToTheWindows1252Table) {
    char bytes[256];
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    WCHAR wide[256];
    ASSERT_EQ(256, MultiByteToWideChar(CP_ACP, 0, bytes, 256, wide, 256));
    char back[256];
    ASSERT_EQ(256, WideCharToMultiByte(CP_ACP, 0, wide, 256, back, 256, nullptr, nullptr));
    EXPECT_EQ(0, std::memcmp(bytes, back, 256)) << "every byte round-trips";

    for (UINT codePage : {UINT(CP_ACP), UINT(CP_THREAD_ACP), UINT(1252)}) {
        for (const auto& c : kAnsiCases) {
            const char in[1] = {static_cast<char>(c.byte)};
            WCHAR out[2] = {0xBEEF, 0xBEEF};
            SetLastError(0xdeadbeef);
            EXPECT_EQ(1, MultiByteToWideChar(codePage, 0, in, 1, out, 2))
                << "cp " << codePage << " byte " << unsigned(c.byte);
            EXPECT_EQ(c.unit, unsigned(out[0]))
                << "cp " << codePage << " byte " << unsigned(c.byte);
            EXPECT_EQ(0xBEEFu, unsigned(out[1])) << "wrote past the count";

            char back[2] = {'x', 'x'};
            BOOL usedDefault = 7;
            EXPECT_EQ(1, WideCharToMultiByte(codePage, 0, out, 1, back, 2, nullptr, &usedDefault));
            EXPECT_EQ(c.byte, static_cast<unsigned char>(back[0])) << "unit " << c.unit;
            EXPECT_FALSE(usedDefault) << "unit " << c.unit;
        }
    }
}

TEST(CodePage, MinusOneCountsTheTerminatorAndSizesFollowTheRules) {
    const char text[] = "abc";
    struct Case {
        int outSize;
        int expected;
        DWORD error;
    } cases[] = {
        {0, 4, 0xdeadbeef},                // size query
        {4, 4, 0xdeadbeef},                // exactly fitting
        {3, 0, ERROR_INSUFFICIENT_BUFFER}, // one too small
        {64, 4, 0xdeadbeef},               // large
    };
    const auto abc = Wide({'a', 'b', 'c', 0});
    for (const auto& c : cases) {
        WCHAR wide[64];
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.expected,
                  MultiByteToWideChar(CP_ACP, 0, text, -1, c.outSize ? wide : nullptr, c.outSize))
            << "wide size " << c.outSize;
        EXPECT_EQ(c.error, GetLastError()) << "wide size " << c.outSize;
        if (c.expected == 4 && c.outSize > 0) {
            EXPECT_EQ(0, wide[3]);
        }
        char narrow[64];
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.expected,
                  WideCharToMultiByte(CP_ACP, 0, abc.data(), -1, c.outSize ? narrow : nullptr,
                                      c.outSize, nullptr, nullptr))
            << "narrow size " << c.outSize;
        EXPECT_EQ(c.error, GetLastError()) << "narrow size " << c.outSize;
        if (c.expected == 4 && c.outSize > 0) {
            EXPECT_STREQ("abc", narrow);
        }
    }
}

TEST(CodePage, ExplicitLengthLeavesTheTerminatorOut) {
    WCHAR wide[8] = {0};
    SetLastError(0xdeadbeef);
    EXPECT_EQ(3, MultiByteToWideChar(CP_ACP, 0, "abcdef", 3, wide, 8));
    EXPECT_EQ('c', wide[2]);
    EXPECT_EQ(0, wide[3]);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", 0, wide, 8));
    EXPECT_EQ(unsigned(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST(CodePage, UnmappableCharactersUseTheDefaultCharacter) {
    // U+4E00 has no 1252 form and no best-fit replacement.
    const auto wide = Wide({'a', 0x4E00, 'b', 0});
    char narrow[8] = {0};
    BOOL usedDefault = 7;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(4, WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, narrow, 8, nullptr, &usedDefault));
    EXPECT_STREQ("a?b", narrow);
    EXPECT_TRUE(usedDefault);

    const char star[] = "*";
    usedDefault = 7;
    EXPECT_EQ(4, WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, narrow, 8, star, &usedDefault));
    EXPECT_STREQ("a*b", narrow);
    EXPECT_TRUE(usedDefault);

    // A size query reports it too.
    usedDefault = 7;
    EXPECT_EQ(4,
              WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, nullptr, 0, nullptr, &usedDefault));
    EXPECT_TRUE(usedDefault);
}

// UTF-8 has no default character to report: the documented contract
// rejects the flag pointer; Wine 8.0 converts and ignores it.
TEST(CodePage, Utf8RefusesTheUsedDefaultFlag) {
    BOOL usedDefault = 7;
    char narrow[8];
    const auto a = Wide({'a', 0});
    SetLastError(0xdeadbeef);
    const int converted =
        WideCharToMultiByte(CP_UTF8, 0, a.data(), -1, narrow, 8, nullptr, &usedDefault);
    EXPECT_WINDOWS(converted == 0 && GetLastError() == ERROR_INVALID_PARAMETER,
                   "CP_UTF8 with lpUsedDefaultChar fails with ERROR_INVALID_PARAMETER");
}

TEST(Bstr, LayoutHasByteCountPrefixAndTerminator) {
    // An embedded zero is part of the string; the copy stops at the length.
    const auto withZero = Wide({'a', 0, 'b', 'c', 'd'});
    BSTR b = SysAllocStringLen(withZero.data(), 3);
    ASSERT_NE(nullptr, b);
    DWORD prefix;
    std::memcpy(&prefix, reinterpret_cast<const char*>(b) - sizeof(DWORD), sizeof(prefix));
    EXPECT_EQ(6u, prefix);
    EXPECT_EQ('b', b[2]);
    EXPECT_EQ(0, b[3]);
    SysFreeString(b);

    b = SysAllocString(Wide({'h', 'i', '!', 0}).data());
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(3u, SysStringLen(b));
    EXPECT_EQ(0, b[3]);
    SysFreeString(b);
    EXPECT_EQ(nullptr, SysAllocString(nullptr));
    SysFreeString(nullptr);
}
