// Fixes written back into the hive files of an offline Windows volume: real
// regf files built from .reg text, changed through the stand-in, and read
// back with hivexregedit (Linux builds only).
#include "hive_bytes.h"
#include "machine/hive_writer.h"
#include "machine/volume_checks.h"
#include "machine/windows_volume.h"
#include "regfile/regfile.h"
#include "support/host_files.h"
#include <win32sim/machine.h>

#include <gtest/gtest.h>
#include <hivex.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;
using hmtest::KeyRecord;
using hmtest::Le32;
using hmtest::MakeHive;
using hmtest::ReadHostFile;
using hmtest::RunCommand;
using hmtest::WriteHostFile;
using win32sim::WindowsVolume;

const char kSoftwarePrefix[] = "HKEY_LOCAL_MACHINE\\SOFTWARE";
const char kRemovedKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Removed";
const char kSystemPrefix[] = "HKEY_LOCAL_MACHINE\\SYSTEM";

const char kSoftware[] = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Classes]

[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor]
"Path"="C:\\Program Files\\Vendor\\app.exe"
"Count"=dword:00000005
"Café"=hex(1):6e,00,61,00,ef,00,76,00,65,00,00,00

[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Plugins]
"One"="C:\\one.dll"
"Two"="C:\\two.dll"

[HKEY_LOCAL_MACHINE\SOFTWARE\Removed]
"InstallDir"="C:\\Gone"

[HKEY_LOCAL_MACHINE\SOFTWARE\Removed\Sub\Deeper]
@="x"
"Bin"=hex:01,02,03
)";

// What a fix does to the stand-in: a key with subkeys, a value and a
// string replaced. "?mega" is how the A functions list the omega name, and
// deleting by that name reaches nothing, in the stand-in or in the hive.
const char kSoftwareFix[] = R"(Windows Registry Editor Version 5.00

[-HKEY_LOCAL_MACHINE\SOFTWARE\Removed]

[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor]
"Path"="C:\\New\\app.exe"
"?mega"=-

[HKEY_LOCAL_MACHINE\SOFTWARE\Vendor\Plugins]
"Two"=-
)";

const char kSystem[] = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SYSTEM\ControlSet001\Services\Svc]
"ImagePath"="C:\\svc.exe"
"Start"=dword:00000002

[HKEY_LOCAL_MACHINE\SYSTEM\Select]
"Current"=dword:00000001

[HKEY_LOCAL_MACHINE\SYSTEM\Setup]
"Stage"="done"
)";

// Through the CurrentControlSet mount, and beside it; ControlSet001 itself
// is not in the stand-in at all.
const char kSystemFix[] = R"(Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services\Svc]
"ImagePath"=-

[-HKEY_LOCAL_MACHINE\SYSTEM\Setup]
)";

// Hive content Windows-1252 cannot spell: a value name with an omega and
// UTF-16 data with one. The stand-in holds both as they are.
const char kOmegaName[] = "\xCE\xA9mega";
const char kWideData[] = "\xA9\x03\x00\x00";
const char kStandInOmegas[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor]\r\n"
                              "\"\xCE\xA9mega\"=dword:00000007\r\n"
                              "\"Wide\"=hex(1):a9,03,00,00\r\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, from.size(), to), at += to.size();
    return text;
}

std::string ExportHive(const fs::path& hive, const std::string& prefix) {
    return RunCommand("hivexregedit --export --prefix '" + prefix + "' '" + hive.string() +
                      "' '\\'");
}

struct HiveCloser {
    void operator()(hive_h* hive) const { hivex_close(hive); }
};
using Hive = std::unique_ptr<hive_h, HiveCloser>;

// Writes the omega value and the UTF-16 data into the hive's Vendor key.
void AddOmegas(const fs::path& path) {
    Hive hive(hivex_open(path.c_str(), HIVEX_OPEN_WRITE));
    ASSERT_TRUE(hive);
    const hive_node_h vendor = hivex_node_get_child(hive.get(), hivex_root(hive.get()), "Vendor");
    const hive_set_value values[] = {
        {const_cast<char*>(kOmegaName), hive_t_REG_DWORD, 4, const_cast<char*>("\x07\0\0\0")},
        {const_cast<char*>("Wide"), hive_t_REG_SZ, 4, const_cast<char*>(kWideData)},
    };
    for (const hive_set_value& value : values)
        ASSERT_EQ(0, hivex_node_set_value(hive.get(), vendor, &value, 0));
    ASSERT_EQ(0, hivex_commit(hive.get(), nullptr, 0));
}

