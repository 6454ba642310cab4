// The engine object's own state, seen from inside.
#include "engine/hivemender.h"
#include "support/conformance.h"
#include "tests/engine/report_gate.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using hmtest::ReportGate;

std::vector<WCHAR> Wide(const char* ascii) {
    std::vector<WCHAR> text;
    for (; *ascii != '\0'; ++ascii)
        text.push_back(static_cast<WCHAR>(*ascii));
    text.push_back(0);
    return text;
}

class EngineRequestTest : public hmtest::ConformanceTest {};

TEST_F(EngineRequestTest, RefusedStartLeavesTheRequestAloneAndABadModeReplacesIt) {
    auto* engine = new CHivemender;
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

} // namespace
