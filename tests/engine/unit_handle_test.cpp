// Handle owners.
#include "base/owned_handle.h"
#include "support/conformance.h"
#include "tests/engine/nimbtrace_probe.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using hmtest::NimbtraceProbe;

class OwnedHandleTest : public hmtest::ConformanceTest {
protected:
    HANDLE OpenScratchFile() {
        std::string name = std::to_string(++m_files);
        name += ".txt";
        const std::string path = MakeFile(name, "x");
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file);
        return file;
    }
    int m_files = 0;

    static bool IsOpen(HANDLE handle) {
        // A zero-byte read succeeds on an open file handle only.
        char byte = 0;
        DWORD read = 0;
        return ReadFile(handle, &byte, 0, &read, nullptr) != FALSE;
    }
};

TEST_F(OwnedHandleTest, ClosesOnDestructionAndKeepsTheLastError) {
    HANDLE file = OpenScratchFile();
    {
        Orvel::THandle owner(file);
        EXPECT_TRUE(IsOpen(file));
        SetLastError(0xdeadbeef);
    }
    EXPECT_EQ(0xdeadbeefu, GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CloseHandle(file)) << "already closed by its owner";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(OwnedHandleTest, InvalidHandleValueIsStoredAsNull) {
    Orvel::THandle owner(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(owner);
    EXPECT_EQ(nullptr, owner.Get());
    Orvel::TFindHandle find(nullptr);
    EXPECT_FALSE(find);
    EXPECT_EQ(INVALID_HANDLE_VALUE, find.Get());
}

TEST_F(OwnedHandleTest, MovingHandsOwnershipOver) {
    HANDLE file = OpenScratchFile();
    Orvel::THandle first(file);
    Orvel::THandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(file, second.Get());
    first = std::move(second);
    EXPECT_EQ(file, first.Get());
    EXPECT_TRUE(IsOpen(file));
}

TEST_F(OwnedHandleTest, AssigningOverAHeldHandleLogsAndClosesTheOldOne) {
    HANDLE firstFile = OpenScratchFile();
    HANDLE secondFile = OpenScratchFile();
    Orvel::THandle owner;
    NimbtraceProbe::Reset();
    owner = firstFile; // empty before: no complaint
    EXPECT_TRUE(NimbtraceProbe::Calls().empty());
    SetLastError(1234);
    owner = secondFile;
    EXPECT_EQ(1234u, GetLastError());
    EXPECT_FALSE(IsOpen(firstFile));
    EXPECT_EQ(secondFile, owner.Get());
    auto calls = NimbtraceProbe::Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(1, calls[0].level);
    EXPECT_STREQ("Orvel::THandle<void *,0>::operator =", calls[0].function);
    EXPECT_NE(nullptr, std::strstr(calls[0].file, "owned_handle.h")) << calls[0].file;
    EXPECT_STREQ("%s - %lu", calls[0].format);
    EXPECT_STREQ("NULL == m_h - 1234", calls[0].message);
    EXPECT_TRUE(hmtest::LooksLikeBuildTimestamp(calls[0].timestamp)) << calls[0].timestamp;
}

} // namespace
