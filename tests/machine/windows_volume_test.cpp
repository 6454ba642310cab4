// Offline Windows volumes read from real regf hive files, built from the
// .reg text in volume/ by make-volume (hivex's own hivexregedit).
#include "hive_bytes.h"
#include "machine/hive_log.h"
#include "machine/hive_writer.h"
#include "machine/machine_folder.h"
#include "machine/volume_checks.h"
#include "machine/windows_volume.h"
#include "regfile/regfile.h"
#include "registry/key_walk.h"
#include "support/conformance.h"
#include "support/host_files.h"
#include "support/machine_builder.h"

#include <win32sim/machine.h>

#include <gtest/gtest.h>
#include <hivex.h>

#include <filesystem>
#include <functional>

namespace {

namespace fs = std::filesystem;
using hmtest::ApplyRegText;
using hmtest::KeyRecord;
using hmtest::Le32;
using hmtest::ReadHostFile;
using hmtest::RunCommand;
using hmtest::SetBaseBlockField;
using hmtest::WriteHostFile;

const fs::path kTools = fs::path(HM_SOURCE_DIR) / "tests";
constexpr char kSid[] = "S-1-5-21-111-222-333-1001";
constexpr char kSoftware[] = "windows/System32/CONFIG/software";
constexpr char kNtuser[] = "Users/ann/ntuser.dat";
constexpr char kUsrClass[] = "Users/ann/AppData/Local/Microsoft/Windows/UsrClass.dat";

std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::vector<uint8_t> RegistryText() {
    win32sim::PrivilegedScope privileged;
    return regfile::Export({"HKEY_LOCAL_MACHINE", "HKEY_USERS"}, regfile::Encoding::Utf16le);
}

// One volume and its machine folder twin for the whole suite: building the
// hives runs hivexregedit four times.
class WindowsVolumeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_root = hmtest::FreshHostFolder("hm-volume");
        RunCommand(Quoted(kTools / "machine" / "make-volume") + " " + Quoted(s_root / "volume") +
                   " " + Quoted(s_root / "machine"));
    }
    static void TearDownTestSuite() { fs::remove_all(s_root); }

    // A copy of the volume whose `file` is made into `bytes` by `damage`.
    template <class Damage>
    fs::path DamagedVolume(const std::string& name, const char* file, Damage damage) {
        const fs::path copy = s_root / name;
        fs::remove_all(copy);
        fs::copy(s_root / "volume", copy, fs::copy_options::recursive);
        std::string bytes = ReadHostFile(copy / file);
        damage(&bytes);
        WriteHostFile(copy / file, bytes);
        return copy;
    }

    // A copy of the volume whose SOFTWARE nests a key 513 levels deep.
    fs::path DeepVolume(const std::string& name) {
        const fs::path copy = DamagedVolume(name, kSoftware, [](std::string*) {});
        std::string path = "HKEY_LOCAL_MACHINE\\SOFTWARE";
        for (int level = 2; level <= 513; ++level)
            path += "\\d";
        hmtest::MakeHive(copy / kSoftware, "HKEY_LOCAL_MACHINE\\SOFTWARE",
                         "Windows Registry Editor Version 5.00\r\n\r\n[" + path + "]\r\n");
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
    EXPECT_TRUE(hmtest::KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\X"));
    EXPECT_FALSE(hmtest::KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001"));
    EXPECT_TRUE(hmtest::KeyExists("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Services\\Y"));
    // In ProfileList, but no hive on the volume.
    EXPECT_FALSE(hmtest::KeyExists("HKEY_USERS\\S-1-5-18"));
}

TEST_F(WindowsVolumeTest, RefusesADamagedHiveAndKeepsThePreviousMachine) {
    const auto truncate = [](std::string* bytes) { bytes->resize(bytes->size() - 1500); };
    const auto badChecksum = [](std::string* bytes) { (*bytes)[0x1FC] ^= 0x5A; };
    const auto notAHive = [](std::string* bytes) { bytes->assign(8192, 'x'); };
    const auto headerOnly = [](std::string* bytes) { bytes->resize(100); };
    const auto loop = [](std::string* bytes) { // ProfileList's subkeys become Windows NT's
        const size_t parent = KeyRecord(*bytes, "Windows NT");
        bytes->replace(KeyRecord(*bytes, "ProfileList") + 0x18, 0x10, *bytes, parent + 0x18, 0x10);
    };
    const auto badAddress = [](std::string* bytes) {
        bytes->replace(KeyRecord(*bytes, "Types") + 0x2C, 4, "\xF0\xFF\xFF\x7F");
    };
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
        {"loop", kSoftware, loop, ": damaged hive: its key tree loops (a subkey list leads back"},
        {"deep", kSoftware, nullptr, ": damaged hive: keys are nested deeper than the 512 levels"},
        {"bad-address", kSoftware, badAddress,
         ": damaged hive: a key, list or value points to a place that holds no such record"},
    };
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine((s_root / "machine").string(), &error)) << error;
    const std::vector<uint8_t> before = RegistryText();
    for (const auto& c : cases) {
        const fs::path volumeFolder =
            c.damage ? DamagedVolume(c.name, c.file, c.damage) : DeepVolume(c.name);
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

// A name Windows-1252 cannot spell is loaded as Windows holds it: the A
// functions list it as '?' and cannot open it, so its parent is not empty
// and nothing the engine does reaches it; a save after a change elsewhere
// keeps it byte for byte. A key the stand-in could not hold at all is never
// deleted with its parent.
TEST_F(WindowsVolumeTest, KeepsNamesOutside1252AndNeverDeletesWhatItLeftOut) {
    const fs::path copy = DamagedVolume("greek", kSoftware, [](std::string*) {});
    hmtest::MakeHive(
        copy / kSoftware, "HKEY_LOCAL_MACHINE\\SOFTWARE",
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\\xCE\xA9mega\\Sub]\r\n\"A\"=\"1\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Values]\r\n\"\xCE\xB1\"=\"\xCE\xB2\"\r\n"
        "\"\xCE\xB3\"=\"2\"\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Caf\xC3\xA9]\r\n\"B\"=\"3\"\r\n");
    win32sim::WindowsVolume volume;
    std::string error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_TRUE(volume.hives[0].mounts[0].leftOutNodes.empty());
    hmtest::OwnedKey key;
    std::vector<std::string> names;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_READ, key.out()));
    EXPECT_EQ(ERROR_SUCCESS, ReadSubkeyNames(key.get(), names));
    // Ordered by the upper-cased UTF-16 name, where the omega comes after 'V'.
    EXPECT_EQ((std::vector<std::string>{"Caf\xE9", "Values", "?mega"}), names);
    EXPECT_FALSE(hmtest::KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\?mega"));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Caf\xE9", 0,
                                           KEY_ALL_ACCESS, key.out()));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(key.get(), "B"));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Values", 0,
                                           KEY_READ, key.out()));
    names.clear();
    EXPECT_EQ(ERROR_SUCCESS, ReadValueNames(key.get(), names));
    EXPECT_EQ(2u, names.size());
    const std::vector<uint8_t> changed = RegistryText();
    ASSERT_TRUE(machine::SaveWindowsVolume(volume, false, &error)) << error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_EQ(changed, RegistryText());

    volume.hives[0].mounts[0].leftOutNodes.push_back("Vendor\\Values\\Hidden");
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\Values"));
    EXPECT_FALSE(machine::SaveWindowsVolume(volume, false, &error));
    EXPECT_NE(std::string::npos, error.find("Vendor\\Values\\Hidden")) << error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_TRUE(hmtest::KeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Values"));
}

