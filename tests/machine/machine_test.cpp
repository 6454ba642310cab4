// The simulated machine itself: configurations, machine folders and WOW64
// redirection, which only the stand-in can stage (Linux builds only).
#ifndef _WIN32

#include "machine/machine_folder.h"
#include <win32sim/machine.h>

#include "regfile/regfile.h"
#include "support/conformance.h"
#include "support/host_files.h"
#include "support/machine_builder.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

using namespace std::string_literals;

namespace fs = std::filesystem;
using hmtest::ReadHostFile;
using hmtest::WriteHostFile;
using win32sim::MachineConfig;

std::string Variable(const char* name) {
    char value[1024];
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return length > 0 && length < sizeof(value) ? value : "(unset)";
}

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override { m_root = hmtest::FreshHostFolder("hm-machine"); }
    void TearDown() override { fs::remove_all(m_root); }

    void Reset(const MachineConfig& config, const std::string& name = "scratch") {
        win32sim::ResetMachine(config, (m_root / name).string());
    }

    // A machine folder below the test's root with a drives/C folder.
    fs::path MachineFolder(const std::string& name, const std::string& ini) {
        const fs::path folder = m_root / name;
        fs::create_directories(folder / "drives" / "C" / "Windows" / "system32");
        if (!ini.empty())
            std::ofstream(folder / "machine.ini", std::ios::binary) << ini;
        return folder;
    }

    fs::path m_root;
};

TEST_F(MachineTest, DefaultEnvironmentOfA32BitProcess) {
    MachineConfig config;
    Reset(config);
    const struct {
        const char* name;
        const char* value;
    } expected[] = {
        {"ProgramFiles", "C:\\Program Files (x86)"},
        {"ProgramFiles(x86)", "C:\\Program Files (x86)"},
        {"ProgramW6432", "C:\\Program Files"},
        {"CommonProgramFiles", "C:\\Program Files (x86)\\Common Files"},
        {"CommonProgramW6432", "C:\\Program Files\\Common Files"},
        {"PROCESSOR_ARCHITECTURE", "x86"},
        {"PROCESSOR_ARCHITEW6432", "AMD64"},
    };
    for (const auto& test : expected)
        EXPECT_EQ(test.value, Variable(test.name)) << test.name;
    const std::string path = Variable("Path");
    EXPECT_EQ(0u, path.find("C:\\Windows\\system32;C:\\Windows;C:\\Windows\\System32\\Wbem"))
        << path;

    config.wow64Process = false;
    Reset(config);
    EXPECT_EQ("C:\\Program Files", Variable("ProgramFiles"));
    EXPECT_EQ("AMD64", Variable("PROCESSOR_ARCHITECTURE"));
    EXPECT_EQ("(unset)", Variable("PROCESSOR_ARCHITEW6432"));
}

TEST_F(MachineTest, ConfiguredVariablesReplaceDefaultsAndMoveTheProfile) {
    MachineConfig config;
    config.windowsDir = "D:\\WINNT";
    config.drives = {{'C', DRIVE_FIXED, ""}, {'D', DRIVE_FIXED, ""}};
    config.environment = {{"username", "Alice"}, {"HM_EXTRA", "1"}, {"path", "D:\\bin"}};
    Reset(config);
    EXPECT_EQ("D:\\Users\\Alice", Variable("USERPROFILE"));
    EXPECT_EQ("Alice", Variable("USERNAME"));
    EXPECT_EQ("1", Variable("hm_extra"));
    EXPECT_EQ("D:\\bin", Variable("Path"));
    EXPECT_EQ("D:\\WINNT", Variable("SystemRoot"));
    char folder[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, folder, CSIDL_APPDATA, FALSE));
    EXPECT_STREQ("D:\\Users\\Alice\\AppData\\Roaming", folder);
    // The fresh system drive holds the folders its environment names.
    for (const char* standard :
         {"D:\\WINNT\\system32", "D:\\WINNT\\SysWOW64", "D:\\WINNT\\Fonts",
          "D:\\Users\\Alice\\AppData\\Local\\Temp", "D:\\ProgramData", "D:\\Program Files (x86)"})
        EXPECT_TRUE(fs::is_directory(win32sim::HostPathFor(standard))) << standard;
}

