// Fixes written back into the hive files of an offline Windows volume: real
// regf files built from .reg text, changed through the stand-in, and read
// back with hivexregedit (Linux builds only).
#include "machine/windows_volume.h"
#include "regfile/regfile.h"
#include <win32sim/machine.h>

#include <gtest/gtest.h>
#include <hivex.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using win32sim::WindowsVolume;

const char kSoftwarePrefix[] = "HKEY_LOCAL_MACHINE\\SOFTWARE";
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

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string RunCommand(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
            out.append(buffer, n);
        EXPECT_EQ(0, ::pclose(pipe)) << command;
    }
    return out;
}

void MakeHive(const fs::path& hive, const std::string& prefix, const std::string& text) {
    const fs::path source = hive.string() + ".source.reg";
    WriteBytes(source, text);
    ASSERT_EQ(0, std::system(("'" HM_SOURCE_DIR "/tests/support/make-hive' --prefix '" + prefix +
                              "' '" + hive.string() + "' '" + source.string() + "'")
                                 .c_str()));
    fs::remove(source);
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
    const std::string bom = "\xEF\xBB\xBF" + text;
    regfile::Script script;
    std::string error;
    ASSERT_TRUE(
        regfile::Parse(std::vector<uint8_t>(bom.begin(), bom.end()), "test", &script, &error))
        << error;
    win32sim::PrivilegedScope privileged;
    ASSERT_EQ(ERROR_SUCCESS, regfile::Apply(script, &error)) << error;
}

void PatchFirstSequenceNumber(const fs::path& hive) {
    std::string bytes = ReadBytes(hive);
    bytes[4] = static_cast<char>(bytes[4] + 1);
    uint32_t checksum = 0;
    for (size_t at = 0; at < 0x1FC; at += 4) {
        uint32_t word;
        std::memcpy(&word, &bytes[at], 4);
        checksum ^= word;
    }
    std::memcpy(&bytes[0x1FC], &checksum, 4);
    WriteBytes(hive, bytes);
}

bool SequenceNumbersAgree(const fs::path& hive) {
    const std::string bytes = ReadBytes(hive);
    return bytes.size() > 12 && bytes.compare(4, 4, bytes, 8, 4) == 0;
}

class HiveWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> sequence{0};
        m_root = fs::temp_directory_path() /
                 ("hm-hives-" + std::to_string(::getpid()) + "-" + std::to_string(++sequence));
        fs::remove_all(m_root);
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
        WriteBytes(merged, fix);
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
    ASSERT_TRUE(win32sim::SaveWindowsVolume(m_volume, false, &error)) << error;
    EXPECT_EQ(ExpectedExport("fixed-software", kSoftwarePrefix, kSoftware, kSoftwareFix),
              ExportHive(m_software, kSoftwarePrefix));
    EXPECT_EQ(ExpectedExport("fixed-system", kSystemPrefix, kSystem,
                             Replace(kSystemFix, "CurrentControlSet", "ControlSet001")),
              ExportHive(m_system, kSystemPrefix));

    const auto software = IdentityOf(m_software), system = IdentityOf(m_system);
    ASSERT_TRUE(win32sim::SaveWindowsVolume(m_volume, false, &error)) << error;
    EXPECT_EQ(software, IdentityOf(m_software)) << "a save with no change rewrote SOFTWARE";
    EXPECT_EQ(system, IdentityOf(m_system)) << "a save with no change rewrote SYSTEM";

    LoadOriginalIntoStandIn(); // as the undo file restores it
    ASSERT_TRUE(win32sim::SaveWindowsVolume(m_volume, false, &error)) << error;
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

void Hibernate(const fs::path& root, const fs::path&, HeldLock*) {
    WriteBytes(root / "HIBERFIL.SYS", "");
}
void MakeDirty(const fs::path&, const fs::path& hive, HeldLock*) {
    PatchFirstSequenceNumber(hive);
}
void Truncate(const fs::path&, const fs::path& hive, HeldLock*) {
    fs::resize_file(hive, fs::file_size(hive) - 0x800);
}
void BreakChecksum(const fs::path&, const fs::path& hive, HeldLock*) {
    std::string bytes = ReadBytes(hive);
    bytes[0x1FC] = static_cast<char>(bytes[0x1FC] ^ 0x5A);
    WriteBytes(hive, bytes);
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
        {"hibernated", Hibernate, false, "Windows is hibernated"},
        {"hibernated, forced", Hibernate, true, ""},
        {"dirty", MakeDirty, false, "dirty: Windows did not shut down cleanly"},
        {"dirty, forced", MakeDirty, true, ""},
        {"truncated", Truncate, true, "truncated or with a bad checksum"},
        {"bad checksum", BreakChecksum, true, "truncated or with a bad checksum"},
        {"open elsewhere", LockElsewhere, true, "open elsewhere"},
        {"read-only folder", ReadOnlyFolder, true, "cannot be written"},
    };
    const std::string fixed = ExpectedExport("fixed", kSoftwarePrefix, kSoftware, kSoftwareFix);
    const std::string pristine = ReadBytes(m_software);
    m_volume.hives.resize(1);
    ApplyToStandIn(kSoftwareFix);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        if (test.damage == ReadOnlyFolder && ::geteuid() == 0)
            continue; // root writes anywhere: access() cannot refuse it
        fs::remove(m_root / "HIBERFIL.SYS");
        fs::permissions(m_config, fs::perms::owner_all);
        WriteBytes(m_software, pristine);
        HeldLock lock;
        test.damage(m_root, m_software, &lock);
        const std::string before = ReadBytes(m_software);
        std::string checkError, saveError;
        const bool accepted = win32sim::CheckVolumeWritable(m_volume, test.force, &checkError);
        const bool saved = win32sim::SaveWindowsVolume(m_volume, test.force, &saveError);
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
        EXPECT_EQ(checkError, saveError);
        EXPECT_NE(std::string::npos, saveError.find(test.reason)) << saveError;
        EXPECT_EQ(!test.force, saveError.find("use --force") != std::string::npos) << saveError;
        EXPECT_TRUE(before == ReadBytes(m_software)) << "the refused hive changed";
        EXPECT_FALSE(fs::exists(m_software.string() + ".hivemender-new"));
    }
}

} // namespace
