// Writing the stand-in's registry back into the hive files of an offline
// Windows volume (windows_volume.h), and the checks that come first.
//
// A user's only registry is at stake, so the writer changes as little as it
// can: it reads the stand-in's keys through the Win32 API, compares them with
// the hive node by node, and touches only what differs. A value that did
// not change is written back from its original bytes; the stand-in holds
// every name and string exactly as the hive gave it, and what it could not
// hold (a name with a NUL) is kept as it is and never deleted. Each changed hive is written whole to a new file beside it
// and renamed over the old one only once every changed hive has its new file.
#include "machine/hive_reader.h"
#include "machine/windows_volume.h"
#include "regfile/regfile_text.h"

#include <win32sim/machine.h>
#include <win32sim/text.h>

#include <windows.h>

#include <hivex.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <type_traits>
#include <utility>

namespace win32sim {
namespace {

namespace fs = std::filesystem;

constexpr char kNewHiveSuffix[] = ".hivemender-new";
constexpr char kForceHint[] = "; use --force to write anyway";

bool Fail(std::string* error, std::string message) {
    if (error)
        *error = std::move(message);
    return false;
}

std::string ErrnoText() {
    return std::strerror(errno);
}

// ---------------------------------------------------------------------------
// Owners of the handles used here.

struct MallocFreer {
    void operator()(void* block) const { std::free(block); }
};
template <class T> using MallocOwner = std::unique_ptr<T, MallocFreer>;

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using KeyHandle = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// A hive's new file, removed unless it took the hive's place.
class NewHiveFile {
public:
    NewHiveFile(std::string hivePath, std::string newPath)
        : m_hivePath(std::move(hivePath)), m_newPath(std::move(newPath)) {}
    NewHiveFile(NewHiveFile&& other) noexcept
        : m_hivePath(std::move(other.m_hivePath)), m_newPath(std::exchange(other.m_newPath, {})) {}
    NewHiveFile(const NewHiveFile&) = delete;
    ~NewHiveFile() {
        if (!m_newPath.empty())
            std::remove(m_newPath.c_str());
    }
    const std::string& HivePath() const { return m_hivePath; }
    bool ReplaceHive(std::string* error) {
        if (std::rename(m_newPath.c_str(), m_hivePath.c_str()) != 0)
            return Fail(error, m_hivePath + ": cannot be replaced by its new file: " + ErrnoText());
        m_newPath.clear();
        return true;
    }

private:
    std::string m_hivePath;
    std::string m_newPath;
};

// ---------------------------------------------------------------------------
// Checks before anything is written.

bool HasHibernationFile(const std::string& root) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(root, ignored)) {
        if (EqualAnsiNoCase(HostNameToAnsi(entry.path().filename().string()), "hiberfil.sys"))
            return true;
    }
    return false;
}

bool ReadSequenceNumbers(const std::string& path, uint32_t* first, uint32_t* second) {
    unsigned char header[12] = {};
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    const bool read = std::fread(header, 1, sizeof(header), file) == sizeof(header);
    std::fclose(file);
    auto le32 = [&header](size_t at) {
        return uint32_t(header[at]) | uint32_t(header[at + 1]) << 8 |
               uint32_t(header[at + 2]) << 16 | uint32_t(header[at + 3]) << 24;
    };
    *first = le32(4);
    *second = le32(8);
    return read;
}

// What --force cannot override: a hive that cannot be written or is damaged.
bool CheckHiveSound(const std::string& path, std::string* error) {
    const std::string folder = fs::path(path).parent_path().string();
    if (::access(path.c_str(), W_OK) != 0)
        return Fail(error, path + ": the hive cannot be written (" + ErrnoText() + ")");
    if (::access(folder.c_str(), W_OK) != 0)
        return Fail(error, folder + ": the hive folder cannot be written (" + ErrnoText() +
                               "), so no new hive can be made beside " + path);
    // Without HIVEX_OPEN_UNSAFE hivex refuses a short file and a base block
    // whose checksum does not match.
    if (!HiveHandle(hivex_open(path.c_str(), 0)))
        return Fail(error, path + ": not a sound hive, truncated or with a bad checksum (" +
                               ErrnoText() + ")");
    return true;
}

