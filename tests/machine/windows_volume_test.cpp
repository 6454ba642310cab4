// Offline Windows volumes read from real regf hive files, built from the
// .reg text in volume/ by make-volume (hivex's own hivexregedit).
#include "machine/machine_folder.h"
#include "machine/windows_volume.h"
#include "regfile/regfile.h"

#include <win32sim/machine.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

const fs::path kTools = fs::path(HM_SOURCE_DIR) / "tests";
constexpr char kSid[] = "S-1-5-21-111-222-333-1001";
constexpr char kSoftware[] = "windows/System32/CONFIG/software";
constexpr char kNtuser[] = "Users/ann/ntuser.dat";

void RunTool(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::vector<uint8_t> RegistryText() {
    win32sim::PrivilegedScope privileged;
    return regfile::Export({"HKEY_LOCAL_MACHINE", "HKEY_USERS"}, regfile::Encoding::Utf16le);
}

bool KeyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// One volume and its machine folder twin for the whole suite: building the
// hives runs hivexregedit four times.
class WindowsVolumeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_root = fs::temp_directory_path() / ("hm-volume-" + std::to_string(::getpid()));
        fs::remove_all(s_root);
        RunTool(Quoted(kTools / "machine" / "make-volume") + " " + Quoted(s_root / "volume") + " " +
                Quoted(s_root / "machine"));
    }
    static void TearDownTestSuite() { fs::remove_all(s_root); }

    // A copy of the volume whose `file` is made into `bytes` by `damage`.
    template <class Damage>
    fs::path DamagedVolume(const std::string& name, const char* file, Damage damage) {
        const fs::path copy = s_root / name;
        fs::remove_all(copy);
        fs::copy(s_root / "volume", copy, fs::copy_options::recursive);
        std::ifstream in(copy / file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        in.close();
        damage(&bytes);
        std::ofstream(copy / file, std::ios::binary | std::ios::trunc) << bytes;
        return copy;
    }

    static fs::path s_root;
};

fs::path WindowsVolumeTest::s_root;

TEST_F(WindowsVolumeTest, LoadsTheSameMachineAsItsRegText) {
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine((s_root / "machine").string(), &error)) << error;
    const std::vector<uint8_t> fromText = RegistryText();
    const win32sim::MachineConfig textConfig = win32sim::CurrentConfig();

    win32sim::WindowsVolume volume;
    ASSERT_TRUE(win32sim::IsWindowsVolume((s_root / "volume").string()));
    ASSERT_TRUE(win32sim::LoadWindowsVolume((s_root / "volume").string(), &volume, &error))
        << error;
    const std::vector<uint8_t> fromHives = RegistryText();
    // Every key, value name, type and byte. The Types key holds each kind of
    // data, a string without terminator, and a value named Caf\xE9 whose
    // UTF-16 text holds an e grave, the euro sign and an Omega, which 1252
    // lacks: both loads show it as '?', as RegQueryValueExA does.
    EXPECT_EQ(std::string(fromHives.begin(), fromHives.end()),
              std::string(fromText.begin(), fromText.end()));
    const win32sim::MachineConfig& config = win32sim::CurrentConfig();
    EXPECT_EQ(config.windowsDir, textConfig.windowsDir);
    EXPECT_EQ(config.currentUserSid, kSid);
    EXPECT_EQ(config.environment, textConfig.environment);
    ASSERT_EQ(config.drives.size(), 1u);
    EXPECT_EQ(config.drives[0].hostFolder, (s_root / "volume").string());
}

// Windows loads the control set Select\Current names once, as
// CurrentControlSet; the write-back relies on the mounts saying so.
TEST_F(WindowsVolumeTest, MountsEachHiveWhereWindowsLoadsIt) {
    win32sim::WindowsVolume volume;
    std::string error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume((s_root / "volume").string(), &volume, &error))
        << error;
    const fs::path root = s_root / "volume";
    const std::string users = std::string("HKEY_USERS\\") + kSid;
    const std::vector<std::pair<fs::path, std::vector<win32sim::HiveMount>>> expected = {
        {root / kSoftware, {{"", "HKEY_LOCAL_MACHINE\\SOFTWARE", {}}}},
        {root / "windows/System32/CONFIG/SYSTEM",
         {{"", "HKEY_LOCAL_MACHINE\\SYSTEM", {"ControlSet001"}},
          {"ControlSet001", "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet", {}}}},
        {root / kNtuser, {{"", users, {}}}},
        {root / "Users/ann/AppData/Local/Microsoft/Windows/UsrClass.dat",
         {{"", users + "_Classes", {}}}},
    };
    EXPECT_EQ(volume.root, root.string());
    ASSERT_EQ(volume.hives.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(volume.hives[i].hostPath, expected[i].first.string());
        ASSERT_EQ(volume.hives[i].mounts.size(), expected[i].second.size()) << i;
        for (size_t m = 0; m < expected[i].second.size(); ++m) {
            EXPECT_EQ(volume.hives[i].mounts[m].hiveNodePath, expected[i].second[m].hiveNodePath);
            EXPECT_EQ(volume.hives[i].mounts[m].keyPath, expected[i].second[m].keyPath);
            EXPECT_EQ(volume.hives[i].mounts[m].excludedNodes, expected[i].second[m].excludedNodes);
        }
    }
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\X"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet001"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet002\\Services\\Y"));
    EXPECT_FALSE(KeyExists(HKEY_USERS, "S-1-5-18")); // in ProfileList, but no hive on the volume
}

