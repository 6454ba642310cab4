// Hive files read through hivex (hive_reader.h).
#include "machine/hive_reader.h"

#include "base/text.h"

#include "machine/machine_load.h"

#include <win32sim/text.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace win32sim {
namespace {

namespace fs = std::filesystem;

bool IsStringData(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// UTF-16LE hive text to 1252 unit for unit: a missing terminator stays
// missing, and an odd last byte, which no UTF-16 reader sees, is dropped.
std::string AnsiFromUtf16(const char* bytes, size_t size) {
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), bytes, units.size() * 2);
    return base::FromWide(CP_ACP, units);
}

// hivex gives names in UTF-8. False when 1252 has no form for one of them.
bool AnsiName(const char* utf8, std::string* ansi) {
    ansi->clear();
    base::WideText units;
    if (!base::ToWide(CP_UTF8, utf8, &units, MB_ERR_INVALID_CHARS))
        return false;
    bool lossy = false;
    *ansi = base::FromWide(CP_ACP, units, 0, &lossy);
    return !lossy;
}

bool IsExcluded(const HiveMount& mount, const std::string& nodePath) {
    for (const std::string& excluded : mount.excludedNodes) {
        if (EqualAnsiNoCase(excluded, nodePath))
            return true;
    }
    return false;
}

constexpr size_t kBaseBlockSize = 0x1000;
constexpr size_t kBinsSizeOffset = 0x28;  // the base block's count of hive bin bytes
constexpr size_t kChecksumOffset = 0x1FC; // XOR of the 127 words before it

uint32_t WordAt(const std::string& bytes, size_t offset) {
    uint32_t word = 0;
    std::memcpy(&word, bytes.data() + offset, sizeof(word));
    return word;
}

bool ChecksumMatches(const std::string& base) {
    uint32_t sum = 0;
    for (size_t offset = 0; offset < kChecksumOffset; offset += 4)
        sum ^= WordAt(base, offset);
    return sum == WordAt(base, kChecksumOffset);
}

// What is wrong with a hive file hivex refused (errno `code`), for a person.
// hivex's errno says little (a missing signature and a file cut short can
// both be "not supported", a short file "invalid"); the base block tells.
std::string OpenFailure(int code, const fs::path& path) {
    if (code == ENOENT)
        return "no such file";
    if (code == EACCES)
        return "cannot be read (permission denied)";
    std::ifstream in(path, std::ios::binary);
    std::string base(kBaseBlockSize, '\0');
    in.read(base.data(), static_cast<std::streamsize>(base.size()));
    const auto read = static_cast<size_t>(in.gcount());
    std::error_code ignored;
    const auto size = static_cast<uint64_t>(fs::file_size(path, ignored));
    if (read < 4 || base.compare(0, 4, "regf") != 0)
        return "not a registry hive (no regf signature)";
    if (read < kBaseBlockSize)
        return "truncated: shorter than the hive's " + std::to_string(kBaseBlockSize) +
               "-byte header";
    if (!ChecksumMatches(base))
        return "damaged hive: the header checksum does not match";
    const uint64_t promised = kBaseBlockSize + uint64_t{WordAt(base, kBinsSizeOffset)};
    if (size < promised)
        return "truncated: the header promises " + std::to_string(promised) +
               " bytes, the file holds " + std::to_string(size);
    return std::string("damaged or unsupported hive: ") + std::strerror(code);
}

// Windows refuses to load a key nested deeper than this below the hive's root.
constexpr size_t kMaxKeyDepth = 512;
// How often a walk drops the hive's mapped pages (HiveReader::FindMappedFile).
constexpr size_t kKeysBetweenDrops = 8192;

// hivex reports damage in the key tree as an errno; what it means for the hive.
std::string KeyDataDamage(int code) {
    switch (code) {
    case EFAULT:
    case EINVAL:
        return "a key, list or value points to a place that holds no such record";
    case ENOTSUP:
        return "a record is of a kind no hive holds";
    case ERANGE:
    case E2BIG:
        return "a key claims more subkeys, values or data than a hive can hold";
    case ENOMEM:
        return "a record claims more memory than there is";
    default:
        return std::string("its key data cannot be read (") + std::strerror(code) + ")";
    }
}

size_t DepthOf(const std::string& nodePath) {
    return nodePath.empty()
               ? 1
               : 2 + static_cast<size_t>(std::count(nodePath.begin(), nodePath.end(), '\\'));
}

} // namespace

