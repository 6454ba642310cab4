// No Nimbtrace.dll anywhere the loader looks: logging costs one failed load
// and nothing afterwards, not even when the library turns up later.
#include "engine/cloud_plugin.h"
#include "support/conformance.h"
#include "tests/engine/nimbtrace_probe.h"

#include <gtest/gtest.h>

#include <string>

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#endif

namespace {

using hmtest::NimbtraceProbe;

constexpr HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057);

// The recording double lives one folder up (see CMakeLists.txt); loading
// it by that path puts a module named Nimbtrace.dll into the process.
HMODULE LoadRecordingDoubleFromParentFolder() {
#ifdef _WIN32
    char exe[MAX_PATH] = {};
    std::string folder(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH));
    folder = folder.substr(0, folder.find_last_of('\\'));
    folder = folder.substr(0, folder.find_last_of('\\'));
    return LoadLibraryA((folder + "\\Nimbtrace.dll").c_str());
#else
    // The stand-in searches the folders of HIVEMENDER_LIBRARY_PATH.
    const auto parent = std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
    setenv("HIVEMENDER_LIBRARY_PATH", parent.c_str(), 1);
    return LoadLibraryA("Nimbtrace.dll");
#endif
}

class MissingLogTest : public hmtest::ConformanceTest {};

TEST_F(MissingLogTest, FailedLoadIsNeverRetried) {
    ICloudPlugin* plugin = GetPluginEngine();
    ASSERT_NE(nullptr, plugin);
    const WCHAR empty[] = {0};
    SetLastError(0xdeadbeef);
    EXPECT_EQ(kInvalidArg, plugin->Start(7, empty));
    EXPECT_EQ(0xdeadbeefu, GetLastError()) << "logging must leave the last error alone";
    ASSERT_EQ(nullptr, NimbtraceProbe::Module());

    // Now a module named Nimbtrace.dll is in the process: any later
    // LoadLibraryA("Nimbtrace.dll") would find it. The sink must not ask.
    HMODULE late = LoadRecordingDoubleFromParentFolder();
    ASSERT_NE(nullptr, late) << "error " << GetLastError();
    ASSERT_EQ(late, NimbtraceProbe::Module());
    for (int mode : {7, 2})
        EXPECT_EQ(kInvalidArg, plugin->Start(mode, empty));
    EXPECT_EQ(0u, NimbtraceProbe::Calls().size());
    plugin->Destroy();
    FreeLibrary(late);
}

} // namespace
