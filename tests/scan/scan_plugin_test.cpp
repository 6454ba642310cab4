// A whole scan as a host runs it: the exported entry point, the result
// callback, Start, and the report arriving on the engine's worker thread.
#include "engine/cloud_plugin.h"
#include "support/text.h"
#include "support/machine_builder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace {

using hmtest::Wide;

struct Delivery {
    std::string text; // the report, each UTF-16 unit narrowed ('?' above 0x7F)
    DWORD threadId;
};

std::mutex g_mutex;
std::vector<Delivery> g_deliveries;

void __stdcall ReceiveReport(const WCHAR* report) {
    Delivery delivery{{}, GetCurrentThreadId()};
    for (const WCHAR* unit = report; *unit != 0; ++unit)
        delivery.text.push_back(*unit < 0x80 ? static_cast<char>(*unit) : '?');
    std::lock_guard lock(g_mutex);
    g_deliveries.push_back(delivery);
}

std::vector<Delivery> WaitForDeliveries(size_t count) {
    for (int waited = 0; waited < 10000; waited += 10) {
        {
            std::lock_guard lock(g_mutex);
            if (g_deliveries.size() >= count)
                return g_deliveries;
        }
        Sleep(10);
    }
    std::lock_guard lock(g_mutex);
    return g_deliveries;
}

class ScanPluginTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_machine.Build();
        std::lock_guard lock(g_mutex);
        g_deliveries.clear();
    }

    hmtest::MachineBuilder m_machine;
};

constexpr char kEmptyReport[] = "{\"finished\": \"scan\", \"problems\": []}\n";

TEST_F(ScanPluginTest, AScanDeliversItsReportOnTheWorkerThread) {
    if (HasFatalFailure() || IsSkipped())
        return;
    ICloudPlugin* plugin = GetPluginEngine();
    ASSERT_NE(nullptr, plugin);
    plugin->m_pfnResult = ReceiveReport;
    ASSERT_EQ(S_OK, plugin->Start(0, Wide("{}").c_str()));
    const auto deliveries = WaitForDeliveries(1);
    ASSERT_EQ(1u, deliveries.size());
    EXPECT_EQ(kEmptyReport, deliveries[0].text);
    EXPECT_NE(GetCurrentThreadId(), deliveries[0].threadId);
    // The worker has ended by itself: nothing is left to stop.
    for (int i = 0; i < 200 && plugin->Stop() != S_FALSE; ++i)
        Sleep(10);
    EXPECT_EQ(S_FALSE, plugin->Stop());
    plugin->Destroy();
}

TEST_F(ScanPluginTest, TwoEnginesScanAtOnceAndEachReports) {
    if (HasFatalFailure() || IsSkipped())
        return;
    ICloudPlugin* first = GetPluginEngine();
    ICloudPlugin* second = GetPluginEngine();
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    first->m_pfnResult = ReceiveReport;
    second->m_pfnResult = ReceiveReport;
    ASSERT_EQ(S_OK, first->Start(0, Wide("").c_str()));
    ASSERT_EQ(S_OK, second->Start(0, Wide("{\"ignored\": \"x\"}").c_str()));
    const auto deliveries = WaitForDeliveries(2);
    ASSERT_EQ(2u, deliveries.size());
    for (const Delivery& delivery : deliveries)
        EXPECT_EQ(kEmptyReport, delivery.text);
    first->Destroy();
    second->Destroy();
}

} // namespace
