// Machine folders (docs/machine-folder.md): read from the host into the
// stand-in, and the registry saved back after a fix.
#include "machine/machine_folder.h"

#include "base/file_read.h"

#include "machine/machine_ini.h"
#include "machine/machine_load.h"
#include "regfile/regfile.h"

#include <win32sim/machine.h>
#include <win32sim/text.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace win32sim {
namespace {

namespace fs = std::filesystem;

bool HasDrive(const MachineConfig& config, char letter) {
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    return std::any_of(config.drives.begin(), config.drives.end(),
                       [letter](const DriveSpec& drive) { return drive.letter == letter; });
}

bool IsPlainFile(const fs::path& path, std::string* error) {
    std::error_code ec;
    return fs::is_regular_file(path, ec) ||
           Fail(error, path.string() + ": not a file (" +
                           (ec ? ec.message() : std::string("a folder or device")) + ")");
}

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>* bytes, std::string* error) {
    if (!IsPlainFile(path, error))
        return false;
    return base::ReadHostFile(path.string(), bytes) ||
           Fail(error, path.string() + ": cannot be read");
}

// One fixed drive per drives/<L> folder. A drive letter that names no
// folder (a dangling link, a link loop) is refused by name.
bool DiscoverDrives(const fs::path& folder, std::vector<DriveSpec>* drives, std::string* error) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder / "drives", ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != 1 || !std::isalpha(static_cast<unsigned char>(name[0])))
            continue;
        std::error_code ec;
        const bool isFolder = fs::is_directory(entry.path(), ec);
        if (ec && ec != std::errc::no_such_file_or_directory)
            return Fail(error, entry.path().string() + ": drive " + name +
                                   " cannot be used: " + ec.message());
        if (isFolder)
            drives->push_back(
                DriveSpec{static_cast<char>(std::toupper(static_cast<unsigned char>(name[0]))),
                          DRIVE_FIXED, entry.path().string()});
    }
    return true;
}

// A machine.reg's bytes, in pages of their own that are given back as the
// parse leaves them behind: a machine's file is hundreds of megabytes, and
// held whole next to the registry built from it, it alone would make the
// load's peak half as large again. (Read, not mapped: a file changed or cut
// short by another program while it loads must not fault.)
class RegFileBytes {
public:
    RegFileBytes() = default;
    RegFileBytes(const RegFileBytes&) = delete;
    RegFileBytes& operator=(const RegFileBytes&) = delete;
    ~RegFileBytes() {
        if (m_pages != MAP_FAILED)
            ::munmap(m_pages, m_capacity);
    }

    const uint8_t* Data() const { return static_cast<const uint8_t*>(m_pages); }
    size_t Size() const { return m_size; }

    bool Read(const fs::path& path, std::string* error) {
        if (!IsPlainFile(path, error))
            return false;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool read = fd >= 0 && ReadAll(fd);
        if (fd >= 0)
            ::close(fd);
        return read || Fail(error, path.string() + ": cannot be read");
    }

