// A whole scan through the plug-in's entry point on a machine with a few
// broken startup and software values: the report, byte for byte.
#include "engine/cloud_plugin.h"
#include "scanner_machine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

namespace {

std::basic_string<WCHAR> Wide(const char* ascii) {
    std::basic_string<WCHAR> text;
    for (; *ascii != '\0'; ++ascii)
        text.push_back(static_cast<WCHAR>(*ascii));
    return text;
}

std::mutex g_lock;
std::string g_report;
bool g_delivered = false;

void __stdcall ReceiveReport(const WCHAR* report) {
    std::string text;
    for (const WCHAR* unit = report; *unit != 0; ++unit)
        text.push_back(*unit < 0x80 ? static_cast<char>(*unit) : '?');
    std::lock_guard<std::mutex> hold(g_lock);
    g_report = text;
    g_delivered = true;
}

bool WaitForReport(std::string& report) {
    for (int waited = 0; waited < 20000; waited += 10) {
        {
            std::lock_guard<std::mutex> hold(g_lock);
            if (g_delivered) {
                report = g_report;
                return true;
            }
        }
        Sleep(10);
    }
    return false;
}

const char kRun[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST(ScannersPluginTest, BrokenStartupAndSoftwareValuesMakeTheExpectedReport) {
    // The prefix's own registry holds findings of its own, which would join
    // the report.
    SKIP_ON_WINE("an exact report needs a registry holding only the test's keys");
    const std::string user = "HKEY_USERS\\S-1-5-21-1004336348-1177238915-682003330-1001";
    hmtest::MachineBuilder machine;
    machine.File("C:\\Tools\\ok.exe")
        .File("C:\\Tools\\ok.dll")
        .String(kRun, "Updater", "C:\\Tools\\updater.exe /silent")
        .String(kRun, "Fine", "C:\\Tools\\ok.exe")
        .String(kRun, "Blank", "")
        .String("HKEY_LOCAL_MACHINE\\SOFTWARE\\Zeta", "Helper", "C:\\Tools\\gone.dll")
        .String("HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha\\Plugins", "List",
                "C:\\Tools\\ok.dll;C:\\Tools\\lost.dll")
        .String("HKEY_LOCAL_MACHINE\\SOFTWARE\\Alpha", "Readme", "C:\\Tools\\readme.txt")
        .String(user + "\\Software\\Beta", "Path", "C:\\Tools\\beta.exe");
    hmtest::BuildScannerMachine(machine);
    if (HasFatalFailure() || IsSkipped())
        return;
    ICloudPlugin* plugin = GetPluginEngine();
    ASSERT_NE(nullptr, plugin);
    plugin->m_pfnResult = ReceiveReport;
    ASSERT_EQ(S_OK, plugin->Start(0, Wide("{}").c_str()));
    std::string report;
    ASSERT_TRUE(WaitForReport(report));
    for (int i = 0; i < 200 && plugin->Stop() != S_FALSE; ++i)
        Sleep(10);
    plugin->Destroy();
    // Numbered in the order of the lower-cased identities; the missing text
    // file (not a kind of file the walks report) and the present program
    // are not reported.
    const std::string expected =
        R"({"finished": "scan", "problems": [)"
        R"({"value name": "List", "new value": "C:\Tools\ok.dll", )"
        R"("key path": "HKEY_LOCAL_MACHINE\SOFTWARE\Alpha\Plugins", "id": "0", "section": "1"},)"
        R"({"value name": "Blank", )"
        R"("key path": "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run", )"
        R"("id": "1", "section": "4"},)"
        R"({"value name": "Updater", )"
        R"("key path": "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion\Run", )"
        R"("id": "2", "section": "4"},)"
        R"({"value name": "Helper", "key path": "HKEY_LOCAL_MACHINE\SOFTWARE\Zeta", )"
        R"("id": "3", "section": "1"},)"
        R"({"value name": "Path", )"
        R"("key path": "HKEY_USERS\S-1-5-21-1004336348-1177238915-682003330-1001\Software\Beta", )"
        R"("id": "4", "section": "0"}]})"
        "\n";
    EXPECT_EQ(expected, report);
}

} // namespace