// Windows raises the first sequence number before it writes a hive and the
// second after; numbers that differ mean writes are still only in its logs.
bool CheckHiveClean(const std::string& path, bool force, std::string* error) {
    uint32_t first = 0, second = 0;
    if (!ReadSequenceNumbers(path, &first, &second))
        return Fail(error, path + ": the hive's base block cannot be read");
    if (first == second || force)
        return true;
    return Fail(error, path + " is dirty: Windows did not shut down cleanly (sequence numbers " +
                           std::to_string(first) + " and " + std::to_string(second) +
                           " differ) and its logs hold changes not yet in the hive" + kForceHint);
}

bool CheckHives(const WindowsVolume& volume, bool force, std::string* error) {
    if (!force && HasHibernationFile(volume.root))
        return Fail(error, volume.root +
                               ": Windows is hibernated (hiberfil.sys is present); a change "
                               "now would be lost or break it when it resumes" +
                               kForceHint);
    for (const HiveFile& hive : volume.hives) {
        if (!CheckHiveSound(hive.hostPath, error) || !CheckHiveClean(hive.hostPath, force, error))
            return false;
    }
    return true;
}

// An advisory lock held for the whole save: another hivemender, or any
// program that takes flock locks on the hive, holds it off. It cannot see
// a Windows running from the same disk elsewhere: hiberfil.sys and the
// sequence numbers are the signs of that.
bool LockHives(const WindowsVolume& volume, std::vector<FileDescriptor>* locks,
               std::string* error) {
    for (const HiveFile& hive : volume.hives) {
        FileDescriptor fd(::open(hive.hostPath.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.Get() < 0)
            return Fail(error, hive.hostPath + ": cannot be opened (" + ErrnoText() + ")");
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0)
            return Fail(error, hive.hostPath + ": the hive is open elsewhere (" + ErrnoText() +
                                   "); close what holds it and try again");
        locks->push_back(std::move(fd));
    }
    return true;
}

// ---------------------------------------------------------------------------
// The stand-in's side: a mount's keys read through the W functions, which
// give every name and string exactly as the stand-in holds it.

using regfile::detail::Utf16Of;
using regfile::detail::Utf8Of;
using regfile::detail::WideText;

struct ValueImage {
    std::string name; // UTF-8, as hivex takes it
    DWORD type = REG_NONE;
    std::vector<BYTE> data; // the bytes Windows keeps
};

struct KeyImage {
    std::string name;
    std::vector<ValueImage> values;
    std::vector<KeyImage> subkeys;
};

HKEY RootKey(const std::string& name) {
    static const std::pair<const char*, HKEY> roots[] = {
        {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {"HKEY_USERS", HKEY_USERS},
    };
    for (const auto& [rootName, key] : roots) {
        if (EqualAnsiNoCase(name, rootName))
            return key;
    }
    return nullptr;
}

bool ReadValues(HKEY key, DWORD count, DWORD maxName, DWORD maxData, KeyImage* image) {
    std::vector<WCHAR> name(maxName + 1);
    for (DWORD index = 0; index < count; ++index) {
        ValueImage value;
        value.data.resize(maxData);
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = maxData;
        if (RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &value.type,
                          value.data.data(), &dataLength) != ERROR_SUCCESS)
            return false;
        value.name = Utf8Of(name.data(), nameLength);
        value.data.resize(dataLength);
        image->values.push_back(std::move(value));
    }
    return true;
}

bool ReadKeyImage(HKEY key, const std::string& path, const std::set<std::string>& otherMounts,
                  KeyImage* image);

