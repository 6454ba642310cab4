#include "scanners/software_keys.h"

#include "fileref/command_path.h"
#include "fileref/reference_check.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "scan/problem_list.h"
#include "scan/scan_driver.h"
#include "scan/subkey_loop.h"

#include <string>

namespace {

int SectionOfMode(int mode) {
    return mode == WalkUserHives ? SectionUserSoftware : SectionMachineSoftware;
}

void ExamineValues(CEngineState& engine, RegKey& key, int mode) {
    (void)ForEachStringValue(engine, key, [&](const std::string& name, std::string& data) {
        std::string file;
        if (SoftwareValueIsBroken(name, data, file))
            AddValueProblem(data, engine, SectionOfMode(mode), key, name);
    });
}

void Walk(CEngineState& engine, HKEY root, const char* path, int mode) {
    RegKey key;
    if (key.OpenPath(root, path, kReadWrite64) == ERROR_SUCCESS)
        WalkSoftwareKey(engine, key, mode);
}

} // namespace

void ScanUserSoftware(CEngineState& engine) {
    Walk(engine, HKEY_USERS, "", WalkUserHives);
}

void ScanMachineSoftware(CEngineState& engine) {
    Walk(engine, HKEY_LOCAL_MACHINE, "SOFTWARE", WalkMachineSoftware);
}

// Only drive paths on fixed disks are tested, and of the missing ones only
// those naming a file of a known kind are reported: a missing document or
// sound file is the application's business, not a broken registration.
bool SoftwareValueIsBroken(const std::string& /*name*/, std::string& data, std::string& file) {
    return !CheckDrivePathReference(data, file) && HasKnownFileExtension(file);
}

int WalkSoftwareKey(CEngineState& engine, RegKey& key, int mode) {
    WaitWhilePaused(engine);
    if (!ShouldWalkKey(key, engine, mode))
        return 0;
    ExamineValues(engine, key, mode);
    // Each level keeps its child open while the levels below it are walked.
    ForEachIncludedSubkey(
        engine, key, [&](RegKey& child) { WalkSoftwareKey(engine, child, mode); },
        PauseTest::AfterEach);
    return 0;
}