// Parsed as UTF-8 (the BOM says so), as the hives were built.
void ApplyToStandIn(const std::string& text) {
    hmtest::ApplyRegText("\xEF\xBB\xBF" + text);
}

void PatchFirstSequenceNumber(const fs::path& hive) {
    std::string bytes = ReadHostFile(hive);
    hmtest::SetBaseBlockField(&bytes, 4, Le32(bytes, 4) + 1);
    WriteHostFile(hive, bytes);
}

bool SequenceNumbersAgree(const fs::path& hive) {
    const std::string bytes = ReadHostFile(hive);
    return bytes.size() > 12 && bytes.compare(4, 4, bytes, 8, 4) == 0;
}

class HiveWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = hmtest::FreshHostFolder("hm-hives");
        m_config = m_root / "Windows" / "System32" / "config";
        fs::create_directories(m_config);
        m_software = m_config / "SOFTWARE";
        m_system = m_config / "SYSTEM";
        MakeHive(m_software, kSoftwarePrefix, kSoftware);
        AddOmegas(m_software);
        MakeHive(m_system, kSystemPrefix, kSystem);
        win32sim::ResetMachine(win32sim::MachineConfig{}, (m_root / "scratch").string());
        LoadOriginalIntoStandIn();
        m_volume.root = m_root.string();
        m_volume.hives = {
            {m_software.string(), {{"", kSoftwarePrefix, {}}}},
            {m_system.string(),
             {{"", kSystemPrefix, {"ControlSet001"}},
              {"ControlSet001", std::string(kSystemPrefix) + "\\CurrentControlSet", {}}}},
        };
    }
    void TearDown() override {
        fs::permissions(m_config, fs::perms::owner_all);
        fs::remove_all(m_root);
    }

    // What loading the volume puts in the stand-in.
    void LoadOriginalIntoStandIn() {
        ApplyToStandIn(kSoftware);
        ApplyToStandIn(kStandInOmegas);
        ApplyToStandIn(Replace(kSystem, "ControlSet001", "CurrentControlSet"));
    }

    // The hive as a fix should leave it: built afresh, and the fix merged
    // into it by hivexregedit.
    std::string ExpectedExport(const char* name, const char* prefix, const char* text,
                               const std::string& fix) {
        const fs::path expected = m_root / name;
        MakeHive(expected, prefix, text);
        if (prefix == std::string(kSoftwarePrefix))
            AddOmegas(expected);
        const fs::path merged = m_root / "fix.reg";
        WriteHostFile(merged, fix);
        RunCommand("hivexregedit --merge --prefix '" + std::string(prefix) + "' '" +
                   expected.string() + "' '" + merged.string() + "'");
        return ExportHive(expected, prefix);
    }

    fs::path m_root, m_config, m_software, m_system;
    WindowsVolume m_volume;
};

// Inode and modification time: what a rewrite changes.
std::pair<ino_t, long> IdentityOf(const fs::path& path) {
    struct stat status {};
    ::stat(path.c_str(), &status);
    return {status.st_ino, status.st_mtim.tv_sec * 1000000000L + status.st_mtim.tv_nsec};
}

// hivexregedit exports every string as its hex bytes and every name as it
// is, so equal exports mean equal hives, the omega value included.
TEST_F(HiveWriterTest, FixThenUndoWritesOnlyTheChangesAndGivesBackTheHives) {
    const std::string originalSoftware = ExportHive(m_software, kSoftwarePrefix);
    const std::string originalSystem = ExportHive(m_system, kSystemPrefix);

    ApplyToStandIn(kSoftwareFix);
    ApplyToStandIn(kSystemFix);
    std::string error;
    ASSERT_TRUE(machine::SaveWindowsVolume(m_volume, false, &error)) << error;
    EXPECT_EQ(ExpectedExport("fixed-software", kSoftwarePrefix, kSoftware, kSoftwareFix),
              ExportHive(m_software, kSoftwarePrefix));
    EXPECT_EQ(ExpectedExport("fixed-system", kSystemPrefix, kSystem,
                             Replace(kSystemFix, "CurrentControlSet", "ControlSet001")),
              ExportHive(m_system, kSystemPrefix));

    const auto software = IdentityOf(m_software), system = IdentityOf(m_system);
    ASSERT_TRUE(machine::SaveWindowsVolume(m_volume, false, &error)) << error;
    EXPECT_EQ(software, IdentityOf(m_software)) << "a save with no change rewrote SOFTWARE";
    EXPECT_EQ(system, IdentityOf(m_system)) << "a save with no change rewrote SYSTEM";

    LoadOriginalIntoStandIn(); // as the undo file restores it
    ASSERT_TRUE(machine::SaveWindowsVolume(m_volume, false, &error)) << error;
    EXPECT_EQ(originalSoftware, ExportHive(m_software, kSoftwarePrefix));
    EXPECT_EQ(originalSystem, ExportHive(m_system, kSystemPrefix));
    EXPECT_FALSE(fs::exists(m_software.string() + ".hivemender-new"));
}

