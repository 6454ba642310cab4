// Offline Windows installations (Linux only): the registry of a Windows
// volume read from its own hive files (regf, through hivex) into the
// stand-in; hive_writer.h writes the stand-in's registry back into them
// after a fix.
//
// A Windows volume is a folder holding Windows/System32/config/SOFTWARE
// (names matched without regard to case, as on NTFS). Drive C of the
// simulated machine is the volume itself.
#pragma once

#include <string>
#include <vector>

namespace win32sim {

// One part of a hive file placed in the stand-in's registry: the hive node
// at `hiveNodePath` ("" for the hive's root key, else names below the root
// joined by '\', e.g. "ControlSet001") is the stand-in key `keyPath` (a full
// key path, e.g. "HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet").
//
// `excludedNodes` are hive nodes below `hiveNodePath` (paths from the hive's
// root) that this mount leaves out because another mount places them, as
// the SYSTEM hive's current control set is HKLM\SYSTEM\CurrentControlSet and
// not HKLM\SYSTEM\ControlSet001. Writing back never touches an excluded
// node through this mount, and never treats a stand-in key that is another
// mount's `keyPath` as part of this one.
//
// `leftOutNodes` are hive nodes the stand-in cannot hold (a name with a NUL
// in it, or a value so named): the write-back never touches them, and never
// deletes a node above one.
struct HiveMount {
    std::string hiveNodePath;
    std::string keyPath;
    std::vector<std::string> excludedNodes;
    std::vector<std::string> leftOutNodes;
};

struct HiveFile {
    std::string hostPath; // the hive file on the host
    std::vector<HiveMount> mounts;
};

struct WindowsVolume {
    std::string root; // the host folder of the volume (drive C)
    std::vector<HiveFile> hives;
    std::vector<std::string> notes; // a line for each hive recovered from its logs
};

// Whether `folder` looks like the root of a Windows volume.
bool IsWindowsVolume(const std::string& folder);

// Replaces the stand-in's machine with the installation on `folder`. Every
// hive is opened and read before anything of the current machine changes;
// on failure returns false with a message naming the hive file and what is
// wrong with it (truncated, bad checksum, not a hive).
bool LoadWindowsVolume(const std::string& folder, WindowsVolume* volume, std::string* error);

// The folder of a volume's SOFTWARE hive, where the volume's lock file and a
// save's journal lie; empty when `folder` is not a Windows volume.
std::string VolumeConfigFolder(const std::string& folder);

} // namespace win32sim