// A real user classes hive that was not shut down cleanly, with the two
// logs Windows left beside it: read with the logs' changes, fixed and
// written clean above every log's sequence number, then undone.
TEST_F(WindowsVolumeTest, ReadsADirtyHiveThroughItsLogsAndWritesItClean) {
    const fs::path copy = DamagedVolume("dirty", kUsrClass, [](std::string*) {});
    for (const char* suffix : {"", ".LOG1", ".LOG2"})
        RunCommand("xz -dc " + Quoted(kTools / "machine" / "real-hives" / "UsrClass.dat") + suffix +
                   ".xz >" + Quoted(copy / kUsrClass) + suffix);
    const std::string classes = std::string(kSid) + "_Classes";
    const std::string bag =
        classes + "\\Local Settings\\Software\\Microsoft\\Windows\\Shell\\Bags\\26";
    win32sim::WindowsVolume volume;
    std::string error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_EQ(volume.notes, std::vector<std::string>{(copy / kUsrClass).string() +
                                                     ": not shut down cleanly; recovered from its "
                                                     "transaction logs (log entries applied: 14, "
                                                     "pages: 158)"});
    EXPECT_TRUE(hmtest::KeyExists("HKEY_USERS\\" + bag)) << "a key only the logs hold";
    { // a damaged byte in the third entry of .LOG2 (sequence 293) stops recovery there
        const fs::path log2 = copy / (std::string(kUsrClass) + ".LOG2");
        const std::string sound = ReadHostFile(log2);
        std::string damaged = sound;
        damaged[151552 + 4096] ^= 1;
        WriteHostFile(log2, damaged);
        win32sim::HiveRecovery partial;
        ASSERT_TRUE(win32sim::RecoverHive((copy / kUsrClass).string(), &partial, &error));
        EXPECT_EQ(6u, partial.entries);
        EXPECT_EQ(8u, partial.leftOut);
        WriteHostFile(log2, sound);
    }
    const std::vector<uint8_t> recovered = RegistryText();
    std::vector<uint8_t> bagText; // what the undo file holds
    {
        win32sim::PrivilegedScope privileged;
        bagText = regfile::Export({"HKEY_USERS\\" + bag}, regfile::Encoding::Ansi);
    }
    const std::string deletion = "REGEDIT4\r\n\r\n[-HKEY_USERS\\" + bag + "]\r\n";
    ApplyRegText(deletion);
    ASSERT_TRUE(machine::CheckVolumeWritable(volume, false, {"HKEY_USERS\\" + bag}, &error))
        << error;
    ASSERT_TRUE(machine::SaveWindowsVolume(volume, false, &error)) << error;
    const std::string fixed = ReadHostFile(copy / kUsrClass);
    EXPECT_EQ(Le32(fixed, 4), Le32(fixed, 8));
    EXPECT_GT(Le32(fixed, 4), 300u) << "the highest sequence number in the logs is 300";
    RunCommand("/usr/bin/python3 -c 'import pyregf, sys; f = pyregf.file(); f.open(sys.argv[1])\n"
               "def walk(k): [v.data for v in k.values]; [walk(s) for s in k.sub_keys]\n"
               "walk(f.get_root_key())' " +
               Quoted(copy / kUsrClass)); // libregf reads it whole
    EXPECT_TRUE(fs::exists(copy / (std::string(kUsrClass) + ".LOG1")));
    win32sim::HiveRecovery again;
    ASSERT_TRUE(win32sim::RecoverHive((copy / kUsrClass).string(), &again, &error));
    EXPECT_FALSE(again.dirty) << "the old logs must not apply over the fixed hive";
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_FALSE(hmtest::KeyExists("HKEY_USERS\\" + bag));

    ApplyRegText(std::string(bagText.begin(), bagText.end())); // the undo file brings the key back
    ASSERT_TRUE(machine::SaveWindowsVolume(volume, false, &error)) << error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    EXPECT_TRUE(RegistryText() == recovered);
}

