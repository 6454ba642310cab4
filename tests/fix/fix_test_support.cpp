#include "tests/fix/fix_test_support.h"

#include "base/common_library.h"
#include "fix/fix_engine.h"
#include "regfile/regfile.h"
#include "report/json_reader.h"
#include "support/conformance.h"
#include "support/machine_builder.h"

#include <gtest/gtest.h>

namespace hmtest {
namespace {

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

std::string Fix(CEngineState& engine, const std::string& request) {
    engine.m_request.RemoveAll();
    ParseRequest(request, engine.m_request);
    return RunFix(engine);
}

std::string UndoFolder() {
    return Orvel::GetModulePathNameA(EngineModule()) + "\\Undo\\Hivemender";
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

std::string RoundTrip::FixAll(CEngineState& engine) const {
    return Fix(engine, SelectAllRequest(engine.m_problems.size()));
}

std::set<std::string> RoundTrip::NewUndoFiles() const {
    std::set<std::string> fresh;
    for (const std::string& name : UndoFileNames()) {
        if (m_undoFilesBefore.count(name) == 0)
            fresh.insert(UndoFolder() + "\\" + name);
    }
    return fresh;
}

std::string RoundTrip::UndoFile() const {
    const std::set<std::string> fresh = NewUndoFiles();
    EXPECT_EQ(1u, fresh.size()) << "new undo files in " << UndoFolder();
    return fresh.size() == 1 ? *fresh.begin() : "";
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