// A hive held by another program's lock for as long as the test runs.
struct HeldLock {
    int fd = -1;
    ~HeldLock() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Hand-made headers: only the signature at the start tells.
void Hibernate(const fs::path& root, const fs::path&, HeldLock*) {
    WriteHostFile(root / "HIBERFIL.SYS", std::string("hibr\0\0\0\0", 8));
}
void FastStart(const fs::path& root, const fs::path&, HeldLock*) {
    WriteHostFile(root / "HIBERFIL.SYS", std::string("HIBR\0\0\0\0", 8));
}
void ResumeStarted(const fs::path& root, const fs::path&, HeldLock*) {
    WriteHostFile(root / "HIBERFIL.SYS", "wake");
}
void ResumedAndZeroed(const fs::path& root, const fs::path&, HeldLock*) {
    WriteHostFile(root / "HIBERFIL.SYS", std::string(4096, '\0'));
}
void EmptyHibernationFile(const fs::path& root, const fs::path&, HeldLock*) {
    WriteHostFile(root / "HIBERFIL.SYS", "");
}
void MakeDirty(const fs::path&, const fs::path& hive, HeldLock*) {
    PatchFirstSequenceNumber(hive);
}
void Truncate(const fs::path&, const fs::path& hive, HeldLock*) {
    fs::resize_file(hive, fs::file_size(hive) - 0x800);
}
void BreakChecksum(const fs::path&, const fs::path& hive, HeldLock*) {
    std::string bytes = ReadHostFile(hive);
    bytes[0x1FC] = static_cast<char>(bytes[0x1FC] ^ 0x5A);
    WriteHostFile(hive, bytes);
}
void LockElsewhere(const fs::path&, const fs::path& hive, HeldLock* lock) {
    lock->fd = ::open(hive.c_str(), O_RDONLY);
    ASSERT_EQ(0, ::flock(lock->fd, LOCK_EX | LOCK_NB));
}
void ReadOnlyFolder(const fs::path&, const fs::path& hive, HeldLock*) {
    fs::permissions(hive.parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
}

TEST_F(HiveWriterTest, AVolumeInUseOrAnUnsoundHiveIsRefusedAndNothingIsWritten) {
    const struct {
        const char* name;
        void (*damage)(const fs::path& root, const fs::path& hive, HeldLock*);
        bool force;
        const char* reason; // empty: written
    } cases[] = {
        {"hibernated", Hibernate, false, ": Windows is hibernated (hiberfil.sys holds its image)"},
        {"hibernated, forced", Hibernate, true, ""},
        {"fast-started", FastStart, false, "Windows is hibernated or fast-started (hiberfil"},
        {"resume started", ResumeStarted, false, "hibernated, its resume started and not finished"},
        {"resumed, zeroed", ResumedAndZeroed, false, ""},
        {"empty hiberfil.sys", EmptyHibernationFile, false, ""},
        {"dirty", MakeDirty, false, "dirty: Windows did not shut down cleanly"},
        {"dirty, forced", MakeDirty, true, ""},
        {"truncated", Truncate, true, "truncated or with a bad checksum"},
        {"bad checksum", BreakChecksum, true, "truncated or with a bad checksum"},
        {"open elsewhere", LockElsewhere, true, "open elsewhere"},
        {"read-only folder", ReadOnlyFolder, true, "cannot be written"},
    };
    const std::string fixed = ExpectedExport("fixed", kSoftwarePrefix, kSoftware, kSoftwareFix);
    const std::string pristine = ReadHostFile(m_software);
    m_volume.hives.resize(1);
    ApplyToStandIn(kSoftwareFix);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        if (test.damage == ReadOnlyFolder && ::geteuid() == 0)
            continue; // root writes anywhere: access() cannot refuse it
        fs::remove(m_root / "HIBERFIL.SYS");
        fs::permissions(m_config, fs::perms::owner_all);
        WriteHostFile(m_software, pristine);
        HeldLock lock;
        test.damage(m_root, m_software, &lock);
        const std::string before = ReadHostFile(m_software);
        std::string checkError, saveError;
        const bool accepted =
            machine::CheckVolumeWritable(m_volume, test.force, {kRemovedKey}, &checkError);
        const bool saved = machine::SaveWindowsVolume(m_volume, test.force, &saveError);
        if (!*test.reason) {
            EXPECT_TRUE(accepted) << checkError;
            EXPECT_TRUE(saved) << saveError;
            EXPECT_EQ(fixed, ExportHive(m_software, kSoftwarePrefix));
            // hivex writes its own base block: a forced write of a dirty
            // hive leaves it clean, its logs' changes given up.
            EXPECT_TRUE(SequenceNumbersAgree(m_software));
            continue;
        }
        EXPECT_FALSE(accepted);
        EXPECT_FALSE(saved);
        EXPECT_EQ(0u, saveError.rfind(checkError, 0)) << saveError;
        EXPECT_NE(std::string::npos, saveError.find(test.reason)) << saveError;
        EXPECT_EQ(!test.force, saveError.find("use --force") != std::string::npos) << saveError;
        EXPECT_TRUE(before == ReadHostFile(m_software)) << "the refused hive changed";
        EXPECT_FALSE(fs::exists(m_software.string() + ".hivemender-new"));
    }
}

// Keys beside each other whose order depends on upper-casing beyond ASCII
// (U+00FF, U+00B5 among them), one holding a value too big for one
// cell in format 1.4 and later.
const char kApps[] = "Windows Registry Editor Version 5.00\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\\xC3\x89"
                     "b.exe]\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\\xC3\xBF]\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\\xC2\xB5]\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\z]\r\n\r\n"
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\\xC3\xA9"
                     "a.exe]\r\n"
                     "\"Small\"=dword:00000001\r\n\"Path\"=\"C:\\\\a.exe\"\r\n\"Big\"=hex:";
constexpr size_t kBigSize = 40000;

size_t CellOf(uint32_t offset) {
    return 0x1000 + size_t{offset};
}

std::string CellBytes(const std::string& bytes, size_t cell) {
    return bytes.substr(cell, -static_cast<int32_t>(Le32(bytes, cell)));
}

// A key's subkeys as its lh list holds them: Latin-1 name and hash.
std::vector<std::pair<std::string, uint32_t>> SubkeyList(const std::string& bytes, size_t key) {
    const size_t list = CellOf(Le32(bytes, key + 0x20));
    EXPECT_EQ("lh", bytes.substr(list + 4, 2));
    std::vector<std::pair<std::string, uint32_t>> subkeys;
    for (size_t i = 0; i < Le32(bytes, list + 6) % 0x10000; ++i) {
        const size_t subkey = CellOf(Le32(bytes, list + 8 + 8 * i));
        subkeys.emplace_back(bytes.substr(subkey + 0x50, Le32(bytes, subkey + 0x4C) % 0x10000),
                             Le32(bytes, list + 12 + 8 * i));
    }
    return subkeys;
}

// Every value cell of a key with the cells of its data, by cell offset.
std::map<size_t, std::string> ValueCells(const std::string& bytes, size_t key) {
    std::map<size_t, std::string> cells;
    const size_t list = CellOf(Le32(bytes, key + 0x2C));
    for (size_t i = 0; i < Le32(bytes, key + 0x28); ++i) {
        const size_t value = CellOf(Le32(bytes, list + 4 + 4 * i));
        std::string& kept = cells[value] = CellBytes(bytes, value);
        if (Le32(bytes, value + 8) & 0x80000000)
            continue; // the data is in the value cell
        const size_t data = CellOf(Le32(bytes, value + 12));
        kept += CellBytes(bytes, data);
        if (bytes.compare(data + 4, 2, "db") != 0)
            continue;
        const size_t segments = CellOf(Le32(bytes, data + 8));
        for (size_t s = 0; s < Le32(bytes, data + 4) >> 16; ++s)
            kept += CellBytes(bytes, CellOf(Le32(bytes, segments + 4 + 4 * s)));
    }
    return cells;
}

// libregf, a reader independent of hivex, reads every key and value of the
// hive and finds the big value whole.
const char kLibregfCheck[] = R"(/usr/bin/python3 -c '
import pyregf, sys
f = pyregf.file(); f.open(sys.argv[1])
def walk(key):
    for value in key.values:
        if value.name == "Big":
            print(value.data == bytes(i * 7 % 256 for i in range(40000)), len(value.data))
        value.data
    for sub in key.sub_keys:
        walk(sub)
walk(f.get_root_key())' )";

// Only a hive a change writes must be clean: a dirty SYSTEM without logs
// blocks a change of its keys, not one of SOFTWARE's or of the classes
// (HKEY_CLASSES_ROOT is SOFTWARE's Classes and the user's classes hive).
TEST_F(HiveWriterTest, OnlyTheHivesAChangeWritesMustBeClean) {
    PatchFirstSequenceNumber(m_system);
    const struct {
        const char* key;
        bool accepted;
    } cases[] = {
        {kRemovedKey, true},
        {"HKEY_CLASSES_ROOT\\.txt", true},
        {"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Svc", false},
        {"HKEY_LOCAL_MACHINE", false},
    };
    std::string error;
    for (const auto& c : cases)
        EXPECT_EQ(c.accepted, machine::CheckVolumeWritable(m_volume, false, {c.key}, &error))
            << c.key;
    ApplyToStandIn(kSoftwareFix);
    EXPECT_TRUE(machine::SaveWindowsVolume(m_volume, false, &error)) << error;
    EXPECT_FALSE(SequenceNumbersAgree(m_system)) << "SYSTEM was not to be written";
    ApplyToStandIn(kSystemFix);
    EXPECT_FALSE(machine::SaveWindowsVolume(m_volume, false, &error));
    EXPECT_NE(std::string::npos, error.find("SYSTEM is dirty")) << error;
    PatchFirstSequenceNumber(m_software);
    EXPECT_FALSE(
        machine::CheckVolumeWritable(m_volume, false, {"HKEY_CLASSES_ROOT\\.txt"}, &error));
}

// Format 1.5: a deleted key restored (an undo) gets its big value back as a
// big-data record; a later change of one of its values rewrites that value
// alone; and the parent's subkey list ends in Windows' order with Windows'
// hashes, names upper-cased by Unicode (U+00FF to U+0178, U+00B5 to U+039C).
TEST_F(HiveWriterTest, BigValuesStayBigDataAndSubkeyListsKeepWindowsOrder) {
    std::string apps = kApps;
    for (size_t i = 0; i < kBigSize; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, i ? ",%02x" : "%02x", static_cast<unsigned>(i * 7 % 256));
        apps += hex;
    }
    apps += "\r\n";
    MakeHive(m_software, kSoftwarePrefix, apps, 5);
    win32sim::ResetMachine(win32sim::MachineConfig{}, (m_root / "scratch").string());
    ApplyToStandIn(apps);
    m_volume.hives.resize(1);
    std::string error;
    ApplyToStandIn("Windows Registry Editor Version 5.00\r\n\r\n"
                   "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\\xC3\xA9"
                   "a.exe]\r\n");
    ASSERT_TRUE(machine::SaveWindowsVolume(m_volume, false, &error)) << error;
    ApplyToStandIn(apps);
    ASSERT_TRUE(machine::SaveWindowsVolume(m_volume, false, &error)) << error;
    const std::string restored = ReadHostFile(m_software);
    EXPECT_EQ("True 40000\n", RunCommand(kLibregfCheck + m_software.string()));

