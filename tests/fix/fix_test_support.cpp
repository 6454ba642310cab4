#include "tests/fix/fix_test_support.h"

#include "base/common_library.h"
#include "regfile/regfile.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace hmtest {
namespace {

std::mutex g_reportLock;
std::string g_report;
std::atomic<bool> g_reported{false};

void __stdcall ReceiveReport(const WCHAR* report) {
    std::string text;
    for (const WCHAR* p = report; p != nullptr && *p != 0; ++p)
        text.push_back(*p < 0x100 ? static_cast<char>(*p) : '?');
    std::lock_guard<std::mutex> hold(g_reportLock);
    g_report = text;
    g_reported = true;
}

bool WaitFor(const std::atomic<bool>& flag) {
    for (int waited = 0; !flag; waited += 5) {
        if (waited > 10000)
            return false;
        Sleep(5);
    }
    return true;
}

HMODULE PellwatchModule() {
    static HMODULE kept = LoadLibraryA("Pellwatch.dll");
    return kept;
}

template <class Fn> Fn PellwatchExport(const char* name) {
    HMODULE module = PellwatchModule();
    if (module == nullptr)
        return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void SnapshotInto(HKEY root, const std::string& keyPath, const std::string& subkey,
                  std::map<std::string, std::string>& lines) {
    HKEY key;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    lines[keyPath] = "";
    char name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof(name);
        DWORD type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + 1);
        DWORD length = size;
        RegQueryValueExA(key, name, nullptr, &type, data.data(), &length);
        std::string line = "type " + std::to_string(type) + ":";
        for (DWORD b = 0; b < length; ++b) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), " %02x", data[b]);
            line += hex;
        }
        lines[keyPath + "\n  \"" + std::string(name, nameLength) + "\""] = line;
    }
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        children.emplace_back(name, nameLength);
    }
    RegCloseKey(key);
    for (const auto& child : children)
        SnapshotInto(root, keyPath + "\\" + child, subkey + "\\" + child, lines);
}

} // namespace

ProblemRecord KeyProblem(const std::string& keyPath, int section) {
    ProblemRecord record;
    record.id = keyPath + "\\";
    record.section = section;
    record.keyPath = keyPath;
    record.kind = ProblemDeleteKey;
    return record;
}

ProblemRecord ValueProblem(const std::string& keyPath, const std::string& valueName,
                           const std::string& newValue, int section) {
    ProblemRecord record;
    record.id = keyPath + "\\" + valueName;
    record.section = section;
    record.keyPath = keyPath;
    record.valueName = valueName;
    record.newValue = newValue;
    record.kind = newValue.empty() ? ProblemDeleteValue : ProblemReplaceValue;
    return record;
}

std::string StartFixAndWait(CHivemender& engine, const std::string& request) {
    g_reported = false;
    engine.m_pfnResult = ReceiveReport;
    HRESULT started = engine.Start(1, Wide(request).c_str());
    EXPECT_EQ(S_OK, started);
    if (started != S_OK)
        return "";
    const bool reported = WaitFor(g_reported);
    EXPECT_TRUE(reported) << "no fix report within 10 s";
    for (int waited = 0; engine.m_hWorkerThread.IsRunning() && waited < 10000; waited += 5)
        Sleep(5);
    std::lock_guard<std::mutex> hold(g_reportLock);
    return reported ? g_report : "";
}

std::string UndoFolder() {
    return Orvel::GetModulePathNameA(EngineModule()) + "\\Undo\\Hivemender";
}

std::set<std::string> UndoFileNames() {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((UndoFolder() + "\\*.reg").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.insert(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

std::string NewUndoFile(const std::set<std::string>& before) {
    std::vector<std::string> fresh;
    for (const auto& name : UndoFileNames()) {
        if (before.count(name) == 0)
            fresh.push_back(name);
    }
    EXPECT_EQ(1u, fresh.size()) << "new undo files in " << UndoFolder();
    return fresh.size() == 1 ? UndoFolder() + "\\" + fresh[0] : "";
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

std::string ImportRegFile(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    regfile::Script script;
    std::string error;
    if (!regfile::Parse(std::vector<uint8_t>(bytes.begin(), bytes.end()), path, &script, &error))
        return error;
    if (regfile::Apply(script, &error) != ERROR_SUCCESS)
        return error.empty() ? "apply failed" : error;
    return "";
}

bool PellwatchProbe::Loaded() {
    return PellwatchModule() != nullptr;
}

void PellwatchProbe::Reset() {
    if (auto reset = PellwatchExport<PellwatchResetFn>("PellwatchDoubleReset"))
        reset();
}

std::vector<PellwatchCall> PellwatchProbe::Calls() {
    std::vector<PellwatchCall> calls;
    auto count = PellwatchExport<PellwatchCountFn>("PellwatchDoubleCount");
    auto at = PellwatchExport<PellwatchCallAtFn>("PellwatchDoubleCall");
    if (count == nullptr || at == nullptr)
        return calls;
    calls.resize(static_cast<size_t>(count()));
    for (size_t i = 0; i < calls.size(); ++i)
        at(static_cast<int>(i), &calls[i]);
    return calls;
}

std::string SnapshotTree(const std::string& keyPath) {
    HKEY root;
    std::string subkey;
    std::map<std::string, std::string> lines;
    if (SplitKeyPath(keyPath, &root, &subkey))
        SnapshotInto(root, keyPath, subkey, lines);
    std::string text;
    for (const auto& [what, line] : lines)
        text += what + (line.empty() ? "" : " = " + line) + "\n";
    return text;
}

void FixTest::SetUp() {
    static const bool cleaned = [] {
        if (RunningOnWine())
            RemoveFolderTree(UndoFolder());
        return true;
    }();
    (void)cleaned;
    PellwatchProbe::Reset();
}

namespace {
std::string TestName() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    return info != nullptr ? info->name() : "none";
}
std::string Below(std::string base, const std::string& below) {
    return below.empty() ? base : base + "\\" + below;
}
} // namespace

std::string FixTest::Root(const std::string& below) {
    return Below("HKEY_CURRENT_USER\\Software\\HmFixTest\\" + TestName(), below);
}

std::string FixTest::MachineRoot(const std::string& below) {
    return Below("HKEY_LOCAL_MACHINE\\SOFTWARE\\HmFixTest\\" + TestName(), below);
}

} // namespace hmtest
