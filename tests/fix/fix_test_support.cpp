#include "tests/fix/fix_test_support.h"

#include "base/common_library.h"
#include "regfile/regfile.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "support/text.h"

#include <gtest/gtest.h>

#include <atomic>
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

EnginePtr NewEngine() {
    return EnginePtr(new CHivemender, [](CHivemender* engine) { engine->Destroy(); });
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

RoundTrip::RoundTrip(const std::vector<std::string>& trees) : m_undoFilesBefore(UndoFileNames()) {
    for (const std::string& tree : trees)
        m_before.emplace_back(tree, SnapshotTree(tree));
}

std::string RoundTrip::FixAll(CHivemender& engine) const {
    return StartFixAndWait(engine, SelectAllRequest(engine.m_problems.size()));
}

std::set<std::string> RoundTrip::NewUndoFiles() const {
    std::set<std::string> fresh;
    for (const std::string& name : UndoFileNames()) {
        if (m_undoFilesBefore.count(name) == 0)
            fresh.insert(UndoFolder() + "\\" + name);
    }
    return fresh;
}

void RoundTrip::ExpectRestoredBy(const std::string& undoFile) const {
    if (!undoFile.empty()) {
        EXPECT_EQ("", ImportRegFile(undoFile)) << ReadWholeFile(undoFile);
    }
    for (const auto& [tree, snapshot] : m_before)
        EXPECT_EQ(snapshot, SnapshotTree(tree))
            << tree << "\n"
            << (undoFile.empty() ? "changed without an undo file" : ReadWholeFile(undoFile));
}

std::string SelectAllRequest(size_t count) {
    std::string request = "{";
    for (size_t i = 0; i < count; ++i)
        request += (i ? ", \"" : "\"") + std::to_string(i) + "\": \"fix\"";
    return request + "}";
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