// Logs that cannot be applied whole, or none at all, leave a dirty hive
// that a fix must not write without --force. The old log format (a DIRT
// bitmap of pages) is applied when its timestamp is the hive's.
TEST_F(WindowsVolumeTest, AppliesOldLogsAndRefusesToWriteAHiveWhoseLogsFailed) {
    const fs::path copy = DamagedVolume("old-log", kNtuser, [](std::string*) {});
    const fs::path ntuser = copy / kNtuser;
    const std::string before = ReadHostFile(ntuser);
    {
        hive_h* hive = hivex_open(ntuser.c_str(), HIVEX_OPEN_WRITE);
        ASSERT_TRUE(hive);
        char data[] = "l\0o\0g\0\0";
        hive_set_value value{const_cast<char*>("FromOldLog"), hive_t_REG_SZ, sizeof data - 1, data};
        EXPECT_EQ(0, hivex_node_set_value(hive, hivex_root(hive), &value, 0));
        EXPECT_EQ(0, hivex_commit(hive, nullptr, 0));
        hivex_close(hive);
    }
    const std::string after = ReadHostFile(ntuser);
    std::string log = after.substr(0, 512);
    log.replace(12, 8, before, 12, 8); // the timestamp of the hive it belongs to
    SetBaseBlockField(&log, 0x1C, 1);
    SetBaseBlockField(&log, 8, Le32(log, 4));
    std::string bitmap(Le32(after, 0x28) / 512 / 8, '\0'), pages;
    for (size_t page = 0; page * 512 + 0x1000 < after.size(); ++page) {
        if (before.size() <= 0x1000 + page * 512 ||
            before.compare(0x1000 + page * 512, 512, after, 0x1000 + page * 512, 512) != 0) {
            bitmap[page / 8] = static_cast<char>(bitmap[page / 8] | 1 << (page % 8));
            pages += after.substr(0x1000 + page * 512, 512);
        }
    }
    log += "DIRT" + bitmap;
    log.resize((log.size() + 511) / 512 * 512, '\0');
    WriteHostFile(copy / (std::string(kNtuser) + ".LOG"), log + pages);
    std::string dirty = before;
    SetBaseBlockField(&dirty, 4, Le32(dirty, 4) + 1);
    WriteHostFile(ntuser, dirty);

    const std::string userKey = std::string("HKEY_USERS\\") + kSid;
    win32sim::WindowsVolume volume;
    std::string error;
    ASSERT_TRUE(win32sim::LoadWindowsVolume(copy.string(), &volume, &error)) << error;
    ASSERT_EQ(1u, volume.notes.size());
    EXPECT_NE(std::string::npos, volume.notes[0].find("(log entries applied: 1, pages: "));
    EXPECT_EQ("log", hmtest::ReadText(userKey, "FromOldLog"));
    EXPECT_TRUE(machine::CheckVolumeWritable(volume, false, {userKey}, &error)) << error;

    const struct {
        const char* log; // cut short, or gone
        const char* reason;
    } refusals[] = {
        {"short", "its transaction logs could not be applied in full (log entries left out: 1); "
                  "use --force to write anyway"},
        {"gone",
         "no transaction logs beside it hold its newest changes; use --force to write anyway"},
    };
    for (const auto& refusal : refusals) {
        if (refusal.log == std::string("short"))
            fs::resize_file(copy / (std::string(kNtuser) + ".LOG"), log.size() + 512);
        else
            fs::remove(copy / (std::string(kNtuser) + ".LOG"));
        EXPECT_FALSE(machine::CheckVolumeWritable(volume, false, {userKey}, &error));
        EXPECT_EQ(ntuser.string() + " is dirty: Windows did not shut down cleanly and " +
                      refusal.reason,
                  error);
        EXPECT_TRUE(machine::CheckVolumeWritable(volume, true, {userKey}, &error)) << error;
    }
}

} // namespace