TEST_F(MachineTest, DriveTypesComeFromTheConfiguration) {
    MachineConfig config;
    config.drives = {{'C', DRIVE_FIXED, ""},
                     {'d', DRIVE_CDROM, ""},
                     {'E', DRIVE_REMOTE, ""},
                     {'F', DRIVE_REMOVABLE, ""}};
    Reset(config);
    EXPECT_EQ(0x3Cu, GetLogicalDrives());
    const struct {
        const char* root;
        UINT type;
    } cases[] = {{"C:\\", DRIVE_FIXED},       {"D:\\", DRIVE_CDROM},
                 {"e:", DRIVE_REMOTE},        {"F:/", DRIVE_REMOVABLE},
                 {"G:\\", DRIVE_NO_ROOT_DIR}, {"C:\\Windows", DRIVE_NO_ROOT_DIR}};
    for (const auto& test : cases)
        EXPECT_EQ(test.type, GetDriveTypeA(test.root)) << test.root;
    EXPECT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeA(nullptr)); // the current drive
    WriteHostFile(win32sim::HostPathFor("D:\\setup.exe"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("d:\\SETUP.EXE"));
}

TEST_F(MachineTest, HostNamesAreUtf8AndWindowsNamesAnsi) {
    Reset(MachineConfig{});
    WriteHostFile(win32sim::HostPathFor("C:\\") + "/Caf\xC3\xA9.txt");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\CAF\xC9.TXT"));
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\caf*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_STREQ("Caf\xE9.txt", data.cFileName);
    FindClose(find);
    ASSERT_TRUE(CreateDirectoryA("C:\\Na\xEFve", nullptr));
    EXPECT_TRUE(fs::is_directory(win32sim::HostPathFor("C:\\") + "/Na\xC3\xAFve"));
}

class RedirectionTest : public MachineTest {
protected:
    void Stage(bool wow64) {
        MachineConfig config;
        config.wow64Process = wow64;
        Reset(config);
        WriteHostFile(win32sim::HostPathFor("C:\\Windows\\System32\\only64.dll"));
        WriteHostFile(win32sim::HostPathFor("C:\\Windows\\SysWOW64\\only32.dll"));
        WriteHostFile(win32sim::HostPathFor("C:\\Windows\\System32\\drivers\\etc\\hosts"));
    }
    static bool Exists(const char* path) {
        return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    }
};

TEST_F(RedirectionTest, A32BitProcessSeesSysWow64UnlessSwitchedOffUntilAReset) {
    Stage(true);
    EXPECT_FALSE(Exists("C:\\Windows\\System32\\only64.dll"));
    EXPECT_TRUE(Exists("C:\\windows\\system32\\only32.dll"));
    EXPECT_TRUE(Exists("C:\\Windows\\Sysnative\\only64.dll"));
    EXPECT_TRUE(Exists("C:\\Windows\\System32\\drivers\\etc\\hosts")); // exempt from redirection

    PVOID old = reinterpret_cast<PVOID>(0x1234);
    ASSERT_TRUE(Wow64DisableWow64FsRedirection(&old));
    EXPECT_TRUE(Exists("C:\\Windows\\System32\\only64.dll"));
    EXPECT_FALSE(Exists("C:\\Windows\\System32\\only32.dll"));
    // Another thread still has redirection on.
    bool seenElsewhere = true;
    std::thread([&] { seenElsewhere = Exists("C:\\Windows\\System32\\only64.dll"); }).join();
    EXPECT_FALSE(seenElsewhere);
    // Nested switch-offs restore in order.
    PVOID inner = nullptr;
    ASSERT_TRUE(Wow64DisableWow64FsRedirection(&inner));
    ASSERT_TRUE(Wow64RevertWow64FsRedirection(inner));
    EXPECT_TRUE(Exists("C:\\Windows\\System32\\only64.dll"));
    ASSERT_TRUE(Wow64RevertWow64FsRedirection(old));
    EXPECT_FALSE(Exists("C:\\Windows\\System32\\only64.dll"));

    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\Windows\\System32\\only*.dll", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_STREQ("only32.dll", data.cFileName);
    FindClose(find);

    ASSERT_TRUE(Wow64DisableWow64FsRedirection(&old));
    Stage(true);
    EXPECT_FALSE(Exists("C:\\Windows\\System32\\only64.dll")) << "a reset turns it back on";
}