    auto hash = [](std::u16string upper) {
        uint32_t h = 0;
        for (char16_t unit : upper)
            h = h * 37 + unit;
        return h;
    };
    const std::vector<std::pair<std::string, uint32_t>> windowsOrder = {
        {"z", hash(u"Z")},
        {"\xE9"
         "a.exe",
         hash(u"\u00C9A.EXE")},
        {"\xC9"
         "b.exe",
         hash(u"\u00C9B.EXE")},
        {"\xFF", hash(u"\u0178")},
        {"\xB5", hash(u"\u039C")},
    };
    EXPECT_EQ(windowsOrder, SubkeyList(restored, KeyRecord(restored, "Apps")));

    const auto before = ValueCells(restored, KeyRecord(restored, "\xE9"
                                                                 "a.exe"));
    ApplyToStandIn("Windows Registry Editor Version 5.00\r\n\r\n"
                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Apps\\\xC3\xA9"
                   "a.exe]\r\n"
                   "\"Path\"=\"C:\\\\b.exe\"\r\n");
    ASSERT_TRUE(machine::SaveWindowsVolume(m_volume, false, &error)) << error;
    const std::string changed = ReadHostFile(m_software);
    const auto after = ValueCells(changed, KeyRecord(changed, "\xE9"
                                                              "a.exe"));
    size_t untouched = 0;
    for (const auto& [cell, content] : before)
        untouched += after.count(cell) && after.at(cell) == content;
    EXPECT_EQ(3u, after.size());
    EXPECT_EQ(2u, untouched) << "Small and Big must keep their cells byte for byte";
    EXPECT_EQ("True 40000\n", RunCommand(kLibregfCheck + m_software.string()));
}

} // namespace
