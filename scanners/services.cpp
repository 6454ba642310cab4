#include "scanners/services.h"

#include "base/built_once.h"
#include "base/common_library.h"
#include "fileref/command_path.h"
#include "fileref/file_probe.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"
#include "scanners/entry_walk.h"

#include <algorithm>
#include <vector>

namespace {

const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
constexpr DWORD kStartDisabled = 4;

bool Exists(const std::string& path) {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    return ProbeFile(path, attributes);
}

// Image paths come as kernel paths ("\SystemRoot\...", "\??\C:\..."), as
// command lines with arguments, or as a driver's bare file name.
bool ImagePresent(std::string imagePath) {
    ExpandSystemRootPath(imagePath);
    if (Exists(imagePath))
        return true;
    std::string command = imagePath;
    ExtractCommandPath(command);
    if (command != imagePath) {
        imagePath = command;
        if (Exists(imagePath))
            return true;
    }
    return FoundInFolders(GetFileNamePart(imagePath), DriverDirectories());
}

} // namespace

void ScanServices(CEngineState& engine) {
    ScanEachEntry(engine, kServicesKey, ScanServiceEntry);
}

int ScanServiceEntry(CEngineState& engine, RegKey& service) {
    if (WaitThenIsExcluded(engine, service))
        return 1;
    DWORD start = 0;
    if (service.QueryDwordValue("Start", start) != ERROR_SUCCESS || start == kStartDisabled)
        return 0;
    std::string imagePath;
    if (service.QueryStringValue("ImagePath", imagePath) != ERROR_SUCCESS)
        return 0;
    if (!ImagePresent(imagePath) && PassesAdmissionGate(service, engine))
        ++engine.m_nServiceProblems;
    return 0;
}

std::span<const std::string> DriverDirectories() {
    static constinit Orvel::TBuiltOnce<std::vector<std::string>> directories;
    return directories.Get([] {
        std::vector<std::string> folders = {
            Orvel::GetSystemDirectoryA(),
            Orvel::PathCombineA(Orvel::GetSystemDirectoryA(), "Drivers"),
            Orvel::PathCombineA(Orvel::GetWindowsDirectoryA(), "System"),
        };
        std::sort(folders.begin(), folders.end());
        folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
        return folders;
    });
}
