#include "scanners/sound_events.h"

#include "base/common_library.h"
#include "fileref/file_probe.h"
#include "registry/reg_key.h"
#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "scan/problem_list.h"
#include "scan/subkey_loop.h"

namespace {

const char kSchemeApps[] = "AppEvents\\Schemes\\Apps";
const char kVersionKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

std::string MediaPathSetting() {
    std::string media;
    RegKey version;
    if (version.OpenPath(HKEY_LOCAL_MACHINE, kVersionKey, kReadWrite64) != ERROR_SUCCESS)
        return media;
    if (version.QueryStringValue("MediaPathUnexpanded", media) != ERROR_SUCCESS || media.empty())
        (void)version.QueryStringValue("MediaPath", media);
    return media;
}

} // namespace

void ScanSoundEvents(CEngineState& engine) {
    RegKey users;
    if (users.OpenPath(HKEY_USERS, "", kReadWrite64) != ERROR_SUCCESS)
        return;
    // Hives without sound schemes (the profiles' classes keys) are passed over.
    ForEachIncludedSubkey(engine, users, [&](RegKey& hive) {
        RegKey apps;
        if (hive.OpenChild(kSchemeApps, apps) == ERROR_SUCCESS)
            (void)ScanSoundApps(engine, apps);
    });
}

int ScanSoundApps(CEngineState& engine, RegKey& apps) {
    if (IsExcluded(engine, apps.KeyPathText()))
        return 1;
    ForEachIncludedSubkey(engine, apps, [&](RegKey& application) {
        ForEachIncludedSubkey(engine, application, [&](RegKey& event) {
            ForEachIncludedSubkey(engine, event,
                          [&](RegKey& scheme) { (void)CheckSoundScheme(engine, scheme); });
        });
    });
    return 0;
}

LONG CheckSoundScheme(CEngineState& engine, const RegKey& scheme) {
    std::string sound;
    const LONG status = scheme.QueryStringValue("", sound);
    // An empty sound means "no sound", which is no problem, even on a
    // machine whose media folder is gone.
    if (status != ERROR_SUCCESS || sound.empty() || SoundFound(GetMediaDirectory(engine), sound))
        return status;
    // The standard schemes (".Default", ".Current") belong to the event:
    // only their sound goes. A scheme of the user's own goes whole.
    if (scheme.LeafName().rfind('.', 0) == 0)
        AddValueProblem("*", engine, SectionSoundEvents, scheme, "");
    else
        AddKeyProblem(scheme, engine, SectionSoundEvents);
    return status;
}

bool SoundFound(const std::string& mediaFolder, const std::string& sound) {
    // A sound on a share or a stick may just be out of reach; a name left
    // with an unexpanded variable cannot be judged either.
    return IsOutOfReach(sound) || FoundAsGivenOrInFolders(sound, {&mediaFolder, 1});
}

std::string ReadMediaDirectory() {
    std::string media = MediaPathSetting();
    if (media.empty()) {
        char windows[MAX_PATH] = {};
        ::GetWindowsDirectoryA(windows, MAX_PATH);
        media = Orvel::PathCombineA(windows, "Media");
    }
    return media;
}

const std::string& GetMediaDirectory(CEngineState& engine) {
    if (engine.m_mediaDirectory.empty())
        engine.m_mediaDirectory = ReadMediaDirectory();
    return engine.m_mediaDirectory;
}
