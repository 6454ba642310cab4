// The common-library calls the engine folds in.
#include "base/common_library.h"
#include "support/conformance.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(OrvelPathCombine, JoinsWithExactlyOneBackslash) {
    struct Case {
        const char* first;
        const char* second;
        const char* joined;
    } cases[] = {
        {"C:\\Windows", "System32", "C:\\Windows\\System32"},
        {"C:\\Windows\\", "System32", "C:\\Windows\\System32"},
        {"C:\\Windows\\", "\\System32", "C:\\Windows\\System32"},
        {"", "S-1-5-18", "S-1-5-18"},
        {"", "", ""},
        {"a", "", "a\\"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.joined, Orvel::PathCombineA(c.first, c.second))
            << "\"" << c.first << "\" + \"" << c.second << "\"";
}

TEST(OrvelDateTime, FormatsThePackedLocalTime) {
    EXPECT_EQ("2026/12/06 09:08:51", Orvel::FormatDateTimeA(20261206090851123LL, false));
    EXPECT_EQ("2026/12/06 09:08:51.123", Orvel::FormatDateTimeA(20261206090851123LL, true));
    EXPECT_EQ("1999/01/31 23:59:59", Orvel::FormatDateTimeA(19990131235959000LL, false));
}

class OrvelSystemTest : public hmtest::ConformanceTest {};

TEST_F(OrvelSystemTest, ModuleFolderHasNoTrailingBackslash) {
    char exe[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::string folder = Orvel::GetModulePathNameA(nullptr);
    ASSERT_FALSE(folder.empty());
    EXPECT_NE('\\', folder.back());
    EXPECT_EQ(std::string(exe, length).substr(0, folder.size() + 1), folder + "\\");
}

TEST_F(OrvelSystemTest, CreateDirectoryMakesEveryMissingParent) {
    const std::string deep = ScratchDir() + "\\Undo\\Hivemender";
    EXPECT_EQ(0u, Orvel::CreateDirectoryA(deep));
    DWORD attributes = GetFileAttributesA(deep.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
    // An existing folder is no failure.
    EXPECT_EQ(0u, Orvel::CreateDirectoryA(deep));
    // Below a file there can be no folder.
    const std::string file = MakeFile("plain.txt", "x");
    EXPECT_NE(0u, Orvel::CreateDirectoryA(file + "\\sub"));
}

} // namespace
