#include "fix/fix_engine.h"

#include "base/text.h"
#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "fix/registry_edits.h"
#include "fix/status_library.h"
#include "fix/undo_file.h"
#include "report/problem_report.h"

#include <map>
#include <string>

namespace {

// The result of a record whose kind names no repair.
constexpr LONG kNoRepair = ERROR_INVALID_HANDLE;

LONG Repair(CEngineState& engine, const ProblemRecord& record, CUndoFile& undo) {
    // What the user excluded is never changed, nor deleted with a parent.
    if (IsExcluded(engine, record.keyPath) ||
        (record.kind == ProblemDeleteKey && HoldsExcludedKey(engine, record.keyPath)))
        return ERROR_ACCESS_DENIED;
    switch (record.kind) {
    case ProblemDeleteKey:
        return DeleteKeyWithUndo(record.keyPath, undo);
    case ProblemDeleteValue:
        return DeleteValueWithUndo(undo, record.keyPath, record.valueName);
    case ProblemReplaceValue:
        return SetValueWithUndo(undo, record.keyPath, record.valueName, record.newValue,
                                record.newValueType);
    default:
        return kNoRepair;
    }
}

// A missing key or value is as good as a deleted one.
bool CountsAsFixed(LONG status) {
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// What a repair changes, the same text whichever alias names the key: two
// sections can report one value under two paths, and the second repair must
// neither save the first one's result as the old state nor change it again.
std::string RepairTarget(const ProblemRecord& record, const CUndoFile& undo) {
    if (record.kind == ProblemDeleteKey)
        return KeyStateId(undo, record.keyPath);
    return ValueStateId(undo, record.keyPath, record.valueName);
}

// Problems left unrepaired because their old state could not be saved, and
// the last such failure's Win32 code.
struct UnsavedRepairs {
    int count = 0;
    DWORD error = ERROR_SUCCESS;
};

// Whether the record is fixed: repaired now, or by an earlier record of
// this run that named the same thing (`repaired` remembers their results).
bool RepairOnce(CEngineState& engine, const ProblemRecord& record, CUndoFile& undo,
                std::map<std::string, bool>& repaired, UnsavedRepairs& unsaved) {
    const auto [target, isFirst] = repaired.emplace(RepairTarget(record, undo), false);
    if (!isFirst)
        return target->second;
    undo.m_dwSaveError = ERROR_SUCCESS;
    target->second = CountsAsFixed(Repair(engine, record, undo));
    if (!target->second && undo.m_dwSaveError != ERROR_SUCCESS) {
        ++unsaved.count;
        unsaved.error = undo.m_dwSaveError;
    }
    return target->second;
}

// Repairs the selected problems in list order; returns how many are fixed.
int RepairSelected(CEngineState& engine, CUndoFile& undo, JsonObjectArray& fixes,
                   UnsavedRepairs& unsaved) {
    int fixedCount = 0;
    std::map<std::string, bool> repaired;
    if (engine.m_bStop != 0)
        return fixedCount;
    for (size_t i = 0; i < engine.m_problems.size(); ++i) {
        WaitWhilePaused(engine);
        if (IsSelectedForFix(engine.m_request, i)) {
            const ProblemRecord& record = engine.m_problems[i];
            const bool fixed = RepairOnce(engine, record, undo, repaired, unsaved);
            fixedCount += fixed ? 1 : 0;
            fixes.Add(FixResultObject(record, i, engine.m_userNames, fixed));
        }
        // A stop lets the problem under repair finish, and nothing after it.
        if (engine.m_bStop != 0)
            break;
    }
    return fixedCount;
}

} // namespace

bool IsSelectedForFix(const JsonObject& request, size_t index) {
    const JsonMember* member = request.Lookup(std::to_string(index));
    return member != nullptr && base::EqualNoCase(member->value, "fix");
}

std::string RunFix(CEngineState& engine) {
    engine.m_bPause = 0;
    CUndoFile undo = CreateUndoFile();
    JsonObjectArray fixes;
    UnsavedRepairs unsaved;
    const int fixedCount = RepairSelected(engine, undo, fixes, unsaved);
    FinishUndoFile(undo);
    ReportFixedCount(fixedCount);
    std::string error;
    if (engine.m_problems.empty())
        error = "Empty problems array";
    else if (!undo.IsOpen())
        // Without an undo file nothing was repaired; say why rather than
        // leave a host with a list of unexplained failures.
        error = "Cannot create the undo file (error " + std::to_string(undo.m_dwCreateError) + ")";
    else if (unsaved.count != 0)
        // Those repairs were not made; without this the host would show a
        // list of failures with no reason (a full disk, say).
        error = "Cannot save the old state of " + std::to_string(unsaved.count) +
                (unsaved.count == 1 ? " problem" : " problems") + " in the undo file (error " +
                std::to_string(unsaved.error) + ")";
    return FixReportText(fixes, error);
}
