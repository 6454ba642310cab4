// The plug-in driven exactly as a host drives it: the exported entry point,
// the four interface slots and the result callback. The Nimbtrace double
// beside this program records the engine's log lines.
#include "engine/cloud_plugin.h"
#include "support/text.h"
#include "engine/hivemender.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/engine/nimbtrace_probe.h"
#include "tests/engine/report_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

using hmtest::EndsWithNoCase;
using hmtest::Wide;

using hmtest::NimbtraceProbe;
using hmtest::ReportGate;

std::atomic<int> g_spinSink{0};

constexpr HRESULT kAlreadyRunning = static_cast<HRESULT>(0x80070501);
constexpr HRESULT kInvalidArg = static_cast<HRESULT>(0x80070057);

std::string Narrow(const WCHAR* wide, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i)
        text.push_back(wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?');
    return text;
}

// These tests time the worker's life, not a scan: with no section enabled a
// scan ends at once (under Wine a real one walks the whole prefix, seconds).
ICloudPlugin* NewEngineWithoutSections() {
    ICloudPlugin* plugin = GetPluginEngine();
    if (plugin != nullptr)
        static_cast<CHivemender*>(plugin)->m_dwSectionMask = 0;
    return plugin;
}

// Owns an engine the way a host does: made by the export, ended by Destroy.
class PluginTest : public hmtest::ConformanceTest {
protected:
    void SetUp() override {
        ConformanceTest::SetUp();
        ReportGate::Close(0);
        ReportGate::Open();
        NimbtraceProbe::Reset();
        m_plugin = NewEngineWithoutSections();
        ASSERT_NE(nullptr, m_plugin);
    }
    void TearDown() override {
        if (m_plugin != nullptr)
            m_plugin->Destroy();
        ConformanceTest::TearDown();
    }

    HRESULT Start(int mode, const char* request = "{}") {
        return m_plugin->Start(mode, Wide(request).c_str());
    }

    // Starts a scan whose worker then waits in the result callback.
    void StartHeldScan(DWORD holdMs = 10000) {
        ReportGate::Close(holdMs);
        m_plugin->m_pfnResult = ReportGate::Callback;
        ASSERT_EQ(S_OK, Start(0));
        ASSERT_TRUE(ReportGate::WaitUntilEntered());
    }

    ICloudPlugin* m_plugin = nullptr;
};

TEST_F(PluginTest, DisplayNameIsStringResource103AsBstr) {
    BSTR name = m_plugin->GetDisplayName();
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(10u, SysStringLen(name));
    EXPECT_EQ("Hivemender", Narrow(name, SysStringLen(name)));
    EXPECT_EQ(0, name[SysStringLen(name)]);
    SysFreeString(name);
}

TEST_F(PluginTest, ModesOtherThanScanAndFixAreRefusedWithALogLineAndNoThread) {
    for (int mode : {2, 7, -1}) {
        SCOPED_TRACE(mode);
        NimbtraceProbe::Reset();
        EXPECT_EQ(kInvalidArg, Start(mode));
        // Nothing was started, so there is nothing to stop, and a Stop
        // without a worker logs nothing.
        EXPECT_EQ(S_FALSE, m_plugin->Stop());
        auto calls = NimbtraceProbe::Calls();
        ASSERT_EQ(1u, calls.size());
        const NimbtraceCall& call = calls[0];
        EXPECT_EQ(128, call.level);
        EXPECT_STREQ("CHivemender", call.file);
        EXPECT_STREQ("CHivemender::Start", call.function);
        EXPECT_GT(call.line, 0);
        EXPECT_TRUE(hmtest::LooksLikeBuildTimestamp(call.timestamp)) << call.timestamp;
        EXPECT_STREQ("ERROR: %s = %lu", call.format);
        EXPECT_STREQ("ERROR: ERROR_INVALID_PARAMETER = 87", call.message);
        EXPECT_TRUE(EndsWithNoCase(call.modulePath, "hivemender.dll")) << call.modulePath;
    }
}

TEST_F(PluginTest, SecondStartWhileAWorkerRunsIsRefused) {
    StartHeldScan();
    NimbtraceProbe::Reset();
    EXPECT_EQ(kAlreadyRunning, Start(0));
    EXPECT_EQ(kAlreadyRunning, Start(1));
    // The running check comes before the mode check.
    EXPECT_EQ(kAlreadyRunning, Start(7));
    auto calls = NimbtraceProbe::Calls();
    ASSERT_EQ(3u, calls.size());
    for (const NimbtraceCall& call : calls) {
        EXPECT_EQ(128, call.level);
        EXPECT_STREQ("CHivemender::Start", call.function);
        EXPECT_STREQ("ERROR: ERROR_ALREADY_THREAD = 1281", call.message);
    }
    ReportGate::Open();
    EXPECT_EQ(S_OK, m_plugin->Stop());
}

TEST_F(PluginTest, FinishedWorkerClearsItsHandleSoTheNextStartIsAccepted) {
    for (int mode : {0, 1, 0}) {
        ASSERT_EQ(S_OK, Start(mode));
        // Polls until the worker has handed its handle back: Stop finds none.
        HRESULT hr = S_OK;
        for (int i = 0; i < 2000; ++i) {
            Sleep(1);
            if ((hr = Start(7)) == kInvalidArg)
                break;
        }
        EXPECT_EQ(kInvalidArg, hr) << "mode " << mode;
    }
}