TEST_F(RedirectionTest, A64BitProcessHasNoRedirection) {
    Stage(false);
    EXPECT_TRUE(Exists("C:\\Windows\\System32\\only64.dll"));
    EXPECT_FALSE(Exists("C:\\Windows\\System32\\only32.dll"));
    PVOID old = reinterpret_cast<PVOID>(0x1234);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(Wow64DisableWow64FsRedirection(&old));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
    EXPECT_EQ(reinterpret_cast<PVOID>(0x1234), old);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(Wow64RevertWow64FsRedirection(old));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), GetLastError());
}

TEST_F(MachineTest, NetworkAndOverlongPathsFail) {
    Reset(MachineConfig{});
    const struct {
        std::string path;
        DWORD error;
    } cases[] = {
        {"\\\\server\\share\\file.txt", ERROR_BAD_NETPATH},
        {"//server/share", ERROR_BAD_NETPATH},
        {"C:\\" + std::string(300, 'a'), ERROR_FILENAME_EXCED_RANGE},
    };
    for (const auto& test : cases) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(test.path.c_str())) << test.path;
        EXPECT_EQ(test.error, GetLastError()) << test.path;
    }
}

// The benchmark's probes-per-path figure stands on this count.
TEST_F(MachineTest, FileQueryTallyCountsCallsAndPathsIgnoringCase) {
    MachineConfig config;
    config.drives = {{'C', DRIVE_FIXED, (m_root / "c").string()}};
    Reset(config);
    GetFileAttributesA("C:\\before.txt");
    win32sim::StartFileQueryTally();
    GetFileAttributesA("C:\\Windows");
    GetFileAttributesA("c:\\WINDOWS");
    GetFileAttributesA("C:\\missing.dll");
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA("C:\\missing.dll.*", &data);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search);
    win32sim::FileQueryTally tally = win32sim::StopFileQueryTally();
    EXPECT_EQ(4u, tally.calls);
    EXPECT_EQ(3u, tally.distinctPaths);
    GetFileAttributesA("C:\\after.txt");
    win32sim::StartFileQueryTally();
    tally = win32sim::StopFileQueryTally();
    EXPECT_EQ(0u, tally.calls) << "a new tally starts from nothing; stopped, nothing counts";
    EXPECT_EQ(0u, tally.distinctPaths);
}

// Misses in a folder are answered from a listing kept while the folder is
// unchanged; files added, renamed or removed on the host behind the stand-in's
// back must still be seen, in whatever case they are spelled.
TEST_F(MachineTest, LookupsIgnoringCaseSeeHostChangesBehindTheirBack) {
    MachineConfig config;
    config.drives = {{'C', DRIVE_FIXED, (m_root / "c").string()}};
    Reset(config);
    const fs::path folder = m_root / "c" / "Lib";
    WriteHostFile((folder / "Old.dll").string());
    const timespec settled[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, folder.c_str(), settled, 0));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\lib\\OLD.DLL"));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\lib\\NEW.DLL"));
    WriteHostFile((folder / "new.Dll").string());
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\lib\\NEW.DLL"));
    fs::rename(folder / "Old.dll", folder / "gone.txt");
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\lib\\OLD.DLL"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\lib\\GONE.TXT"));
}

