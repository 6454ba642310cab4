// The engine object's own state, seen from inside.
#include "engine/hivemender.h"
#include "support/conformance.h"
#include "support/text.h"
#include "tests/engine/report_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using hmtest::ReportGate;
using hmtest::Wide;

class EngineRequestTest : public hmtest::ConformanceTest {};

TEST_F(EngineRequestTest, RefusedStartLeavesTheRequestAloneAndABadModeReplacesIt) {
    auto* engine = new CHivemender;
    // The scan only has to reach its report: under Wine a real one walks the
    // whole prefix, which took longer than the gate waits on a slow machine.
    engine->m_dwSectionMask = 0;
    ReportGate::Close(10000);
    engine->m_pfnResult = ReportGate::Callback;
    ASSERT_EQ(S_OK, engine->Start(0, Wide("{\"0\": \"fix\"}").data()));
    ASSERT_TRUE(ReportGate::WaitUntilEntered());
    EXPECT_FALSE(engine->m_request.IsEmpty());
    EXPECT_EQ(static_cast<HRESULT>(0x80070501), engine->Start(7, Wide("").data()));
    EXPECT_FALSE(engine->m_request.IsEmpty()) << "a refused Start must not touch the request";
    ReportGate::Open();
    EXPECT_EQ(S_OK, engine->Stop());
    EXPECT_EQ(1, engine->m_bStop);
    EXPECT_EQ(E_INVALIDARG, engine->Start(7, Wide("").data()));
    EXPECT_TRUE(engine->m_request.IsEmpty()) << "an invalid mode still replaces the request";
    engine->Destroy();
}

// A worker whose work throws still ends with a report, so a host waiting for
// one is not left waiting for ever; a scan's list is left empty rather than
// half filled and unordered for a later fix to number from.
std::mutex g_reportsLock;
std::vector<std::string> g_reports;
std::atomic<bool> g_callbackThrowsOnce{false};

void __stdcall RecordReport(const WCHAR* report) {
    if (g_callbackThrowsOnce.exchange(false))
        throw std::runtime_error("the host's callback failed");
    std::string text;
    for (const WCHAR* unit = report; *unit != 0; ++unit)
        text.push_back(static_cast<char>(*unit));
    std::lock_guard<std::mutex> hold(g_reportsLock);
    g_reports.push_back(text);
}

ProblemRecord Finding(const char* id) {
    ProblemRecord record;
    record.id = record.keyPath = id;
    record.kind = ProblemDeleteKey;
    return record;
}

void FindThenRunOutOfMemory(CEngineState& engine) {
    engine.m_problems.push_back(Finding("hkey_users\\z\\"));
    engine.m_problems.push_back(Finding("hkey_users\\a\\"));
    throw std::bad_alloc();
}

void FindThenFail(CEngineState& engine) {
    engine.m_problems.push_back(Finding("hkey_users\\z\\"));
    throw std::logic_error("a scanner's own fault");
}

class WorkerFailureTest : public hmtest::ConformanceTest {};

TEST_F(WorkerFailureTest, AWorkerWhoseWorkThrowsStillReports) {
    struct Case {
        const char* what;
        int mode;
        SectionScanner scanner;
        bool callbackThrowsOnce;
        const char* report;
    } cases[] = {
        {"a scan out of memory", 0, FindThenRunOutOfMemory, false,
         "{\"error\": \"Out of memory\", \"finished\": \"scan\", \"problems\": []}\n"},
        {"a scanner's own fault", 0, FindThenFail, false,
         "{\"error\": \"Unexpected error\", \"finished\": \"scan\", \"problems\": []}\n"},
        {"a fix whose report the host's callback throws on", 1, nullptr, true,
         "{\"error\": \"Unexpected error\", \"fixes\": [], \"finished\": \"fix\"}\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_reports.clear();
        g_callbackThrowsOnce = c.callbackThrowsOnce;
        const SectionScan table[] = {{SectionUserSoftware, c.scanner, false}};
        auto* engine = new CHivemender(table);
        engine->m_pfnResult = RecordReport;
        ASSERT_EQ(S_OK, engine->Start(c.mode, Wide("{}").data()));
        for (int waited = 0; engine->m_hWorkerThread.IsRunning() && waited < 10000; waited += 5)
            Sleep(5);
        EXPECT_EQ(S_FALSE, engine->Stop());
        EXPECT_EQ(std::vector<std::string>{c.report}, g_reports);
        EXPECT_TRUE(engine->m_problems.empty());
        engine->Destroy();
    }
}

// Start lowers the stop flag for a scan alone: a fix started after a Stop
// repairs nothing (the fix's side: tests/fix/fix_engine_test.cpp).
TEST_F(WorkerFailureTest, AFixStartedAfterAStopRepairsNothing) {
    g_reports.clear();
    auto* engine = new CHivemender;
    engine->m_pfnResult = RecordReport;
    engine->m_problems.push_back(Finding("HKEY_CURRENT_USER\\Software\\HmNeverThere"));
    engine->m_bStop = 1;
    ASSERT_EQ(S_OK, engine->Start(1, Wide("{\"0\": \"fix\"}").data()));
    for (int waited = 0; engine->m_hWorkerThread.IsRunning() && waited < 10000; waited += 5)
        Sleep(5);
    EXPECT_EQ(std::vector<std::string>{"{\"fixes\": [], \"finished\": \"fix\"}\n"}, g_reports);
    engine->Destroy();
}

} // namespace