TEST_F(PluginTest, StopRacingAFinishingWorkerLeavesTheEngineIdleEveryTime) {
    int stopped = 0;
    int alreadyDone = 0;
    for (int i = 0; i < 400; ++i) {
        ASSERT_EQ(S_OK, Start(i % 2)) << "round " << i;
        // Vary the moment of the Stop around the worker's own exit.
        if (i % 4 == 3)
            Sleep(static_cast<DWORD>(i % 3));
        for (int spin = 0; spin < (i % 7) * 500; spin = spin + 1)
            g_spinSink.store(spin, std::memory_order_relaxed);
        HRESULT hr = m_plugin->Stop();
        ASSERT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
        (hr == S_OK ? stopped : alreadyDone)++;
        // Whoever closed the handle, the engine is idle now.
        ASSERT_EQ(S_FALSE, m_plugin->Stop());
    }
    std::printf("Stop took the handle %d times, found it released %d times\n", stopped,
                alreadyDone);
    EXPECT_TRUE(NimbtraceProbe::Calls().empty());
}

TEST_F(PluginTest, DestroyWhileRunningWaitsForTheWorkerToLeave) {
    StartHeldScan();
    std::thread opener([] {
        Sleep(100);
        ReportGate::Open();
    });
    m_plugin->Destroy();
    m_plugin = nullptr;
    // The worker was still inside the engine when Destroy began; it has left
    // before the memory was freed.
    EXPECT_EQ(1, ReportGate::Left());
    opener.join();
}

TEST_F(PluginTest, DestroyRightAfterStartRacesTheWorkerSafely) {
    m_plugin->Destroy();
    m_plugin = nullptr;
    for (int i = 0; i < 200; ++i) {
        ICloudPlugin* plugin = NewEngineWithoutSections();
        ASSERT_NE(nullptr, plugin);
        ASSERT_EQ(S_OK, plugin->Start(i % 2, Wide("{}").c_str()));
        plugin->Destroy();
    }
}

// Termination is asynchronous, so Stop waits for the terminated thread to be
// gone before it returns and Destroy frees what that thread still used. The
// stand-in's terminated thread leaves only when its routine returns, here
// once the gate opens after the 2 s; Wine's is killed inside the gate.
TEST_F(PluginTest, AWorkerThatDoesNotStopInTwoSecondsIsTerminatedAndWaitedFor) {
    StartHeldScan(30000);
    NimbtraceProbe::Reset();
    std::thread opener([] {
        Sleep(3000);
        ReportGate::Open();
    });
    EXPECT_EQ(S_OK, m_plugin->Stop());
    EXPECT_EQ(hmtest::RunningOnStandIn() ? 1 : 0, ReportGate::Left());
    auto calls = NimbtraceProbe::Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(128, calls[0].level);
    EXPECT_STREQ("CHivemender::Stop", calls[0].function);
    EXPECT_STREQ("The thread refused to stop", calls[0].message);
    EXPECT_EQ(S_FALSE, m_plugin->Stop());
    opener.join();
}

TEST_F(PluginTest, TwoEnginesAreIndependent) {
    ICloudPlugin* second = GetPluginEngine();
    ASSERT_NE(nullptr, second);
    EXPECT_NE(m_plugin, second);
    StartHeldScan();
    // The first engine's worker is no business of the second.
    EXPECT_EQ(S_FALSE, second->Stop());
    EXPECT_EQ(kInvalidArg, second->Start(7, Wide("{}").c_str()));
    BSTR name = second->GetDisplayName();
    EXPECT_EQ("Hivemender", Narrow(name, SysStringLen(name)));
    SysFreeString(name);
    ReportGate::Open();
    EXPECT_EQ(S_OK, m_plugin->Stop());
    second->Destroy();
}

// A Stop right after Start ends the scan at once, whatever the worker has
// reached: the scan never undoes a stop that came after its Start. The
// machine is large enough that a scan which ran on would outlast the 2 s
// Stop allows it (Wine's prefix is large as it is).
TEST(PluginStopTest, AStopRightAfterStartEndsAScanOfALargeMachineAtOnce) {
    constexpr char kBulk[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\HmBulk";
    hmtest::MachineBuilder machine;
    machine.Key(kBulk);
    RETURN_UNLESS_BUILT(machine);
    if (hmtest::RunningOnStandIn()) {
        HKEY bulk = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\HmBulk", 0, KEY_ALL_ACCESS, &bulk));
        char name[16];
        for (int i = 0; i < 200000; ++i) {
            HKEY key = nullptr;
            std::snprintf(name, sizeof(name), "K%06d", i);
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(bulk, name, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                     nullptr, &key, nullptr));
            RegCloseKey(key);
        }
        RegCloseKey(bulk);
    }
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ReportGate::Close(0);
        NimbtraceProbe::Reset();
        ICloudPlugin* plugin = GetPluginEngine();
        ASSERT_NE(nullptr, plugin);
        plugin->m_pfnResult = ReportGate::Callback;
        ASSERT_EQ(S_OK, plugin->Start(0, Wide("{}").c_str()));
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(S_OK, plugin->Stop());
        // Far below the 2 s after which Stop would give up and terminate.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
        EXPECT_EQ(0, ReportGate::Entered()) << "a stopped scan delivers nothing";
        EXPECT_TRUE(NimbtraceProbe::Calls().empty());
        plugin->Destroy();
    }
}

} // namespace