hive_node_h HiveReader::NodeAt(const std::string& nodePath) const {
    hive_node_h node = hivex_root(m_handle.get());
    std::string_view rest = nodePath;
    while (node && !rest.empty()) {
        const size_t slash = rest.find('\\');
        const std::string part(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (!part.empty())
            node = hivex_node_get_child(m_handle.get(), node, part.c_str());
    }
    return node;
}

bool HiveReader::RawData(hive_value_h value, DWORD* type, std::vector<BYTE>* data) const {
    hive_type hiveType;
    size_t size = 0;
    Malloced<char> bytes(hivex_value_value(m_handle.get(), value, &hiveType, &size));
    if (!bytes)
        return false;
    *type = TypeOf(hiveType);
    data->assign(bytes.get(), bytes.get() + size);
    return true;
}

// A value's data for the machine's settings: 1252 text for string types.
bool HiveReader::ValueData(hive_value_h value, DWORD* type, std::vector<BYTE>* data) const {
    if (!RawData(value, type, data))
        return false;
    if (IsStringData(*type)) {
        const std::string text =
            AnsiFromUtf16(reinterpret_cast<const char*>(data->data()), data->size());
        data->assign(text.begin(), text.end());
    }
    return true;
}

bool HiveReader::LookUp(const std::string& nodePath, const char* name, DWORD* type,
                        std::vector<BYTE>* data) const {
    const hive_node_h node = NodeAt(nodePath);
    const hive_value_h value = node ? hivex_node_get_value(m_handle.get(), node, name) : 0;
    return value && ValueData(value, type, data);
}

std::string HiveReader::Text(const std::string& nodePath, const char* name) const {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!LookUp(nodePath, name, &type, &data) || !IsStringData(type))
        return {};
    const std::string text(data.begin(), data.end());
    return text.substr(0, text.find('\0'));
}

std::optional<DWORD> HiveReader::Dword(const std::string& nodePath, const char* name) const {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    if (!LookUp(nodePath, name, &type, &data) || type != REG_DWORD || data.size() < 4)
        return std::nullopt;
    return static_cast<DWORD>(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24);
}

std::vector<std::string> HiveReader::SubkeyNames(const std::string& nodePath) const {
    std::vector<std::string> names;
    const hive_node_h node = NodeAt(nodePath);
    Malloced<hive_node_h> children(node ? hivex_node_children(m_handle.get(), node) : nullptr);
    for (size_t i = 0; children && children.get()[i]; ++i) {
        Malloced<char> name(hivex_node_name(m_handle.get(), children.get()[i]));
        std::string ansi;
        if (name && AnsiName(name.get(), &ansi))
            names.push_back(ansi);
    }
    return names;
}

std::vector<std::pair<std::string, std::string>>
HiveReader::TextValues(const std::string& nodePath) const {
    std::vector<std::pair<std::string, std::string>> texts;
    std::vector<regfile::ValueOp> values;
    bool nameless = false;
    const hive_node_h node = NodeAt(nodePath);
    if (!node || !ReadValues(node, &values, &nameless))
        return texts;
    for (const regfile::ValueOp& value : values) {
        std::string name;
        if (IsStringData(value.type) && !value.isDefault && AnsiName(value.name.c_str(), &name)) {
            const std::string text = AnsiFromUtf16(
                reinterpret_cast<const char*>(value.data.data()), value.data.size());
            texts.emplace_back(name, text.substr(0, text.find('\0')));
        }
    }
    return texts;
}

// Names as hivex gives them (UTF-8), data byte for byte. `nameless`: some
// value has a name the stand-in cannot hold.
bool HiveReader::ReadValues(hive_node_h node, std::vector<regfile::ValueOp>* values,
                            bool* nameless) const {
    Malloced<hive_value_h> list(hivex_node_values(m_handle.get(), node));
    if (!list)
        return false;
    for (size_t i = 0; list.get()[i]; ++i) {
        Malloced<char> name(hivex_value_key(m_handle.get(), list.get()[i]));
        regfile::ValueOp value;
        if (!name)
            return false;
        if (std::strlen(name.get()) != hivex_value_key_len(m_handle.get(), list.get()[i])) {
            *nameless = true;
            continue;
        }
        value.name = name.get();
        value.isDefault = value.name.empty();
        if (!RawData(list.get()[i], &value.type, &value.data))
            return false;
        values->push_back(std::move(value));
    }
    return true;
}

