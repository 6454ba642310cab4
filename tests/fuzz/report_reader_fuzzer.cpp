// The host's reading of scan reports: registries with names of any bytes
// (quotes, brackets, trailing backslashes, control characters) are scanned
// by the engine, and the host must read back every problem exactly, or mark
// it unreadable only where a name gives the bytes more than one reading.
#include "engine/hivemender.h"
#include "report/problem_report.h"
#include "fuzz_machine.h"
#include "host/report_format.h"
#include "host/session.h"
#include "report/json_writer.h"
#include "scan/scan_driver.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::string kRun = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string kUninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char kGone[] = "C:\\Gone\\gone.exe";

void SetString(HKEY key, const std::string& name, const char* data) {
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                   static_cast<DWORD>(std::strlen(data) + 1));
}

// Odd-numbered names become Run values, even ones uninstall entries (key
// names, which hold no backslash).
void Plant(const std::vector<std::string>& names) {
    HKEY run = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRun.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &run,
                    nullptr);
    for (size_t i = 0; i < names.size(); ++i) {
        if (i % 2 == 1) {
            SetString(run, names[i], kGone);
            continue;
        }
        HKEY entry = nullptr;
        std::string name = names[i];
        for (char& c : name)
            c = c == '\\' ? '/' : c;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, (kUninstall + name).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &entry, nullptr) == ERROR_SUCCESS) {
            SetString(entry, "UninstallString", kGone);
            RegCloseKey(entry);
        }
    }
    RegCloseKey(run);
}

// A text as the report carries it: trimmed by the engine, then UTF-8.
std::string Reported(const std::string& ansi) {
    JsonObject object;
    SetString(object, "t", ansi);
    return host::Utf8FromWide(ReportToWide(object.Lookup("t")->value).c_str());
}

// A name can hide a member boundary only through what the engine leaves
// unescaped: a text starting with "[", a quote, a backslash before a quote.
bool CouldMislead(const std::string& text) {
    return !text.empty() &&
           (text[0] == '[' || text.find('"') != std::string::npos || text.back() == '\\');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    hmfuzz::ResetFuzzMachine();
    std::vector<std::string> names(1);
    for (size_t i = 0; i < size && names.size() <= 8; ++i) {
        if (data[i] == 0)
            names.emplace_back();
        else
            names.back().push_back(static_cast<char>(data[i]));
    }
    Plant(names);
    CHivemender engine;
    engine.m_dwSectionMask = 1u << SectionStartup | 1u << SectionUninstall;
    RunScan(engine, engine.m_sectionScanners);
    const std::string text = host::Utf8FromWide(
        ReportToWide(ScanReportText(engine.m_problems, engine.m_userNames)).c_str());

    host::Report report;
    std::string error;
    if (!host::ParseReport(text, &report, &error) ||
        report.entries.size() != engine.m_problems.size())
        std::abort();
    bool anyMisleading = false;
    for (const ProblemRecord& record : engine.m_problems)
        anyMisleading = anyMisleading || CouldMislead(Reported(record.valueName)) ||
                        CouldMislead(Reported(record.keyPath));
    for (size_t i = 0; i < report.entries.size(); ++i) {
        const host::Members& entry = report.entries[i];
        const ProblemRecord& record = engine.m_problems[i];
        if (host::IsUnreadable(entry)) {
            if (!anyMisleading)
                std::abort(); // an ambiguity the reader made up
            continue;
        }
        if (host::Member(entry, "id") != std::to_string(i) ||
            host::Member(entry, "section") != std::to_string(record.section) ||
            host::Member(entry, "key path") != Reported(record.keyPath) ||
            host::Member(entry, "value name") != Reported(record.valueName))
            std::abort();
    }
    return 0;
}