TEST_F(WindowsVolumeTest, RefusesADamagedHiveAndKeepsThePreviousMachine) {
    const auto truncate = [](std::string* bytes) { bytes->resize(bytes->size() - 1500); };
    const auto badChecksum = [](std::string* bytes) { (*bytes)[0x1FC] ^= 0x5A; };
    const auto notAHive = [](std::string* bytes) { bytes->assign(8192, 'x'); };
    const auto headerOnly = [](std::string* bytes) { bytes->resize(100); };
    const struct {
        const char* name;
        const char* file;
        std::function<void(std::string*)> damage;
        const char* reason;
    } cases[] = {
        {"truncated", kSoftware, truncate, ": truncated: the header promises"},
        {"checksum", kSoftware, badChecksum, ": damaged hive: the header checksum does not match"},
        {"not-a-hive", kSoftware, notAHive, ": not a registry hive (no regf signature)"},
        {"short", kSoftware, headerOnly, ": truncated: shorter than the hive's 4096-byte header"},
        {"user-truncated", kNtuser, truncate, ": truncated: the header promises"},
        {"user-checksum", kNtuser, badChecksum, ": damaged hive: the header checksum"},
    };
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine((s_root / "machine").string(), &error)) << error;
    const std::vector<uint8_t> before = RegistryText();
    for (const auto& c : cases) {
        const fs::path volumeFolder = DamagedVolume(c.name, c.file, c.damage);
        win32sim::WindowsVolume volume{"untouched", {}};
        error.clear();
        EXPECT_FALSE(win32sim::LoadWindowsVolume(volumeFolder.string(), &volume, &error)) << c.name;
        EXPECT_EQ(error.rfind((volumeFolder / c.file).string() + c.reason, 0), 0u)
            << c.name << ": " << error;
        EXPECT_EQ(volume.root, "untouched") << c.name;
        EXPECT_TRUE(RegistryText() == before) << c.name << ": the previous machine changed";
        EXPECT_EQ(win32sim::CurrentConfig().drives[0].hostFolder, (s_root / "volume").string());
    }
}

std::string SubkeyNames(const char* path) {
    HKEY key = nullptr;
    std::string names;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "(none)";
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names += (i ? "," : "") + std::string(name, size);
    }
    RegCloseKey(key);
    return names;
}

// A name Windows-1252 cannot spell is loaded as Windows holds it: the A
// functions list it as '?' and cannot open it, so its parent is not empty
// and nothing the engine does reaches it; a save after a change elsewhere
// keeps it byte for byte. A key the stand-in could not hold at all is never
// deleted with its parent.
TEST_F(WindowsVolumeTest, KeepsNamesOutside1252AndNeverDeletesWhatItLeftOut) {
    const fs::path copy = s_root / "greek";
    fs::remove_all(copy);
    fs::copy(s_root / "volume", copy, fs::copy_options::recursive);
    const fs::path reg = s_root / "greek.reg";
    std::ofstream(reg, std::ios::binary)
        << "Windows Registry Editor Version 5.00\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\xCE\xA9mega\\Sub]\r\n\"A\"=\"1\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Values]\r\n\"\xCE\xB1\"=\"\xCE\xB2\"\r\n"
           "\"\xCE\xB3\"=\"2\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Caf\xC3\xA9]\r\n\"B\"=\"3\"\r\n";
    RunTool(Quoted(kTools / "support" / "make-hive") + " --prefix 'HKEY_LOCAL_MACHINE\\SOFTWARE' " +
            Quoted(copy / kSoftware) + " " + Quoted(reg));
    win32sim::WindowsVolume volume;
    std::string error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_TRUE(volume.hives[0].mounts[0].leftOutNodes.empty());
    // Ordered by the upper-cased UTF-16 name, where the omega comes after 'V'.
    EXPECT_EQ("Caf\xE9,Values,?mega", SubkeyNames("SOFTWARE\\Vendor"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\?mega"));
    HKEY key = nullptr;
    DWORD values = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Caf\xE9", 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key, "B"));
    RegCloseKey(key);
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Values", 0, KEY_READ, &key));
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    EXPECT_EQ(2u, values);
    const std::vector<uint8_t> changed = RegistryText();
    ASSERT_TRUE(win32sim::SaveWindowsVolume(volume, false, &error)) << error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_EQ(changed, RegistryText());

    volume.hives[0].mounts[0].leftOutNodes.push_back("Vendor\\Values\\Hidden");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Values"));
    EXPECT_FALSE(win32sim::SaveWindowsVolume(volume, false, &error));
    EXPECT_NE(std::string::npos, error.find("Vendor\\Values\\Hidden")) << error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Values"));
}

} // namespace