    // The first `count` bytes are not needed any more. They go back a
    // megabyte at a time: a call for each page was a twentieth of the load.
    void Release(size_t count) {
        constexpr size_t kStep = size_t{1} << 20; // a multiple of any page size
        const size_t end = std::min(count, m_size) / kStep * kStep;
        if (end > m_released) {
            ::madvise(static_cast<char*>(m_pages) + m_released, end - m_released, MADV_DONTNEED);
            m_released = end;
        }
    }

private:
    // The file as it is when read, however its size changes meanwhile.
    bool ReadAll(int fd) {
        struct stat info {};
        if (::fstat(fd, &info) != 0)
            return false;
        m_capacity = static_cast<size_t>(info.st_size) + 1;
        // Populated at once: faulting in each page as read() fills it cost
        // more than the read.
        m_pages = ::mmap(nullptr, m_capacity, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (m_pages == MAP_FAILED)
            return false;
        auto* at = static_cast<char*>(m_pages);
        while (m_size < m_capacity) {
            const ssize_t got = ::read(fd, at + m_size, m_capacity - m_size);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return false;
            if (got == 0)
                return true;
            m_size += static_cast<size_t>(got);
        }
        return false; // it grew while read: not one file's bytes
    }

    void* m_pages = MAP_FAILED;
    size_t m_capacity = 0;
    size_t m_size = 0;
    size_t m_released = 0;
};

// A machine.reg's keys applied as they are read, its bytes given back
// behind them: neither the script nor the file is held whole next to the
// registry.
class RegFileBuilder : public RegistryBuilder {
public:
    RegFileBuilder(RegFileBytes& bytes, std::string sourceName)
        : RegistryBuilder(std::move(sourceName)), m_bytes(bytes) {}
    void Behind(size_t count) override { m_bytes.Release(count); }

private:
    RegFileBytes& m_bytes;
};

// Everything a machine folder holds, read and checked before anything of
// the current machine changes; the registry's text is parsed as it is
// applied (ReplaceMachine puts the previous machine back on a fault).
bool ReadMachineFolder(const fs::path& folder, MachineConfig* config, RegFileBytes* registry,
                       bool* hasRegistry, std::string* error) {
    std::error_code ignored;
    if (!fs::is_directory(folder, ignored))
        return Fail(error, folder.string() + ": not a folder");
    *config = MachineConfig{};
    if (!DiscoverDrives(folder, &config->drives, error) ||
        !ApplyMachineIniFile(folder.string(), config, error))
        return false;
    const fs::path reg = folder / "machine.reg";
    *hasRegistry = fs::exists(reg, ignored);
    return !*hasRegistry || registry->Read(reg, error);
}

// How a machine.reg holds its text: a save keeps the file's own form.
struct RegFormat {
    regfile::Encoding encoding = regfile::Encoding::Ansi;
    regfile::Header header = regfile::Header::Version5;
};

RegFormat FormatOf(const std::string& hostPath) {
    char head[8] = {};
    std::ifstream in(hostPath, std::ios::binary);
    in.read(head, sizeof(head));
    const std::string_view start(head, static_cast<size_t>(in.gcount()));
    if (start.substr(0, 2) == "\xFF\xFE")
        return {regfile::Encoding::Utf16le, regfile::Header::Version5};
    if (start == "REGEDIT4")
        return {regfile::Encoding::Ansi, regfile::Header::Regedit4};
    return {};
}

// The whole registry in `format`, or in UTF-16 when 8-bit text cannot hold
// a name (or REGEDIT4 a string) of it: nothing is saved as '?'.
bool ExportRegistry(RegFormat format, std::string* bytes, std::string* error) {
    PrivilegedScope privileged;
    const std::vector<std::string> roots = {"HKEY_LOCAL_MACHINE", "HKEY_USERS"};
    LONG status = ERROR_SUCCESS;
    bool lossy = false;
    *bytes = regfile::ExportBytes(roots, format.encoding, &status, &lossy, format.header);
    if (status == ERROR_SUCCESS && lossy)
        *bytes = regfile::ExportBytes(roots, regfile::Encoding::Utf16le, &status);
    if (status != ERROR_SUCCESS)
        return Fail(error, "the registry could not be read whole (error " +
                               std::to_string(status) + ")");
    return true;
}

bool ExportRegistry(RegFormat format, std::vector<uint8_t>* bytes, std::string* error) {
    std::string text;
    if (!ExportRegistry(format, &text, error))
        return false;
    bytes->assign(text.begin(), text.end());
    return true;
}

LONG ApplyRegistry(regfile::Script& script, std::string* error) {
    PrivilegedScope privileged;
    return regfile::ApplyReleasing(script, error);
}

// The new file a save writes before its rename: "<name>.new-<pid>".
constexpr char kNewFileInfix[] = ".new-";

// The new file takes the replaced file's mode and owner, so a save changes
// content only; a file whose owner cannot be kept is not replaced.
bool KeepModeAndOwner(int fd, const std::string& target, std::string* error) {
    struct stat old {};
    if (::stat(target.c_str(), &old) != 0)
        return errno == ENOENT || Fail(error, target + ": " + std::strerror(errno));
    if (::fchmod(fd, old.st_mode & 07777) != 0)
        return Fail(error, target + ": cannot keep its mode: " + std::strerror(errno));
    struct stat made {};
    if (::fstat(fd, &made) == 0 && made.st_uid == old.st_uid && made.st_gid == old.st_gid)
        return true;
    if (::fchown(fd, old.st_uid, old.st_gid) != 0)
        return Fail(error, target + ": cannot keep its owner (" + std::strerror(errno) +
                               "); the file was not replaced");
    // chown clears the set-id bits: put the mode back as it was.
    return ::fchmod(fd, old.st_mode & 07777) == 0 ||
           Fail(error, target + ": cannot keep its mode: " + std::strerror(errno));
}

// New file first, then a rename, so a crash never leaves half a file.
bool WriteFileAtomically(const std::string& hostPath, std::string_view bytes,
                         std::string* error) {
    // RemoveAbandonedSaves knows this name.
    const std::string temporary = hostPath + kNewFileInfix + std::to_string(::getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file)
        return Fail(error, temporary + ": " + std::strerror(errno));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                         std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
    const int writeErrno = errno;
    std::string keepError;
    const bool kept = written && KeepModeAndOwner(::fileno(file), hostPath, &keepError);
    if (std::fclose(file) != 0 || !kept) {
        std::remove(temporary.c_str());
        return Fail(error, written ? keepError : temporary + ": " + std::strerror(writeErrno));
    }
    if (std::rename(temporary.c_str(), hostPath.c_str()) != 0) {
        const int renameErrno = errno;
        std::remove(temporary.c_str());
        return Fail(error, hostPath + ": " + std::strerror(renameErrno));
    }
    return true;
}

} // namespace

