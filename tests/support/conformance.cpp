#include "support/conformance.h"

#ifndef _WIN32
#include "support/host_files.h"
#include <win32sim/machine.h>
#endif

#include <atomic>
#include <cstdio>
#include <vector>

namespace hmtest {
namespace {

constexpr char kTestKeyPrefix[] = "Software\\HivemenderTest-";

std::atomic<int> g_sequence{0};

std::string UniqueSuffix() {
    return std::to_string(GetCurrentThreadId()) + "-" + std::to_string(++g_sequence);
}

// Leftovers of earlier runs that died before their TearDown.
void RemoveStaleTestKeys() {
    HKEY software;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, &software) != ERROR_SUCCESS)
        return;
    for (const auto& name : SubkeyList(software)) {
        if (name.rfind("HivemenderTest-", 0) == 0)
            DeleteTree(software, name);
    }
    RegCloseKey(software);
}

} // namespace

bool RunningOnWine() {
    static const bool onWine = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return onWine;
}

bool RunningOnStandIn() {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
}

void NoteWineDifference(const char* file, int line, const char* what) {
    std::printf("%s:%d: known Wine difference (Windows and the stand-in agree): %s\n", file, line,
                what);
}

std::vector<std::string> SubkeyList(HKEY key) {
    std::vector<std::string> names;
    char name[256]; // a key name has at most 255 characters
    for (DWORD length = sizeof(name);
         RegEnumKeyExA(key, static_cast<DWORD>(names.size()), name, &length, nullptr, nullptr,
                       nullptr, nullptr) == ERROR_SUCCESS;
         length = sizeof(name))
        names.emplace_back(name, length);
    return names;
}

HKEY CreateSubkey(HKEY parent, const std::string& subkey, DWORD* disposition) {
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(parent, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, disposition))
        << subkey;
    return key;
}

LONG DeleteTree(HKEY parent, const std::string& subkey) {
    HKEY key;
    if (RegOpenKeyExA(parent, subkey.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        for (const auto& name : SubkeyList(key))
            DeleteTree(key, name);
        RegCloseKey(key);
    }
    return RegDeleteKeyA(parent, subkey.c_str());
}

void RemoveFolderTree(const std::string& windowsPath) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((windowsPath + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = windowsPath + "\\" + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveFolderTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(windowsPath.c_str());
}

void ConformanceTest::SetUp() {
#ifndef _WIN32
    // A whole new machine per test: nothing can leak from one test to the next.
    static const std::string scratchRoot = FreshHostFolder("hm-conformance").string();
    win32sim::MachineConfig config;
    win32sim::ResetMachine(config, scratchRoot + "/" + UniqueSuffix());
#endif
    static const bool cleaned = (RemoveStaleTestKeys(), true);
    (void)cleaned;
    const std::string suffix = UniqueSuffix();
    m_testKeyPath = kTestKeyPrefix + suffix;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, m_testKeyPath.c_str(), 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, &m_hTestKey, nullptr));
    m_scratchDir = "C:\\hmtest-" + suffix;
    RemoveFolderTree(m_scratchDir);
    ASSERT_TRUE(CreateDirectoryA(m_scratchDir.c_str(), nullptr)) << m_scratchDir;
}

void ConformanceTest::TearDown() {
    if (m_hTestKey)
        RegCloseKey(m_hTestKey);
    DeleteTree(HKEY_CURRENT_USER, m_testKeyPath);
    if (!m_scratchDir.empty())
        RemoveFolderTree(m_scratchDir);
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    if (!bytes.empty())
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return true;
}

std::string ConformanceTest::MakeFile(const std::string& relative, const std::string& bytes) {
    std::string path = m_scratchDir + "\\" + relative;
    EXPECT_TRUE(WriteWholeFile(path, bytes)) << path;
    return path;
}

std::string ConformanceTest::MakeFolder(const std::string& relative) {
    std::string path = m_scratchDir + "\\" + relative;
    EXPECT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
    return path;
}

} // namespace hmtest
