// A whole scan through the plug-in's entry point on a machine with a few
// broken startup and software values: the report, byte for byte.
#include "engine/cloud_plugin.h"
#include "support/text.h"
#include "support/conformance.h"
#include "support/machine_builder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <regex>
#include <string>
#include <vector>

namespace {

using hmtest::Wide;

// The report, and the thread that delivered it.
std::promise<std::pair<std::string, DWORD>> g_delivered;

void __stdcall ReceiveReport(const WCHAR* report) {
    std::string text;
    for (const WCHAR* unit = report; *unit != 0; ++unit)
        text.push_back(*unit < 0x80 ? static_cast<char>(*unit) : '?');
    g_delivered.set_value({text, GetCurrentThreadId()});
}

const char kRun[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

struct Entry {
    const char* valueName;
    const char* newValue; // nullptr: none
    std::string keyPath;
    int section;
};

// The report as the host receives it, problems numbered in the order given.
std::string ExpectedReport(const std::vector<Entry>& entries) {
    std::string text = R"({"finished": "scan", "problems": [)";
    for (size_t id = 0; id < entries.size(); ++id) {
        const Entry& e = entries[id];
        text += id == 0 ? "{" : ",{";
        text += std::string(R"("value name": ")") + e.valueName + R"(", )";
        if (e.newValue != nullptr)
            text += std::string(R"("new value": ")") + e.newValue + R"(", )";
        text += R"("key path": ")" + e.keyPath + R"(", "id": ")" + std::to_string(id) +
                R"(", "section": ")" + std::to_string(e.section) + R"("})";
    }
    return text + "]}\n";
}

// The problems of the software walks and the startup scanner, without their
// ids: a Wine prefix brings findings of its own in the other sections (its
// 16-bit class servers and missing bitmap fonts), which shift the numbering.
std::vector<std::string> OwnSectionProblems(const std::string& report) {
    static const std::regex problem(R"(\{[^{}]*\})");
    static const std::regex id(R"("id": "[0-9]+", )");
    static const std::regex ownSection(R"("section": "[014]"\})");
    std::vector<std::string> problems;
    for (std::sregex_iterator it(report.begin(), report.end(), problem), end; it != end; ++it) {
        if (std::regex_search(it->str(), ownSection))
            problems.push_back(std::regex_replace(it->str(), id, ""));
    }
    return problems;
}

TEST(ScannersPluginTest, BrokenStartupAndSoftwareValuesMakeTheExpectedReport) {
    hmtest::MachineBuilder machine;
    machine.File("C:\\HmTools\\ok.exe")
        .File("C:\\HmTools\\ok.dll")
        .String(kRun, "HmUpdater", "C:\\HmTools\\updater.exe /silent")
        .String(kRun, "HmFine", "C:\\HmTools\\ok.exe")
        .String(kRun, "HmBlank", "")
        .String("HKEY_LOCAL_MACHINE\\SOFTWARE\\HmZeta", "Helper", "C:\\HmTools\\gone.dll")
        .String("HKEY_LOCAL_MACHINE\\SOFTWARE\\HmAlpha\\Plugins", "List",
                "C:\\HmTools\\ok.dll;C:\\HmTools\\lost.dll")
        .String("HKEY_LOCAL_MACHINE\\SOFTWARE\\HmAlpha", "Readme", "C:\\HmTools\\readme.txt");
    // A user hive's finding carries the hive's path; under Wine the hive is
    // reached only as HKEY_CURRENT_USER, whose SID the builder does not know.
    const bool withUserHive = hmtest::RunningOnStandIn();
    const std::string userKey = "HKEY_USERS\\" + machine.CurrentUserSid() + "\\Software\\HmBeta";
    if (withUserHive)
        machine.String(userKey, "Path", "C:\\HmTools\\beta.exe");
    // The plug-in's search tables are filled by its first scan, on this
    // machine: this program runs one scan only.
    RETURN_UNLESS_BUILT(machine);
    ICloudPlugin* plugin = GetPluginEngine();
    ASSERT_NE(nullptr, plugin);
    plugin->m_pfnResult = ReceiveReport;
    std::future<std::pair<std::string, DWORD>> delivered = g_delivered.get_future();
    ASSERT_EQ(S_OK, plugin->Start(0, Wide("{}").c_str()));
    ASSERT_EQ(std::future_status::ready, delivered.wait_for(std::chrono::seconds(20)));
    const auto [report, deliveringThread] = delivered.get();
    EXPECT_NE(GetCurrentThreadId(), deliveringThread) << "reported on the engine's worker";
    for (int i = 0; i < 200 && plugin->Stop() != S_FALSE; ++i)
        Sleep(10);
    plugin->Destroy();
    // Numbered in the order of the lower-cased identities; the missing text
    // file (not a kind of file the walks report) and the present program
    // are not reported.
    std::vector<Entry> expected = {
        {"List", "C:\\HmTools\\ok.dll", "HKEY_LOCAL_MACHINE\\SOFTWARE\\HmAlpha\\Plugins", 1},
        {"Helper", nullptr, "HKEY_LOCAL_MACHINE\\SOFTWARE\\HmZeta", 1},
        {"HmBlank", nullptr, kRun, 4},
        {"HmUpdater", nullptr, kRun, 4},
    };
    if (withUserHive)
        expected.push_back({"Path", nullptr, userKey, 0});
    if (hmtest::RunningOnStandIn())
        EXPECT_EQ(ExpectedReport(expected), report);
    else
        EXPECT_EQ(OwnSectionProblems(ExpectedReport(expected)), OwnSectionProblems(report));
}

} // namespace