bool ApplyMachineIniFile(const std::string& folder, MachineConfig* config, std::string* error) {
    const fs::path ini = fs::path(folder) / "machine.ini";
    std::error_code ignored;
    if (fs::exists(ini, ignored)) {
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(ini, &bytes, error))
            return false;
        if (!ApplyMachineIni(std::string(bytes.begin(), bytes.end()), ini.string(), folder, config,
                             error))
            return false;
    }
    std::sort(config->drives.begin(), config->drives.end(),
              [](const DriveSpec& a, const DriveSpec& b) { return a.letter < b.letter; });
    if (!HasDrive(*config, config->windowsDir[0]))
        return Fail(error, folder + ": no drive holds the Windows folder " + config->windowsDir +
                               " (drives/" + config->windowsDir.substr(0, 1) + " is missing)");
    return true;
}

bool RegistryBuilder::Take(regfile::KeyOp& key, bool wide, std::string* error) {
    std::string applyError;
    if (m_applier.Apply(key, wide, &applyError) != ERROR_SUCCESS)
        return Fail(error, m_sourceName + ": " + applyError);
    key = regfile::KeyOp();
    return true;
}

bool ReplaceMachine(const MachineConfig& config,
                    const std::function<bool(std::string* error)>& fillRegistry,
                    std::string* error) {
    const bool hadMachine = IsMachineLoaded();
    const MachineConfig previous = CurrentConfig();
    std::vector<uint8_t> previousRegistry;
    // In UTF-16, which gives back every name and string exactly: a fault
    // found halfway through the new registry's text or hives puts this back.
    // (8-bit text applies string data outside 1252 with '?'.) A machine that
    // could not be put back is not given up for the new one.
    std::string keepError;
    if (hadMachine &&
        !ExportRegistry(RegFormat{regfile::Encoding::Utf16le, regfile::Header::Version5},
                        &previousRegistry, &keepError))
        return Fail(error, "the current machine could not be kept to put back on a fault: " +
                               keepError);
    ResetMachine(config, "");
    std::string fillError;
    if (fillRegistry(&fillError))
        return true;
    if (hadMachine) {
        ResetMachine(previous, "");
        regfile::Script old;
        std::string backError;
        if (!regfile::Parse(previousRegistry, "previous registry", &old, &backError) ||
            ApplyRegistry(old, &backError) != ERROR_SUCCESS)
            fillError += "; the previous machine's registry could not be put back whole: " +
                         backError;
    }
    return Fail(error, fillError);
}

bool LoadMachine(const std::string& folder, std::string* error) {
    MachineConfig config;
    RegFileBytes bytes;
    bool hasRegistry = false;
    if (!ReadMachineFolder(fs::absolute(folder), &config, &bytes, &hasRegistry, error))
        return false;
    const std::string sourceName = (fs::absolute(folder) / "machine.reg").string();
    return ReplaceMachine(
        config,
        [&](std::string* fillError) {
            if (!hasRegistry)
                return true;
            PrivilegedScope privileged;
            RegFileBuilder builder(bytes, sourceName);
            return regfile::ParseEach(bytes.Data(), bytes.Size(), sourceName, builder, fillError);
        },
        error);
}

void RemoveAbandonedSaves(const std::string& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        for (const char* saved : {"machine.reg", "machine.ini"}) {
            if (name.rfind(std::string(saved) + kNewFileInfix, 0) == 0)
                fs::remove(entry.path(), error);
        }
    }
}

bool SaveRegistry(const std::string& hostPath, std::string* error) {
    std::string bytes;
    return ExportRegistry(FormatOf(hostPath), &bytes, error) &&
           WriteFileAtomically(hostPath, bytes, error);
}

bool SaveMachineFolder(const std::string& folder, std::string* error) {
    std::error_code made;
    fs::create_directories(folder, made);
    if (made)
        return Fail(error, folder + ": " + made.message());
    const std::string ini = MachineIniText(CurrentConfig());
    return SaveRegistry((fs::path(folder) / "machine.reg").string(), error) &&
           WriteFileAtomically((fs::path(folder) / "machine.ini").string(), ini, error);
}

} // namespace win32sim
