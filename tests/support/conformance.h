// Shared ground of the conformance suite: the same test sources run against
// the stand-in (Linux) and against Wine's real Win32 (MinGW x86_64 build).
//
// Every test gets a fresh, isolated place to work: natively a whole new
// simulated machine; under Wine a uniquely named key below
// HKEY_CURRENT_USER\Software and a unique folder on drive C:, both removed
// again (stale leftovers of crashed runs included).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hmtest {

// True when the Win32 underneath is Wine's (ntdll exports wine_get_version).
bool RunningOnWine();

// True for the Linux build over the stand-in.
bool RunningOnStandIn();

// Where Windows and Wine 8.0 are known to differ: the check must hold on
// Windows and on the stand-in; under Wine a failure is printed as a known
// difference instead of failing, the way Wine's own tests use todo_wine.
#define EXPECT_WINDOWS(condition, what)                                                            \
    do {                                                                                           \
        const bool hm_ok_ = static_cast<bool>(condition);                                          \
        if (::hmtest::RunningOnWine() && !hm_ok_)                                                  \
            ::hmtest::NoteWineDifference(__FILE__, __LINE__, what);                                \
        else                                                                                       \
            EXPECT_TRUE(hm_ok_) << #condition << " (" << what << ")";                              \
    } while (0)

void NoteWineDifference(const char* file, int line, const char* what);

// Skips the current test under Wine, printing why (never silently).
#define SKIP_ON_WINE(reason)                                                                       \
    do {                                                                                           \
        if (::hmtest::RunningOnWine())                                                             \
            GTEST_SKIP() << "cannot be staged under Wine: " << reason;                             \
    } while (0)

class ConformanceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh key below HKEY_CURRENT_USER, open with KEY_ALL_ACCESS.
    HKEY TestKey() const { return m_hTestKey; }
    // Its path below HKEY_CURRENT_USER, e.g. Software\HivemenderTest-1234-7.
    const std::string& TestKeyPath() const { return m_testKeyPath; }
    // A fresh, empty folder on drive C:, as a Windows path without a trailing
    // backslash, e.g. C:\hmtest-1234-7.
    const std::string& ScratchDir() const { return m_scratchDir; }

    // Creates a file (with the given bytes) or a folder below ScratchDir().
    std::string MakeFile(const std::string& relative, const std::string& bytes = "");
    std::string MakeFolder(const std::string& relative);

private:
    HKEY m_hTestKey = nullptr;
    std::string m_testKeyPath;
    std::string m_scratchDir;
};

// Closes the key it holds, before it takes another through out(); predefined
// roots are never stored here.
class OwnedKey {
public:
    OwnedKey() = default;
    explicit OwnedKey(HKEY key) : m_hKey(key) {}
    OwnedKey(const OwnedKey&) = delete;
    OwnedKey& operator=(const OwnedKey&) = delete;
    ~OwnedKey() { Close(); }
    HKEY get() const { return m_hKey; }
    HKEY* out() {
        Close();
        return &m_hKey;
    }

private:
    void Close() {
        if (m_hKey)
            RegCloseKey(m_hKey);
        m_hKey = nullptr;
    }
    HKEY m_hKey = nullptr;
};

// Creates or opens `subkey` below `parent` with every right, failing the test
// when it cannot; the caller closes the key.
HKEY CreateSubkey(HKEY parent, const std::string& subkey, DWORD* disposition = nullptr);

// A key's subkey names, and deleting a key with all below it, through the
// API alone (the conformance suite links nothing of ours).
std::vector<std::string> SubkeyList(HKEY key);
LONG DeleteTree(HKEY parent, const std::string& subkey);

// Deletes a folder and everything in it through the API.
void RemoveFolderTree(const std::string& windowsPath);

// A whole file's bytes, read through the API; "" when it cannot be opened.
std::string ReadWholeFile(const std::string& path);
// Creates or replaces a file holding `bytes`, through the API; false when it
// cannot be created.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

} // namespace hmtest
