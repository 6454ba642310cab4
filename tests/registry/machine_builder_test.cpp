#include "support/conformance.h"
#include "support/machine_builder.h"

// The builder is the ground every engine test stands on: what it stages must
// be there, and under Wine nothing it staged may outlive the test.
namespace {

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\HivemenderBuilderTest\\Vendor\\App";
const char kFile[] = "C:\\HivemenderBuilderTest\\App\\app.exe";

// What the builder stages is read by every test built on it; what it must
// also do is leave nothing behind under Wine: keys and files it made go, a
// value it replaced in an existing key comes back.
TEST(MachineBuilder, LeavesNothingItStagedBehind) {
    const char existing[] = "HKEY_CURRENT_USER\\Software";
    ASSERT_EQ("(none)", hmtest::ReadText(existing, "HivemenderBuilderProbe"));
    {
        hmtest::MachineBuilder machine;
        machine.String(kKey, "Path", kFile).File(kFile, "MZ");
        machine.String(existing, "HivemenderBuilderProbe", "x");
        machine.Build();
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_EQ(kFile, hmtest::ReadText(kKey, "Path"));
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(kFile));
    }
    if (hmtest::RunningOnWine()) {
        EXPECT_FALSE(hmtest::KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\HivemenderBuilderTest"));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\HivemenderBuilderTest"));
        EXPECT_EQ("(none)", hmtest::ReadText(existing, "HivemenderBuilderProbe"));
    }
}

} // namespace
