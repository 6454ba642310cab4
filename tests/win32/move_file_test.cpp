// MoveFileExA, which the stand-in's profile writer renames its new file with:
// the same answers natively and under Wine.
#include "support/conformance.h"

namespace {

using MoveFileTest = hmtest::ConformanceTest;
using hmtest::ReadWholeFile;

TEST_F(MoveFileTest, RenamesAndReplacesOnlyWhenAsked) {
    const std::string from = MakeFile("new.tmp", "fresh");
    const std::string to = MakeFile("Target.ini", "old");

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ("old", ReadWholeFile(to));

    // Any letter case names the file it replaces.
    const std::string otherCase = ScratchDir() + "\\TARGET.INI";
    EXPECT_TRUE(MoveFileExA(from.c_str(), otherCase.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ("fresh", ReadWholeFile(to));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(from.c_str()));

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

    const std::string moved = ScratchDir() + "\\moved.ini";
    EXPECT_TRUE(MoveFileExA(to.c_str(), moved.c_str(), 0));
    EXPECT_EQ("fresh", ReadWholeFile(moved));
}

} // namespace