bool ReadSubkeys(HKEY key, const std::string& path, DWORD count, DWORD maxName,
                 const std::set<std::string>& otherMounts, KeyImage* image) {
    std::vector<WCHAR> name(maxName + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            return false;
        KeyImage subkey;
        subkey.name = Utf8Of(name.data(), nameLength);
        const std::string subkeyPath = path + "\\" + subkey.name;
        if (otherMounts.count(UpperAnsi(subkeyPath)))
            continue;
        const WideText wideName(name.data(), nameLength);
        HKEY opened = nullptr;
        if (RegOpenKeyExW(key, wideName.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return false;
        if (!ReadKeyImage(KeyHandle(opened).get(), subkeyPath, otherMounts, &subkey))
            return false;
        image->subkeys.push_back(std::move(subkey));
    }
    return true;
}

// The lengths RegQueryInfoKeyA gives count UTF-16 units, as the W functions do.
bool ReadKeyImage(HKEY key, const std::string& path, const std::set<std::string>& otherMounts,
                  KeyImage* image) {
    DWORD subkeys = 0, maxSubkeyName = 0, values = 0, maxValueName = 0, maxData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkeyName, nullptr, &values,
                         &maxValueName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return ReadValues(key, values, maxValueName, maxData, image) &&
           ReadSubkeys(key, path, subkeys, maxSubkeyName, otherMounts, image);
}

bool ReadMountImage(const HiveMount& mount, const std::set<std::string>& otherMounts,
                    KeyImage* image, std::string* error) {
    PrivilegedScope privileged; // denial settings must not hide keys from the save
    const size_t slash = mount.keyPath.find('\\');
    const HKEY root = RootKey(mount.keyPath.substr(0, slash));
    const std::string below = slash == std::string::npos ? "" : mount.keyPath.substr(slash + 1);
    HKEY opened = nullptr;
    if (!root || RegOpenKeyExW(root, Utf16Of(below).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return Fail(error, "the registry has no key " + mount.keyPath);
    if (!ReadKeyImage(KeyHandle(opened).get(), mount.keyPath, otherMounts, image))
        return Fail(error, "the key " + mount.keyPath + " could not be read whole");
    return true;
}

// ---------------------------------------------------------------------------
// The hive's side: names matched as the registry matches them.

// A name (or a path of names) folded as the registry compares them.
std::u16string Folded(const std::string& utf8) {
    return FoldRegistryName(Utf16Of(utf8));
}

// A hive name. One with a NUL in it never reached the stand-in, so such a
// node or value is never deleted or rewritten: the writer keeps it as it is.
struct HiveName {
    std::string utf8;
    std::u16string folded;
    bool touchable = false;
};

HiveName NameFromHive(const char* utf8, size_t length) {
    HiveName name{std::string(utf8, length), {}, false};
    name.touchable = name.utf8.find('\0') == std::string::npos;
    if (name.touchable)
        name.folded = Folded(name.utf8);
    return name;
}

// A hive value the stand-in holds as it was loaded: it keeps the bytes.
bool SameValue(DWORD hiveType, const std::vector<BYTE>& hiveData, const ValueImage& value) {
    return hiveType == value.type && hiveData == value.data;
}

// One entry of the list hivex_node_set_values takes, owning its bytes.
struct HiveValue {
    std::string name; // UTF-8
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// The stand-in's entries by folded name: a hive name finds the entry it
// stands for at once, however many siblings it has.
template <class Image>
std::unordered_map<std::u16string, const Image*> ByFoldedName(const std::vector<Image>& images) {
    std::unordered_map<std::u16string, const Image*> index;
    for (const Image& image : images)
        index.emplace(Folded(image.name), &image);
    return index;
}

template <class Image>
const Image* FindImage(const std::unordered_map<std::u16string, const Image*>& index,
                       const HiveName& name) {
    const auto found = index.find(name.folded);
    return found == index.end() ? nullptr : found->second;
}

std::unordered_set<std::u16string> FoldedNames(const std::vector<HiveName>& names) {
    std::unordered_set<std::u16string> folded;
    for (const HiveName& name : names) {
        if (name.touchable)
            folded.insert(name.folded);
    }
    return folded;
}
// ---------------------------------------------------------------------------
// One mount's diff, applied to an open hive.

class MountWriter {
public:
    MountWriter(hive_h* hive, const HiveMount& mount, const std::string& hivePath)
        : m_hive(hive), m_mount(mount), m_hivePath(hivePath) {}

    // Brings the mount's hive node in line with `image`; counts the nodes
    // changed in `changes`.
    bool Write(const KeyImage& image, size_t* changes, std::string* error);

private:
    bool SyncNode(hive_node_h node, const std::string& nodePath, const KeyImage& image);
    bool SyncValues(hive_node_h node, const std::string& nodePath, const KeyImage& image);
    bool ReadHiveValues(hive_node_h node, std::vector<HiveName>* names,
                        std::vector<HiveValue>* values);
    bool AddSubtree(hive_node_h parent, const std::string& parentPath, const KeyImage& image);
    bool SetValues(hive_node_h node, const std::string& nodePath,
                   const std::vector<HiveValue>& values);
    bool IsExcluded(const std::string& nodePath) const;
    const std::string* LeftOutBelow(const std::string& nodePath) const;
    bool HiveFailed(const std::string& what, const std::string& nodePath);

    hive_h* m_hive;
    const HiveMount& m_mount;
    const std::string& m_hivePath;
    size_t m_changes = 0;
    std::string m_error;
};

bool MountWriter::Write(const KeyImage& image, size_t* changes, std::string* error) {
    hive_node_h node = hivex_root(m_hive);
    size_t start = 0;
    while (node && start < m_mount.hiveNodePath.size()) {
        const size_t end = m_mount.hiveNodePath.find('\\', start);
        const std::string name = m_mount.hiveNodePath.substr(start, end - start);
        node = hivex_node_get_child(m_hive, node, name.c_str());
        start = end == std::string::npos ? std::string::npos : end + 1;
    }
    if (!node)
        return Fail(error, m_hivePath + ": the hive has no node " + m_mount.hiveNodePath);
    if (!SyncNode(node, m_mount.hiveNodePath, image))
        return Fail(error, m_error);
    *changes += m_changes;
    return true;
}

bool MountWriter::HiveFailed(const std::string& what, const std::string& nodePath) {
    m_error = m_hivePath + ": " + what + " at \\" + nodePath + ": " + ErrnoText();
    return false;
}

bool MountWriter::IsExcluded(const std::string& nodePath) const {
    const std::u16string folded = Folded(nodePath);
    for (const auto* nodes : {&m_mount.excludedNodes, &m_mount.leftOutNodes}) {
        for (const std::string& excluded : *nodes) {
            if (Folded(excluded) == folded)
                return true;
        }
    }
    return false;
}

// A node below `nodePath` that the stand-in does not hold, or null.
const std::string* MountWriter::LeftOutBelow(const std::string& nodePath) const {
    const std::u16string prefix = Folded(nodePath + "\\");
    for (const auto* nodes : {&m_mount.excludedNodes, &m_mount.leftOutNodes}) {
        for (const std::string& node : *nodes) {
            if (Folded(node).compare(0, prefix.size(), prefix) == 0)
                return &node;
        }
    }
    return nullptr;
}

std::string ChildPath(const std::string& parent, const std::string& name) {
    return parent.empty() ? name : parent + "\\" + name;
}

bool MountWriter::SyncNode(hive_node_h node, const std::string& nodePath, const KeyImage& image) {
    if (!SyncValues(node, nodePath, image))
        return false;
    MallocOwner<hive_node_h> children(hivex_node_children(m_hive, node));
    if (!children)
        return HiveFailed("cannot list the subkeys", nodePath);
    std::vector<HiveName> names;
    std::vector<std::pair<hive_node_h, std::string>> gone;
    const auto subkeys = ByFoldedName(image.subkeys);
    for (const hive_node_h* child = children.get(); *child; ++child) {
        MallocOwner<char> utf8(hivex_node_name(m_hive, *child));
        if (!utf8)
            return HiveFailed("cannot read a subkey's name", nodePath);
        names.push_back(NameFromHive(utf8.get(), hivex_node_name_len(m_hive, *child)));
        const HiveName& name = names.back();
        const std::string childPath = ChildPath(nodePath, name.utf8);
        if (!name.touchable || IsExcluded(childPath))
            continue;
        if (const KeyImage* subkey = FindImage(subkeys, name)) {
            if (!SyncNode(*child, childPath, *subkey))
                return false;
        } else {
            gone.emplace_back(*child, childPath);
        }
    }
    for (const auto& [child, childPath] : gone) {
        // The engine never saw all of it, so it cannot have meant to delete it.
        if (const std::string* leftOut = LeftOutBelow(childPath)) {
            errno = EPERM;
            return HiveFailed("refusing to delete a key that holds \\" + *leftOut +
                                  ", which was not loaded,",
                              childPath);
        }
        if (hivex_node_delete_child(m_hive, child) != 0)
            return HiveFailed("cannot delete the key", childPath);
        ++m_changes;
    }
    const auto taken = FoldedNames(names);
    for (const KeyImage& subkey : image.subkeys) {
        if (!taken.count(Folded(subkey.name)) && !AddSubtree(node, nodePath, subkey))
            return false;
    }
    return true;
}

bool MountWriter::ReadHiveValues(hive_node_h node, std::vector<HiveName>* names,
                                 std::vector<HiveValue>* values) {
    MallocOwner<hive_value_h> handles(hivex_node_values(m_hive, node));
    if (!handles)
        return false;
    for (const hive_value_h* value = handles.get(); *value; ++value) {
        MallocOwner<char> key(hivex_value_key(m_hive, *value));
        hive_type type = hive_t_none;
        size_t length = 0;
        MallocOwner<char> data(hivex_value_value(m_hive, *value, &type, &length));
        if (!key || !data)
            return false;
        names->push_back(NameFromHive(key.get(), hivex_value_key_len(m_hive, *value)));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(data.get());
        values->push_back(
            HiveValue{names->back().utf8, TypeOf(type), std::vector<BYTE>(bytes, bytes + length)});
    }
    return true;
}

// The node's new value list: every value that did not change keeps its
// original bytes, a changed one takes the stand-in's, a deleted one drops
// out and a new one is added at the end.
bool MountWriter::SyncValues(hive_node_h node, const std::string& nodePath, const KeyImage& image) {
    std::vector<HiveName> names;
    std::vector<HiveValue> current;
    if (!ReadHiveValues(node, &names, &current))
        return HiveFailed("cannot read the values", nodePath);
    std::vector<HiveValue> next;
    bool changed = false;
    const auto values = ByFoldedName(image.values);
    for (size_t i = 0; i < current.size(); ++i) {
        const ValueImage* value = names[i].touchable ? FindImage(values, names[i]) : nullptr;
        if (!names[i].touchable || (value && SameValue(current[i].type, current[i].data, *value))) {
            next.push_back(std::move(current[i]));
            continue;
        }
        if (value) // replaced; a value the stand-in lacks was deleted
            next.push_back(HiveValue{current[i].name, value->type, value->data});
        changed = true;
    }
    const auto taken = FoldedNames(names);
    for (const ValueImage& value : image.values) {
        if (taken.count(Folded(value.name)))
            continue;
        next.push_back(HiveValue{value.name, value.type, value.data});
        changed = true;
    }
    return !changed || SetValues(node, nodePath, next);
}

bool MountWriter::SetValues(hive_node_h node, const std::string& nodePath,
                            const std::vector<HiveValue>& values) {
    for (const HiveValue& value : values) {
        if (value.name.find('\0') != std::string::npos) {
            errno = EINVAL;
            return HiveFailed("a value name holds a NUL, so its values cannot be rewritten",
                              nodePath);
        }
    }
    std::vector<hive_set_value> list;
    for (const HiveValue& value : values) {
        hive_set_value& entry = list.emplace_back();
        entry.key = const_cast<char*>(value.name.c_str());
        SetType(&entry, value.type);
        entry.len = value.data.size();
        entry.value = reinterpret_cast<char*>(const_cast<BYTE*>(value.data.data()));
    }
    if (hivex_node_set_values(m_hive, node, list.size(), list.data(), 0) != 0)
        return HiveFailed("cannot set the values", nodePath);
    ++m_changes;
    return true;
}

bool MountWriter::AddSubtree(hive_node_h parent, const std::string& parentPath,
                             const KeyImage& image) {
    const std::string& name = image.name;
    const std::string nodePath = ChildPath(parentPath, name);
    if (IsExcluded(nodePath))
        return true;
    const hive_node_h node = hivex_node_add_child(m_hive, parent, name.c_str());
    if (!node)
        return HiveFailed("cannot add the key", nodePath);
    ++m_changes;
    return SyncNode(node, nodePath, image);
}

// ---------------------------------------------------------------------------
// Whole hives.

std::set<std::string> MountKeys(const WindowsVolume& volume) {
    std::set<std::string> keys;
    for (const HiveFile& hive : volume.hives) {
        for (const HiveMount& mount : hive.mounts)
            keys.insert(UpperAnsi(mount.keyPath));
    }
    return keys;
}

bool SyncFile(const std::string& path, int flags) {
    FileDescriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
    return fd.Get() >= 0 && ::fsync(fd.Get()) == 0;
}

// The new file takes the old one's permissions, so the swap changes content only.
bool FinishNewFile(const std::string& hivePath, const std::string& newPath, std::string* error) {
    struct stat old {};
    if (::stat(hivePath.c_str(), &old) != 0 || ::chmod(newPath.c_str(), old.st_mode & 07777) != 0 ||
        !SyncFile(newPath, O_RDONLY))
        return Fail(error, newPath + ": cannot be finished: " + ErrnoText());
    return true;
}

bool WriteMounts(hive_h* hive, const HiveFile& file, const std::set<std::string>& mountKeys,
                 size_t* changes, std::string* error) {
    for (const HiveMount& mount : file.mounts) {
        std::set<std::string> otherMounts = mountKeys;
        otherMounts.erase(UpperAnsi(mount.keyPath));
        KeyImage image;
        if (!ReadMountImage(mount, otherMounts, &image, error))
            return Fail(error, file.hostPath + ": " + *error);
        if (!MountWriter(hive, mount, file.hostPath).Write(image, changes, error))
            return false;
    }
    return true;
}

// Writes a changed hive's new file; `written` stays empty when nothing changed.
bool WriteNewHive(const HiveFile& file, const std::set<std::string>& mountKeys,
                  std::vector<NewHiveFile>* written, std::string* error) {
    HiveHandle hive(hivex_open(file.hostPath.c_str(), HIVEX_OPEN_WRITE));
    if (!hive)
        return Fail(error, file.hostPath + ": cannot be opened for writing: " + ErrnoText());
    size_t changes = 0;
    if (!WriteMounts(hive.get(), file, mountKeys, &changes, error))
        return false;
    if (changes == 0)
        return true;
    const std::string newPath = file.hostPath + kNewHiveSuffix;
    NewHiveFile newFile(file.hostPath, newPath);
    if (hivex_commit(hive.get(), newPath.c_str(), 0) != 0)
        return Fail(error, newPath + ": cannot be written: " + ErrnoText());
    if (!FinishNewFile(file.hostPath, newPath, error))
        return false;
    written->push_back(std::move(newFile));
    return true;
}

bool ReplaceHives(std::vector<NewHiveFile>* written, std::string* error) {
    std::string replaced;
    for (NewHiveFile& file : *written) {
        if (!file.ReplaceHive(error)) {
            *error += replaced.empty() ? "; no hive was changed" : "; already replaced:" + replaced;
            return false;
        }
        SyncFile(fs::path(file.HivePath()).parent_path().string(), O_RDONLY | O_DIRECTORY);
        replaced += " " + file.HivePath();
    }
    return true;
}

} // namespace

bool CheckVolumeWritable(const WindowsVolume& volume, bool force, std::string* error) {
    std::vector<FileDescriptor> locks;
    return LockHives(volume, &locks, error) && CheckHives(volume, force, error);
}

bool SaveWindowsVolume(const WindowsVolume& volume, bool force, std::string* error) {
    std::vector<FileDescriptor> locks;
    if (!LockHives(volume, &locks, error) || !CheckHives(volume, force, error))
        return false;
    const std::set<std::string> mountKeys = MountKeys(volume);
    std::vector<NewHiveFile> written;
    for (const HiveFile& file : volume.hives) {
        if (!WriteNewHive(file, mountKeys, &written, error)) {
            *error += "; no hive was changed"; // the new files written so far are removed
            return false;
        }
    }
    return ReplaceHives(&written, error);
}

} // namespace win32sim
