// Writing the stand-in's registry back into the hive files of an offline
// Windows volume (windows_volume.h); the checks that come first are in
// volume_checks.h.
//
// A user's only registry is at stake, so the writer changes as little as it
// can: it reads the stand-in's keys through the Win32 API, compares them with
// the hive node by node, and touches only what differs. A value that did
// not change keeps its cell; the stand-in holds every name and string
// exactly as the hive gave it, and what it could not hold (a name with a
// NUL) is kept as it is and never deleted. Value lists and the subkey lists
// hivex changed are written cell by cell as Windows writes them
// (hive_cells.h). Each changed hive is written whole to a new file beside it
// and renamed over the old one only once every changed hive has its new file.
// A journal beside the hives names the set while the renames run, so a save
// stopped halfway is completed by the next one that holds the volume.
#include "machine/hive_writer.h"

#include "base/file_read.h"
#include "base/owned_handle.h"
#include "machine/hive_cells.h"
#include "machine/hive_reader.h"
#include "machine/machine_load.h"
#include "machine/volume_checks.h"
#include "regfile/regfile_text.h"
#include "regfile/wide_walk.h"
#include "registry/root_names.h"

#include <win32sim/machine.h>
#include <win32sim/text.h>

#include <windows.h>

#include <hivex.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace machine {
namespace {

namespace fs = std::filesystem;

using win32sim::Fail;
using win32sim::FoldRegistryName;
using win32sim::HiveCells;
using win32sim::HiveFile;
using win32sim::HiveHandle;
using win32sim::HiveMount;
using win32sim::HiveRecovery;
using win32sim::Malloced;
using win32sim::OpenAsWindowsLoads;
using win32sim::PrivilegedScope;
using win32sim::TypeOf;
using win32sim::UpperAnsi;
using win32sim::ValueSlot;

constexpr char kNewHiveSuffix[] = ".hivemender-new";
constexpr char kJournalName[] = "hivemender-save.journal";

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
// The stand-in's side: a mount's keys read through the W functions, which
// give every name and string exactly as the stand-in holds it.

using regfile::detail::Utf16Of;

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

// Builds a mount's image as the walk goes: the keys open on the way down are
// `m_open`, the innermost last; a subkey joins its parent when entered.
class ImageReader : public regfile::WideKeyVisitor {
public:
    ImageReader(KeyImage* root, const std::set<std::string>& otherMounts)
        : m_root(root), m_otherMounts(otherMounts) {}

