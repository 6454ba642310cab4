// A Nimbtrace.dll without OutputA beside the plug-in: the sink loads it,
// keeps it loaded, and logs nothing, without disturbing the engine.
#include "engine/cloud_plugin.h"
#include "support/conformance.h"
#include "tests/engine/nimbtrace_probe.h"

#include <gtest/gtest.h>

namespace {

using hmtest::NimbtraceProbe;

class SilentLogTest : public hmtest::ConformanceTest {};

TEST_F(SilentLogTest, LibraryWithoutOutputAIsLoadedKeptAndSilent) {
    ASSERT_EQ(nullptr, NimbtraceProbe::Module()) << "loaded before the engine logged";
    ICloudPlugin* plugin = GetPluginEngine();
    ASSERT_NE(nullptr, plugin);
    const WCHAR empty[] = {0};
    for (int i = 0; i < 3; ++i) {
        SetLastError(0xdeadbeef);
        EXPECT_EQ(static_cast<HRESULT>(0x80070057), plugin->Start(7, empty));
        HMODULE library = NimbtraceProbe::Module();
        EXPECT_NE(nullptr, library) << "the sink loaded the library and kept it";
        if (library != nullptr) {
            EXPECT_EQ(nullptr, GetProcAddress(library, "OutputA"));
        }
        EXPECT_EQ(0u, NimbtraceProbe::Calls().size());
    }
    plugin->Destroy();
}

} // namespace