// `depth` counts the hive's root key as 1.
bool HiveReader::ReadNode(hive_node_h node, const std::string& nodePath, const std::string& keyPath,
                          size_t depth, Walk& walk) const {
    if (!walk.seen.insert(node).second) {
        walk.problem = "damaged hive: its key tree loops (a subkey list leads back to \\" +
                       nodePath + " or one of its parents)";
        return false;
    }
    if (depth > kMaxKeyDepth) {
        walk.problem = "damaged hive: keys are nested deeper than the " +
                       std::to_string(kMaxKeyDepth) + " levels Windows loads";
        return false;
    }
    regfile::KeyOp key;
    key.keyPath = keyPath;
    bool nameless = false;
    if (!ReadValues(node, &key.values, &nameless))
        return false;
    if (nameless) {
        walk.mount->leftOutNodes.push_back(nodePath);
        return true;
    }
    std::string refused;
    if (!walk.receiver.Take(key, true, &refused)) {
        walk.refused = std::move(refused);
        return false;
    }
    if (++walk.keys % kKeysBetweenDrops == 0)
        DropMappedPages();
    Malloced<hive_node_h> children(hivex_node_children(m_handle.get(), node));
    if (!children)
        return false;
    for (size_t i = 0; children.get()[i]; ++i) {
        Malloced<char> name(hivex_node_name(m_handle.get(), children.get()[i]));
        if (!name)
            return false;
        const std::string childPath = nodePath.empty() ? name.get() : nodePath + "\\" + name.get();
        if (std::strlen(name.get()) != hivex_node_name_len(m_handle.get(), children.get()[i])) {
            walk.mount->leftOutNodes.push_back(childPath);
            continue;
        }
        if (!IsExcluded(*walk.mount, childPath) &&
            !ReadNode(children.get()[i], childPath, keyPath + "\\" + name.get(), depth + 1, walk))
            return false;
    }
    return true;
}

bool HiveReader::ReadMount(HiveMount* mount, regfile::KeyReceiver& receiver,
                           std::string* error) const {
    errno = 0;
    const hive_node_h top = NodeAt(mount->hiveNodePath);
    if (!top)
        return Fail(error, m_path + ": no key " + mount->hiveNodePath);
    Walk walk{mount, receiver, {}, {}, {}};
    if (!ReadNode(top, mount->hiveNodePath, mount->keyPath, DepthOf(mount->hiveNodePath), walk))
        return Fail(error, walk.refused
                               ? *walk.refused
                               : m_path + ": " +
                                     (walk.problem.empty()
                                          ? "damaged hive: " + KeyDataDamage(errno ? errno : EIO)
                                          : walk.problem));
    return true;
}

HiveHandle OpenAsWindowsLoads(const std::string& path, int flags, HiveRecovery* recovery) {
    std::string ignored; // a file that is no hive is hivex's to explain
    if (!RecoverHive(path, recovery, &ignored) || recovery->bytes.empty())
        return HiveHandle(hivex_open(path.c_str(), flags));
    // hivex opens only files: the recovered hive goes to a scratch file,
    // gone once hivex holds it.
    char scratch[] = "/tmp/hivemender-recovered.XXXXXX";
    const int fd = ::mkstemp(scratch);
    if (fd < 0)
        return nullptr;
    const std::vector<unsigned char>& bytes = recovery->bytes;
    size_t written = 0;
    for (ssize_t n = 0; written < bytes.size(); written += static_cast<size_t>(n)) {
        if ((n = ::write(fd, bytes.data() + written, bytes.size() - written)) <= 0)
            break;
    }
    ::close(fd);
    HiveHandle handle(written == bytes.size() ? hivex_open(scratch, flags) : nullptr);
    const int saved = errno;
    std::remove(scratch);
    errno = saved;
    return handle;
}

// hivex reads a hive through a shared, read-only mapping of its file, whose
// pages count as the process's memory once touched: by the end of a
// SOFTWARE hive, the whole hive next to the registry built from it (a
// volume's load peaked at 2 times its hives for it). Such pages can be
// dropped at any time, the file gives them back when touched again, so the
// walk drops them every few thousand keys. hivex does not say where it
// mapped the file: the mapping is found by the file's device and inode.
void HiveReader::FindMappedFile() {
    struct stat file {};
    if (::stat(m_path.c_str(), &file) != 0)
        return;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long long start = 0, end = 0, offset = 0, inode = 0;
        unsigned devMajor = 0, devMinor = 0;
        char perms[5] = {};
        if (std::sscanf(line.c_str(), "%llx-%llx %4s %llx %x:%x %llu", &start, &end, perms, &offset,
                        &devMajor, &devMinor, &inode) != 7)
            continue;
        // Only a shared mapping that cannot be written: dropping the pages
        // of a private one would lose what was written into them.
        const bool sharedReadOnly = perms[1] == '-' && perms[3] == 's';
        if (sharedReadOnly && inode == file.st_ino && devMajor == major(file.st_dev) &&
            devMinor == minor(file.st_dev) && end > start)
            m_mapped.emplace_back(reinterpret_cast<void*>(start), static_cast<size_t>(end - start));
    }
}

void HiveReader::DropMappedPages() const {
    for (const auto& [start, size] : m_mapped)
        ::madvise(start, size, MADV_DONTNEED);
}

std::unique_ptr<HiveReader> HiveReader::Open(const std::string& path, std::string* error) {
    errno = 0;
    HiveRecovery recovery;
    HiveHandle handle = OpenAsWindowsLoads(path, 0, &recovery);
    if (!handle) {
        Fail(error, path + ": " + OpenFailure(errno, path));
        return nullptr;
    }
    return std::make_unique<HiveReader>(std::move(handle), path, recovery.Describe(path));
}

} // namespace win32sim