TEST_F(MachineTest, LoadsAFolderWithDefaults) {
    const fs::path folder = MachineFolder("plain", "");
    fs::create_directories(folder / "drives" / "D");
    WriteHostFile((folder / "drives" / "C" / "Windows" / "notepad.exe").string());
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine(folder.string(), &error)) << error;
    EXPECT_EQ(0xCu, GetLogicalDrives());
    EXPECT_EQ(static_cast<UINT>(DRIVE_FIXED), GetDriveTypeA("D:\\"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\WINDOWS\\NOTEPAD.EXE"));
    EXPECT_EQ("C:\\Windows", Variable("SystemRoot"));
}

TEST_F(MachineTest, LoadsEverySetting) {
    const fs::path folder = MachineFolder("full", "; a machine of its own\r\n"
                                                  "[Machine]\r\n"
                                                  "administrator = no\r\n"
                                                  "WOW64=false\r\n"
                                                  "windows = C:\\WINNT\\\r\n"
                                                  "plugin = C:\\Tools\\hm.dll\r\n"
                                                  "user-sid = S-1-5-21-1-2-3-500\r\n"
                                                  "[drives]\r\n"
                                                  "d = cdrom\r\n"
                                                  "E = remote, share\r\n"
                                                  "[environment]\r\n"
                                                  "USERNAME = Bob\r\n"
                                                  "HM_QUOTED = \"  kept  \"\r\n"
                                                  "[denied]\r\n"
                                                  "HKEY_LOCAL_MACHINE\\SOFTWARE\\A=B = write\r\n");
    fs::create_directories(folder / "drives" / "D");
    fs::create_directories(folder / "share");
    fs::create_directories(folder / "drives" / "C" / "WINNT");
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine(folder.string(), &error)) << error;
    const MachineConfig& config = win32sim::CurrentConfig();
    EXPECT_FALSE(config.administrator);
    EXPECT_FALSE(config.wow64Process);
    EXPECT_EQ("C:\\WINNT", config.windowsDir);
    EXPECT_EQ("C:\\Tools\\hm.dll", config.pluginPath);
    EXPECT_EQ("S-1-5-21-1-2-3-500", config.currentUserSid);
    ASSERT_EQ(1u, config.deniedKeys.size());
    EXPECT_EQ("HKEY_LOCAL_MACHINE\\SOFTWARE\\A=B", config.deniedKeys[0].keyPath);
    EXPECT_EQ(win32sim::Denial::Write, config.deniedKeys[0].denial);
    EXPECT_EQ(static_cast<UINT>(DRIVE_CDROM), GetDriveTypeA("D:\\"));
    EXPECT_EQ(static_cast<UINT>(DRIVE_REMOTE), GetDriveTypeA("E:\\"));
    EXPECT_EQ((folder / "share").string(), win32sim::HostPathFor("E:\\"));
    EXPECT_EQ("C:\\Users\\Bob", Variable("USERPROFILE"));
    EXPECT_EQ("  kept  ", Variable("HM_QUOTED"));
    EXPECT_EQ("C:\\Program Files", Variable("ProgramFiles"));
}

TEST_F(MachineTest, BadFoldersNameTheFileAndLineAndKeepTheMachine) {
    const fs::path good = MachineFolder("good", "[machine]\nadministrator=no\n");
    WriteHostFile((good / "drives" / "C" / "marker.txt").string());
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine(good.string(), &error)) << error;

    const struct {
        const char* ini;
        const char* message; // expected after "<folder>/machine.ini:"
    } cases[] = {
        {"[machine]\nadministrator = maybe\n", "2: expected yes or no"},
        {"[machine]\n\n  colour = blue\n", "3: unknown setting 'colour'"},
        {"administrator = no\n", "1: a setting before the first [section]"},
        {"[hardware]\n", "1: unknown section [hardware]"},
        {"[machine\n", "1: section header without ']'"},
        {"[drives]\nD = floppy\n", "2: unknown drive type 'floppy'"},
        {"[drives]\nDD = fixed\n", "2: a drive is one letter"},
        {"[drives]\nD = fixed\n", "2: drive D: has no folder"},
        {"[denied]\nHKEY_CURRENT_USER\\X = everything\n", "2: a denial is open, read or write"},
        {"[machine]\nwindows = Windows\n", "2: windows must be a full path"},
        {"[environment]\nno equals sign\n", "2: expected name=value"},
    };
    int index = 0;
    for (const auto& test : cases) {
        const fs::path bad = MachineFolder("bad" + std::to_string(index++), test.ini);
        error.clear();
        EXPECT_FALSE(win32sim::LoadMachine(bad.string(), &error)) << test.ini;
        const std::string expected = (bad / "machine.ini").string() + ":" + test.message;
        EXPECT_EQ(0u, error.find(expected)) << "got: " << error << "\nwanted: " << expected;
        EXPECT_FALSE(win32sim::CurrentConfig().administrator) << test.ini;
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("C:\\marker.txt")) << test.ini;
    }
}