    LONG EnterKey(const std::string&, const std::string& name) override {
        if (m_open.empty()) {
            m_open.push_back(m_root);
        } else {
            m_open.back()->subkeys.push_back(KeyImage{name, {}, {}});
            m_open.push_back(&m_open.back()->subkeys.back());
        }
        return ERROR_SUCCESS;
    }
    LONG Value(const std::string& name, DWORD type, const BYTE* data, DWORD size) override {
        m_open.back()->values.push_back(
            ValueImage{name, type, std::vector<BYTE>(data, data + size)});
        return ERROR_SUCCESS;
    }
    bool Skips(const std::string& path) override {
        return m_otherMounts.count(UpperAnsi(path)) != 0;
    }
    LONG LeaveKey() override {
        m_open.pop_back();
        return ERROR_SUCCESS;
    }

private:
    KeyImage* m_root;
    const std::set<std::string>& m_otherMounts;
    std::vector<KeyImage*> m_open;
};

bool ReadMountImage(const HiveMount& mount, const std::set<std::string>& otherMounts,
                    KeyImage* image, std::string* error) {
    PrivilegedScope privileged; // denial settings must not hide keys from the save
    HKEY root = nullptr;
    std::string below;
    HKEY opened = nullptr;
    if (!SplitKeyPath(mount.keyPath, RootNames::EngineLongNames, &root, &below) ||
        RegOpenKeyExW(root, Utf16Of(below).c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return Fail(error, "the registry has no key " + mount.keyPath);
    ImageReader reader(image, otherMounts);
    if (regfile::WalkWide(Orvel::TRegKeyHandle(opened).Get(), mount.keyPath, reader) !=
        ERROR_SUCCESS)
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

// A value read from the hive, with its cell.
struct HiveValue {
    std::string name; // UTF-8
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    hive_value_h cell = 0;
};

// What hivex cannot write as Windows does, written into the committed hive
// cell by cell (hive_cells.h): new value lists and the subkey lists that
// keys were added to or deleted from.
struct CellEdits {
    std::vector<std::pair<hive_node_h, std::vector<ValueSlot>>> values;
    std::set<hive_node_h> subkeyLists;
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
    MountWriter(hive_h* hive, const HiveMount& mount, const std::string& hivePath, CellEdits* edits)
        : m_hive(hive), m_mount(mount), m_hivePath(hivePath), m_edits(edits) {}

    // Brings the mount's hive node in line with `image`; counts the nodes
    // changed in `changes`.
    bool Write(const KeyImage& image, size_t* changes, std::string* error);

private:
    bool SyncNode(hive_node_h node, const std::string& nodePath, const KeyImage& image);
    bool SyncValues(hive_node_h node, const std::string& nodePath, const KeyImage& image);
    bool ReadHiveValues(hive_node_h node, std::vector<HiveName>* names,
                        std::vector<HiveValue>* values);
    bool AddSubtree(hive_node_h parent, const std::string& parentPath, const KeyImage& image);
    bool SetValues(hive_node_h node, const std::string& nodePath, std::vector<ValueSlot> values);
    bool IsExcluded(const std::string& nodePath) const;
    const std::string* LeftOutBelow(const std::string& nodePath) const;
    bool HiveFailed(const std::string& what, const std::string& nodePath);

    hive_h* m_hive;
    const HiveMount& m_mount;
    const std::string& m_hivePath;
    CellEdits* m_edits;
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
    Malloced<hive_node_h> children(hivex_node_children(m_hive, node));
    if (!children)
        return HiveFailed("cannot list the subkeys", nodePath);
    std::vector<HiveName> names;
    std::vector<std::pair<hive_node_h, std::string>> gone;
    const auto subkeys = ByFoldedName(image.subkeys);
    for (const hive_node_h* child = children.get(); *child; ++child) {
        Malloced<char> utf8(hivex_node_name(m_hive, *child));
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
    const size_t before = m_changes;
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
    if (m_changes != before)
        m_edits->subkeyLists.insert(node);
    return true;
}

bool MountWriter::ReadHiveValues(hive_node_h node, std::vector<HiveName>* names,
                                 std::vector<HiveValue>* values) {
    Malloced<hive_value_h> handles(hivex_node_values(m_hive, node));
    if (!handles)
        return false;
    for (const hive_value_h* value = handles.get(); *value; ++value) {
        Malloced<char> key(hivex_value_key(m_hive, *value));
        hive_type type = hive_t_none;
        size_t length = 0;
        Malloced<char> data(hivex_value_value(m_hive, *value, &type, &length));
        if (!key || !data)
            return false;
        names->push_back(NameFromHive(key.get(), hivex_value_key_len(m_hive, *value)));
        const BYTE* bytes = reinterpret_cast<const BYTE*>(data.get());
        values->push_back(HiveValue{names->back().utf8, TypeOf(type),
                                    std::vector<BYTE>(bytes, bytes + length), *value});
    }
    return true;
}

// The node's new value list: every value that did not change keeps its
// cell, a changed one takes the stand-in's bytes, a deleted one drops out
// and a new one is added at the end.
bool MountWriter::SyncValues(hive_node_h node, const std::string& nodePath, const KeyImage& image) {
    std::vector<HiveName> names;
    std::vector<HiveValue> current;
    if (!ReadHiveValues(node, &names, &current))
        return HiveFailed("cannot read the values", nodePath);
    std::vector<ValueSlot> next;
    bool changed = false;
    const auto values = ByFoldedName(image.values);
    for (size_t i = 0; i < current.size(); ++i) {
        const ValueImage* value = names[i].touchable ? FindImage(values, names[i]) : nullptr;
        if (!names[i].touchable || (value && SameValue(current[i].type, current[i].data, *value))) {
            next.push_back(ValueSlot{current[i].cell, {}, REG_NONE, {}});
            continue;
        }
        if (value) // replaced; a value the stand-in lacks was deleted
            next.push_back(ValueSlot{0, current[i].name, value->type, value->data});
        changed = true;
    }
    const auto taken = FoldedNames(names);
    for (const ValueImage& value : image.values) {
        if (taken.count(Folded(value.name)))
            continue;
        next.push_back(ValueSlot{0, value.name, value.type, value.data});
        changed = true;
    }
    return !changed || SetValues(node, nodePath, std::move(next));
}

bool MountWriter::SetValues(hive_node_h node, const std::string& nodePath,
                            std::vector<ValueSlot> values) {
    for (const ValueSlot& value : values) {
        if (value.name.find('\0') != std::string::npos) {
            errno = EINVAL;
            return HiveFailed("a value name holds a NUL, so the value cannot be rewritten",
                              nodePath);
        }
    }
    m_edits->values.emplace_back(node, std::move(values));
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

// The new file takes the old one's owner and mode (chown first: it clears the
// set-id bits), so the swap changes content only.
bool FinishNewFile(const std::string& hivePath, const std::string& newPath, std::string* error) {
    struct stat old {};
    if (::stat(hivePath.c_str(), &old) != 0 ||
        ::chown(newPath.c_str(), old.st_uid, old.st_gid) != 0 ||
        ::chmod(newPath.c_str(), old.st_mode & 07777) != 0 || !SyncFile(newPath, O_RDONLY))
        return Fail(error, newPath + ": cannot be finished (owner, mode, sync): " + ErrnoText());
    return true;
}

bool WriteMounts(hive_h* hive, const HiveFile& file, const std::set<std::string>& mountKeys,
                 CellEdits* edits, size_t* changes, std::string* error) {
    for (const HiveMount& mount : file.mounts) {
        std::set<std::string> otherMounts = mountKeys;
        otherMounts.erase(UpperAnsi(mount.keyPath));
        KeyImage image;
        if (!ReadMountImage(mount, otherMounts, &image, error))
            return Fail(error, file.hostPath + ": " + *error);
        if (!MountWriter(hive, mount, file.hostPath, edits).Write(image, changes, error))
            return false;
    }
    return true;
}

bool WriteCells(const std::string& path, const CellEdits& edits, uint32_t logSequence,
                std::string* error) {
    HiveCells cells;
    if (!cells.Load(path, error))
        return false;
    for (const auto& [node, values] : edits.values) {
        if (!cells.SetValues(node, values, error))
            return false;
    }
    for (hive_node_h node : edits.subkeyLists) {
        if (!cells.SortSubkeys(node, error))
            return false;
    }
    return cells.Save(logSequence + 1, error);
}

// Writes a changed hive's new file; `written` stays empty when nothing changed.
bool WriteNewHive(const HiveFile& file, const std::set<std::string>& mountKeys, bool force,
                  std::vector<NewHiveFile>* written, std::string* error) {
    HiveRecovery recovery;
    HiveHandle hive = OpenAsWindowsLoads(file.hostPath, HIVEX_OPEN_WRITE, &recovery);
    if (!hive)
        return CheckHiveSound(file.hostPath, error) &&
               Fail(error, file.hostPath + ": cannot be opened for writing: " + ErrnoText());
    size_t changes = 0;
    CellEdits edits;
    if (!WriteMounts(hive.get(), file, mountKeys, &edits, &changes, error))
        return false;
    if (changes == 0)
        return true;
    if (!CheckHiveWritable(file.hostPath, force,
                           error)) // only a hive written must be sound and clean
        return false;
    const std::string newPath = file.hostPath + kNewHiveSuffix;
    NewHiveFile newFile(file.hostPath, newPath);
    if (hivex_commit(hive.get(), newPath.c_str(), 0) != 0)
        return Fail(error, newPath + ": cannot be written: " + ErrnoText());
    if (!WriteCells(newPath, edits, recovery.highestSequence, error) ||
        !FinishNewFile(file.hostPath, newPath, error))
        return false;
    written->push_back(std::move(newFile));
    return true;
}

std::string JournalPath(const WindowsVolume& volume) {
    return (fs::path(volume.hives.front().hostPath).parent_path() / kJournalName).string();
}

// The journal lists the hives whose complete new files are about to replace
// them, one host path a line; it is itself written whole and renamed in.
bool WriteJournal(const std::string& path, const std::vector<NewHiveFile>& written,
                  std::string* error) {
    std::string text;
    for (const NewHiveFile& file : written) {
        if (file.HivePath().find('\n') != std::string::npos)
            return Fail(error, file.HivePath() + ": a hive path with a line break cannot be saved");
        text += file.HivePath() + "\n";
    }
    const std::string temporary = path + kNewHiveSuffix;
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    const bool done = fd.Get() >= 0 &&
                      ::write(fd.Get(), text.data(), text.size()) == ssize_t(text.size()) &&
                      ::fsync(fd.Get()) == 0 && ::rename(temporary.c_str(), path.c_str()) == 0 &&
                      SyncFile(fs::path(path).parent_path().string(), O_RDONLY | O_DIRECTORY);
    if (!done)
        std::remove(temporary.c_str());
    return done || Fail(error, path + ": the save's journal cannot be written: " + ErrnoText());
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

// Only the holder of the volume gets here, so a new hive file that exists
// now was left by a save that died before its journal: never part of a set.
void RemoveAbandonedNewHives(const WindowsVolume& volume) {
    for (const HiveFile& hive : volume.hives)
        std::remove((hive.hostPath + kNewHiveSuffix).c_str());
}

} // namespace

bool SaveWindowsVolume(const WindowsVolume& volume, bool force, std::string* error) {
    std::vector<FileDescriptor> locks;
    if (!LockHives(volume, &locks, error) || !CheckNotHibernated(volume, force, error))
        return false;
    RemoveAbandonedNewHives(volume);
    const std::set<std::string> mountKeys = MountKeys(volume);
    std::vector<NewHiveFile> written;
    for (const HiveFile& file : volume.hives) {
        if (!WriteNewHive(file, mountKeys, force, &written, error)) {
            *error += "; no hive was changed"; // the new files written so far are removed
            return false;
        }
    }
    if (written.size() < 2)
        return ReplaceHives(&written, error); // one rename needs no journal
    const std::string journal = JournalPath(volume);
    if (!WriteJournal(journal, written, error))
        return false;
    const bool replaced = ReplaceHives(&written, error);
    std::remove(journal.c_str());
    return replaced;
}

bool HasInterruptedSave(const std::string& configFolder) {
    return ::access((fs::path(configFolder) / kJournalName).c_str(), F_OK) == 0;
}

bool FinishInterruptedSave(const std::string& configFolder, std::string* error) {
    const std::string journal = (fs::path(configFolder) / kJournalName).string();
    if (!HasInterruptedSave(configFolder))
        return true;
    std::string text;
    if (!base::ReadHostFile(journal, &text))
        return Fail(error, journal + ": cannot be read: " + ErrnoText());
    // Every new file was complete before the journal was written: finishing
    // the renames gives the set the save meant.
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string hive = text.substr(start, end - start);
        const std::string newPath = hive + kNewHiveSuffix;
        if (::access(newPath.c_str(), F_OK) == 0 && std::rename(newPath.c_str(), hive.c_str()) != 0)
            return Fail(error, hive + ": an interrupted save cannot be completed: " + ErrnoText());
        SyncFile(fs::path(hive).parent_path().string(), O_RDONLY | O_DIRECTORY);
    }
    if (std::remove(journal.c_str()) != 0)
        return Fail(error, journal + ": cannot be removed: " + ErrnoText());
    return true;
}

} // namespace machine
