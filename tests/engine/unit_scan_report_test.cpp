// The scan report's bytes, which hosts parse, and its delivery through the
// result callback.
#include "engine/hivemender.h"
#include "engine/emit_report.h"
#include "report/problem_report.h"
#include "support/machine_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr char kProfileList[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr char kSid[] = "S-1-5-21-4242-4242-4242-1042";

ProblemRecord Problem(int section, const std::string& keyPath, const std::string& valueName = "",
                      const std::string& newValue = "") {
    ProblemRecord record;
    record.section = section;
    record.keyPath = keyPath;
    record.valueName = valueName;
    record.newValue = newValue;
    record.kind = valueName.empty() ? ProblemDeleteKey
                                    : (newValue.empty() ? ProblemDeleteValue : ProblemReplaceValue);
    return record;
}

class ScanReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_machine.String(kProfileList + std::string(kSid), "ProfileImagePath",
                         "C:\\Users\\Ren\xe9");
        m_machine.Build(); // a failed or skipped build ends the test before its body
    }

    hmtest::MachineBuilder m_machine;
    CHivemender m_engine;
};

TEST_F(ScanReportTest, EveryMemberInItsPlace) {
    const std::string userKey = std::string("HKEY_USERS\\") + kSid + "_Classes\\Software\\Demo";
    m_engine.m_problems = {
        Problem(SectionUserSoftware, userKey, "Path", "C:\\a;C:\\c"),
        Problem(SectionUserSoftware, userKey),
        // A new value without a value name is not reported.
        Problem(SectionAppPaths, "HKEY_LOCAL_MACHINE\\SOFTWARE\\X", "", "C:\\kept"),
        // Quotes gain a backslash, even behind one; outer blanks go.
        Problem(SectionHelpFiles, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Y", " say \"hi\\\" ", "  "),
        Problem(SectionFonts, "HKEY_USERS\\.DEFAULT\\Software\\Z", "[bracketed"),
    };
    const std::string user = "\"user name\": \"Ren\xe9\", ";
    const std::string expected =
        "{\"finished\": \"scan\", \"problems\": ["
        "{\"value name\": \"Path\", " +
        user + "\"new value\": \"C:\\a;C:\\c\", \"key path\": \"" + userKey +
        "\", \"id\": \"0\", \"section\": \"0\"},"
        "{" +
        user + "\"key path\": \"" + userKey +
        "\", \"id\": \"1\", \"section\": \"0\"},"
        "{\"key path\": \"HKEY_LOCAL_MACHINE\\SOFTWARE\\X\", \"id\": \"2\", \"section\": \"8\"},"
        // A new value of blanks only is there, and empty.
        "{\"value name\": \"say \\\"hi\\\\\"\", \"new value\": \"\", "
        "\"key path\": \"HKEY_LOCAL_MACHINE\\SOFTWARE\\Y\", "
        "\"id\": \"3\", \"section\": \"10\"},"
        "{\"value name\": [bracketed, \"key path\": \"HKEY_USERS\\.DEFAULT\\Software\\Z\", "
        "\"id\": \"4\", \"section\": \"3\"}]}\n";
    EXPECT_EQ(expected, ScanReportText(m_engine.m_problems, m_engine.m_userNames));
}

std::vector<std::basic_string<WCHAR>> g_received;

void __stdcall Receive(const WCHAR* report) {
    g_received.emplace_back(report);
}

TEST_F(ScanReportTest, TheHostReceivesTheReportInUtf16) {
    g_received.clear();
    m_engine.m_problems = {Problem(SectionUserSoftware, std::string("HKEY_USERS\\") + kSid)};
    const std::string text = ScanReportText(m_engine.m_problems, m_engine.m_userNames);
    EmitReport(m_engine, text); // no callback: dropped
    EXPECT_TRUE(g_received.empty());
    m_engine.m_pfnResult = Receive;
    EmitReport(m_engine, text);
    ASSERT_EQ(1u, g_received.size());
    ASSERT_EQ(text.size(), g_received[0].size());
    for (size_t i = 0; i < text.size(); ++i)
        EXPECT_EQ(static_cast<unsigned char>(text[i]), g_received[0][i]) << "at " << i;
    EmitReport(m_engine, "");
    ASSERT_EQ(2u, g_received.size());
    EXPECT_TRUE(g_received[1].empty());
}

} // namespace
