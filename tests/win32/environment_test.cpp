// Environment variables, their expansion, and the folders Windows reports.
#include "support/conformance.h"
#include "support/text.h"

#include <cstring>

namespace {

using hmtest::EqualNoCase;

constexpr DWORD kMarker = 0xdeadbeef;

class EnvironmentTest : public hmtest::ConformanceTest {
protected:
    void SetUp() override {
        hmtest::ConformanceTest::SetUp();
        ASSERT_TRUE(SetEnvironmentVariableA("HMV", "val"));
        ASSERT_TRUE(SetEnvironmentVariableA("HM EMPTY", ""));
    }
    void TearDown() override {
        SetEnvironmentVariableA("HMV", nullptr);
        SetEnvironmentVariableA("HM EMPTY", nullptr);
        hmtest::ConformanceTest::TearDown();
    }
};

TEST_F(EnvironmentTest, ExpandCountsTheTerminatingZero) {
    const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {"abc", "abc"},
        {"", ""},
        {"%HMV%", "val"},
        {"%hmv%x", "valx"},
        {"%HMV%%HMV%", "valval"},
        {"<%HMV%>", "<val>"},
        {"%nope%", "%nope%"},
        {"%no such var%", "%no such var%"},
        {"%HM EMPTY%.", "."},
        {"50%", "50%"},
        {"%%", "%%"},
        {"%HMV", "%HMV"},
        {"a%=x%b", "a%=x%b"},
    };
    for (const auto& test : cases) {
        char buffer[256];
        std::memset(buffer, 'x', sizeof(buffer));
        const DWORD size = ExpandEnvironmentStringsA(test.source, buffer, sizeof(buffer));
        EXPECT_EQ(strlen(test.expected) + 1, size) << "[" << test.source << "]";
        EXPECT_STREQ(test.expected, buffer) << "[" << test.source << "]";
    }
}

TEST_F(EnvironmentTest, ExpandWithTooSmallBuffers) {
    // "%HMV%" expands to 3 characters: 4 with the zero.
    char buffer[16];
    std::strcpy(buffer, "foo");
    DWORD size = ExpandEnvironmentStringsA("%HMV%", buffer, 5);
    EXPECT_EQ(4u, size);
    EXPECT_STREQ("val", buffer);

    std::strcpy(buffer, "foo");
    size = ExpandEnvironmentStringsA("%HMV%", buffer, 4);
    EXPECT_WINDOWS(size == 5 && buffer[0] == '\0',
                   "Windows' ANSI form wants one byte more and writes an empty string");
    std::strcpy(buffer, "foo");
    size = ExpandEnvironmentStringsA("%HMV%", buffer, 3);
    EXPECT_WINDOWS(size == 5 && buffer[0] == '\0',
                   "Windows' ANSI form asks for len+2; Wine asks for len+1 and cuts the text");
    EXPECT_GE(size, 4u);
    size = ExpandEnvironmentStringsA("%HMV%", nullptr, 0);
    EXPECT_WINDOWS(size == 5, "Windows' ANSI form asks for len+2 when sizing");
    EXPECT_GE(size, 4u);
}

TEST_F(EnvironmentTest, GetVariableReturnRules) {
    char buffer[64];
    SetLastError(kMarker);
    EXPECT_EQ(4u, GetEnvironmentVariableA("HMV", nullptr, 0));
    std::strcpy(buffer, "foo");
    EXPECT_EQ(4u, GetEnvironmentVariableA("HMV", buffer, 3)); // no room for the zero
    EXPECT_STREQ("foo", buffer);
    EXPECT_EQ(3u, GetEnvironmentVariableA("HMV", buffer, 4));
    EXPECT_STREQ("val", buffer);
    std::strcpy(buffer, "foo");
    EXPECT_EQ(3u, GetEnvironmentVariableA("hmV", buffer, sizeof(buffer)));
    EXPECT_STREQ("val", buffer);
    EXPECT_EQ(kMarker, GetLastError());

    // An empty value: 0 like a missing one, but the buffer is set and no error.
    std::strcpy(buffer, "foo");
    SetLastError(0);
    EXPECT_EQ(0u, GetEnvironmentVariableA("hm empty", buffer, sizeof(buffer)));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_STREQ("", buffer);
    std::strcpy(buffer, "foo");
    EXPECT_EQ(1u, GetEnvironmentVariableA("HM EMPTY", buffer, 0));
    EXPECT_STREQ("foo", buffer);

    for (const char* missing : {"HM NOT THERE", ""}) {
        std::strcpy(buffer, "foo");
        SetLastError(kMarker);
        EXPECT_EQ(0u, GetEnvironmentVariableA(missing, buffer, sizeof(buffer))) << missing;
        EXPECT_EQ(static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND), GetLastError()) << missing;
        EXPECT_STREQ("foo", buffer);
    }
}

TEST_F(EnvironmentTest, DirectoryBuffersExactTooSmallAndLarge) {
    const struct {
        const char* what;
        UINT (*call)(LPSTR, UINT);
    } calls[] = {
        {"GetWindowsDirectoryA", [](LPSTR b, UINT size) { return GetWindowsDirectoryA(b, size); }},
        {"GetSystemDirectoryA", [](LPSTR b, UINT size) { return GetSystemDirectoryA(b, size); }}};
    for (const auto& test : calls) {
        char full[MAX_PATH];
        SetLastError(kMarker);
        const UINT length = test.call(full, sizeof(full));
        ASSERT_GT(length, 3u) << test.what;
        EXPECT_EQ(kMarker, GetLastError()) << test.what;
        EXPECT_EQ(length, strlen(full)) << test.what;
        char buffer[MAX_PATH];
        std::strcpy(buffer, "foo");
        EXPECT_EQ(length + 1, test.call(buffer, length)) << test.what;
        EXPECT_STREQ("foo", buffer) << test.what;
        EXPECT_EQ(length, test.call(buffer, length + 1)) << test.what;
        EXPECT_STREQ(full, buffer) << test.what;
    }
}

TEST_F(EnvironmentTest, SystemFoldersLieInTheWindowsFolder) {
    char windows[MAX_PATH], system[MAX_PATH], expanded[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    GetSystemDirectoryA(system, sizeof(system));
    EXPECT_PRED2(EqualNoCase, std::string(windows) + "\\system32", system);
    ExpandEnvironmentStringsA("%SystemRoot%|%windir%", expanded, sizeof(expanded));
    EXPECT_EQ(std::string(windows) + "|" + windows, expanded);
    for (const char* folder : {windows, system}) {
        const DWORD attributes = GetFileAttributesA(folder);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes) << folder;
        EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_DIRECTORY) << folder;
    }
}

} // namespace