TEST_F(MachineTest, AFolderWithoutTheSystemDriveIsRefused) {
    const fs::path folder = m_root / "nodrive";
    fs::create_directories(folder / "drives" / "D");
    std::string error;
    EXPECT_FALSE(win32sim::LoadMachine(folder.string(), &error));
    EXPECT_NE(std::string::npos, error.find("C:\\Windows")) << error;
    EXPECT_FALSE(win32sim::LoadMachine((m_root / "missing").string(), &error));
    EXPECT_NE(std::string::npos, error.find("not a folder")) << error;
}

const char kMachineReg[] = "Windows Registry Editor Version 5.00\r\n"
                           "\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n"
                           "\"Path\"=\"C:\\\\Program Files\\\\Vendor\\\\app.exe\"\r\n";

TEST_F(MachineTest, ABadRegistryFileKeepsTheMachine) {
    const fs::path good = MachineFolder("goodreg", "");
    WriteHostFile(good / "machine.reg", hmtest::Utf16WithBom(kMachineReg, u"\"Greek\"=\"\u03A9\"\r\n"));
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine(good.string(), &error)) << error;
    const fs::path bad = MachineFolder("badreg", "[machine]\nadministrator=no\n");
    std::ofstream(bad / "machine.reg", std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\X]\r\n"
           "\"applied\"=\"before the fault\"\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Y]\r\n"
           "\"broken\"=dword:not-a-number\r\n";
    EXPECT_FALSE(win32sim::LoadMachine(bad.string(), &error));
    EXPECT_EQ(0u, error.find((bad / "machine.reg").string() + ":6:")) << error;
    // The file is applied as it is read: the key before the fault goes too.
    EXPECT_EQ("(none)", hmtest::ReadText("HKEY_LOCAL_MACHINE\\SOFTWARE\\X", "applied"));
    EXPECT_TRUE(win32sim::CurrentConfig().administrator);
    EXPECT_EQ("C:\\Program Files\\Vendor\\app.exe",
              hmtest::ReadText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", "Path"));
    // Text outside Windows-1252 comes back as it was, not as '?'.
    hmtest::OwnedKey vendor;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_READ,
                                           vendor.out()));
    WCHAR greek[4] = {};
    DWORD size = sizeof(greek);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(vendor.get(), hmtest::Wide("Greek").c_str(), nullptr,
                                              nullptr, reinterpret_cast<BYTE*>(greek), &size));
    EXPECT_EQ(0x03A9, greek[0]);
}

TEST_F(MachineTest, SaveRegistryReportsAnUnwritablePlace) {
    win32sim::ResetMachine(MachineConfig{}, (m_root / "scratch").string());
    std::string error;
    EXPECT_FALSE(win32sim::SaveRegistry((m_root / "no" / "such" / "machine.reg").string(), &error));
    EXPECT_NE(std::string::npos, error.find("machine.reg")) << error;
}

// What regedit writes, in both of its encodings, must survive a load, a save
// and a second load unchanged: the host saves machine.reg after every fix.
const char kRegeditExport[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App]\r\n"
    "@=\"default \\\"quoted\\\" text\"\r\n"
    "\"Path\"=\"C:\\\\Program Files\\\\Caf\xE9\\\\app.exe\"\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,74,\\\r\n"
    "  00,25,00,00,00\r\n"
    "\"Multi\"=hex(7):61,00,00,00,00,00,62,00,00,00,00,00\r\n"
    "\"Blob\"=hex:00,01,fe,ff\r\n"
    "\"Empty\"=\"\"\r\n"
    "\"Name=with]odd\\\"chars\"=hex(b):01,00,00,00,00,00,00,00\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App\\Empty Subkey]\r\n"
    "\r\n"
    "[HKEY_USERS\\S-1-5-18\\Software\\Run]\r\n"
    "\"Tool\"=\"C:\\\\Tools\\\\tool.exe /quiet\"\r\n";

// Names and data 1252 cannot spell, which only a UTF-16 file holds: two
// value names the A functions both show as "??", and string data of an odd
// length.
const char16_t kOutside1252[] = u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\u540D\u524D]\r\n"
                                u"\"\u540D\u524D\"=\"\u03A9mega\"\r\n"
                                u"\"\u53CB\u9054\"=hex(2):41,00,3a,04,00\r\n";

