// A host that destroys the engine and unloads the plug-in at once, round
// after round, while the worker is still on its way out of the plug-in's
// code: the worker's own reference keeps that code mapped until it is gone.
// Run under ThreadSanitizer as well. This program does not link the plug-in;
// it loads it by name, as a host does.
#include "engine/cloud_plugin.h"
#include "support/conformance.h"
#include "support/text.h"
#include "tests/engine/report_gate.h"

#include <gtest/gtest.h>

namespace {

using hmtest::ReportGate;
using hmtest::Wide;

constexpr char kPlugin[] = "hivemender.dll";

class UnloadTest : public hmtest::ConformanceTest {};

TEST_F(UnloadTest, UnloadingRightAfterDestroyIsSafe) {
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        HMODULE module = LoadLibraryA(kPlugin);
        ASSERT_NE(nullptr, module) << GetLastError();
        auto entry = reinterpret_cast<GetPluginEngineFn>(
            reinterpret_cast<void*>(GetProcAddress(module, "GetPluginEngine")));
        ASSERT_NE(nullptr, entry);
        ICloudPlugin* plugin = entry();
        ASSERT_NE(nullptr, plugin);
        ReportGate::Close(0);
        ReportGate::Open();
        plugin->m_pfnResult = ReportGate::Callback;
        // Even rounds stop a scan at once; odd rounds let a fix report and
        // catch its worker as it leaves.
        const bool fix = round % 2 == 1;
        ASSERT_EQ(S_OK, plugin->Start(fix ? 1 : 0, Wide("{}").c_str()));
        if (fix) {
            ASSERT_TRUE(ReportGate::WaitUntilEntered());
        }
        plugin->Destroy();
        EXPECT_TRUE(FreeLibrary(module));
    }
}

} // namespace
