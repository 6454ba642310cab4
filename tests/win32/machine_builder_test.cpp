#include "support/conformance.h"
#include "support/machine_builder.h"

// The builder is the ground every engine test stands on: what it stages must
// be there, and under Wine nothing it staged may outlive the test.
namespace {

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\HivemenderBuilderTest\\Vendor\\App";
const char kFile[] = "C:\\HivemenderBuilderTest\\App\\app.exe";

TEST(MachineBuilder, StagesKeysValuesAndFilesThenRemovesThem) {
    {
        hmtest::MachineBuilder machine;
        machine.String(kKey, "Path", kFile).Dword(kKey, "Count", 7).File(kFile, "MZ");
        machine.Build();
        ASSERT_FALSE(HasFatalFailure());

        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_TRUE(hmtest::ReadValue(kKey, "Path", &type, &data));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_EQ(std::string(kFile), std::string(data.begin(), data.end() - 1));
        ASSERT_TRUE(hmtest::ReadValue(kKey, "Count", &type, &data));
        EXPECT_EQ((std::vector<BYTE>{7, 0, 0, 0}), data);
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE),
                  GetFileAttributesA(kFile) & FILE_ATTRIBUTE_ARCHIVE);
    }
    if (hmtest::RunningOnWine()) {
        EXPECT_FALSE(hmtest::KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\HivemenderBuilderTest"));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\HivemenderBuilderTest"));
    }
}

TEST(MachineBuilder, RestoresAValueItReplacedInAnExistingKey) {
    const char existing[] = "HKEY_CURRENT_USER\\Software";
    DWORD type;
    std::vector<BYTE> data;
    ASSERT_FALSE(hmtest::ReadValue(existing, "HivemenderBuilderProbe", &type, &data));
    {
        hmtest::MachineBuilder machine;
        machine.String(existing, "HivemenderBuilderProbe", "x");
        machine.Build();
        EXPECT_TRUE(hmtest::ReadValue(existing, "HivemenderBuilderProbe", &type, &data));
    }
    if (hmtest::RunningOnWine()) {
        EXPECT_FALSE(hmtest::ReadValue(existing, "HivemenderBuilderProbe", &type, &data));
    }
}

TEST(MachineBuilder, SkipsUnderWineWhatWineCannotStage) {
    hmtest::MachineBuilder machine;
    machine.Administrator(false).Drive('E', DRIVE_CDROM);
    machine.Build();
    if (IsSkipped())
        return;
    EXPECT_FALSE(hmtest::RunningOnWine());
    EXPECT_EQ(static_cast<UINT>(DRIVE_CDROM), GetDriveTypeA("E:\\"));
}

} // namespace