std::vector<uint8_t> WholeRegistry(regfile::Encoding encoding = regfile::Encoding::Ansi) {
    return regfile::Export({"HKEY_LOCAL_MACHINE", "HKEY_USERS"}, encoding);
}

// A fix changes one value and the host saves machine.reg over itself: every
// other name, type and data byte comes back, in the file's own form.
TEST_F(MachineTest, RegeditFilesRoundTripThroughLoadAndSave) {
    const std::string regedit4 = "REGEDIT4" + std::string(kRegeditExport).substr(36);
    const struct {
        const char* form;
        std::string bytes;
        std::string start;
    } kFiles[] = {
        {"UTF-16LE", hmtest::Utf16WithBom(kRegeditExport, kOutside1252), "\xFF\xFEW\0"s},
        {"8-bit", kRegeditExport, "Windows Registry Editor Version 5.00\r\n"},
        {"REGEDIT4", regedit4, "REGEDIT4\r\n"},
    };
    for (const auto& file : kFiles) {
        SCOPED_TRACE(file.form);
        const fs::path folder = MachineFolder(file.form, "");
        WriteHostFile(folder / "machine.reg", file.bytes);
        std::string error;
        ASSERT_TRUE(win32sim::LoadMachine(folder.string(), &error)) << error;
        EXPECT_EQ("C:\\Program Files\\Caf\xE9\\app.exe",
                  hmtest::ReadText("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\App", "Path"));
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\App", 0,
                                               KEY_ALL_ACCESS, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "Blob"));
        RegCloseKey(key);
        const std::vector<uint8_t> changed = WholeRegistry(regfile::Encoding::Utf16le);

        ASSERT_TRUE(win32sim::SaveRegistry((folder / "machine.reg").string(), &error)) << error;
        EXPECT_EQ(file.start, ReadHostFile(folder / "machine.reg").substr(0, file.start.size()));
        ASSERT_TRUE(win32sim::LoadMachine(folder.string(), &error)) << error;
        EXPECT_EQ(changed, WholeRegistry(regfile::Encoding::Utf16le));
        // Nothing but the file itself is left behind.
        EXPECT_EQ(2, std::distance(fs::directory_iterator(folder), {})); // drives, machine.reg
    }
}

// The benchmark's generated machine must load, with the classes root's share
// of a real one, and the seed alone must decide what it holds, or figures
// measured on it stand for no machine in particular.
bool Generate(const fs::path& folder, int keys, int seed) {
    const std::string command = std::string("python3 '") + HM_SOURCE_DIR +
                                "/bench/generate-machine' --keys " + std::to_string(keys) +
                                " --seed " + std::to_string(seed) + " '" + folder.string() +
                                "' >/dev/null";
    return std::system(command.c_str()) == 0;
}

DWORD SubkeyCount(HKEY root, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD count = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return count;
}

TEST_F(MachineTest, GeneratedMachineLoadsAndDependsOnItsSeedAlone) {
    const fs::path generated = m_root / "generated";
    ASSERT_TRUE(Generate(generated, 10000, 7));
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine(generated.string(), &error)) << error;
    const std::vector<uint8_t> loaded = WholeRegistry();
    const std::string text(loaded.begin(), loaded.end());
    size_t keys = 0;
    for (size_t at = text.find("\r\n["); at != std::string::npos; at = text.find("\r\n[", at + 1))
        ++keys;
    EXPECT_GE(keys, 10000u);
    // The classes root has the share of a real one: two fifths of the keys.
    EXPECT_GE(SubkeyCount(HKEY_CLASSES_ROOT, "CLSID"), 600u);
    EXPECT_GE(SubkeyCount(HKEY_CLASSES_ROOT, "Interface"), 150u);
    EXPECT_GE(SubkeyCount(HKEY_CLASSES_ROOT, "TypeLib"), 60u);

    const fs::path again = m_root / "again";
    ASSERT_TRUE(Generate(again, 10000, 7));
    EXPECT_TRUE(ReadHostFile(generated / "machine.reg") == ReadHostFile(again / "machine.reg"));
}

} // namespace

#endif // _WIN32
