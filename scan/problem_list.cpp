#include "scan/problem_list.h"

#include "scan/engine_state.h"
#include "scan/exclusion_list.h"
#include "registry/reg_key.h"
#include "registry/mb_case.h"

namespace {

void Append(CEngineState& engine, ProblemRecord record) {
    record.id = ToLowerMb(std::move(record.id));
    engine.m_problems.push_back(std::move(record));
}

} // namespace

bool PassesAdmissionGate(const RegKey& key, const CEngineState& engine) {
    return !engine.m_bAdministrator || key.IsKeyWritable();
}

namespace {

// Whatever rule found it, nothing on a key the user excluded, or below one,
// is shown.
bool Admitted(const RegKey& key, CEngineState& engine) {
    return !IsExcluded(engine, key.KeyPathText()) && PassesAdmissionGate(key, engine);
}

} // namespace

std::string NewValueFromMarkedData(const std::string& data) {
    // Texts of three characters or fewer cannot hold a list with a mark in it.
    if (data.size() <= 3)
        return {};
    const size_t star = data.find('*');
    if (star == std::string::npos)
        return {};
    // The separator before the mark goes with it; at the head of the list,
    // the one after it.
    if (star > 1 && data[star - 1] == ';')
        return data.substr(0, star - 1) + data.substr(star + 1);
    if (star + 1 < data.size() && data[star + 1] == ';')
        return data.substr(0, star) + data.substr(star + 2);
    return {};
}

void AddKeyProblem(const RegKey& key, CEngineState& engine, int section) {
    if (!Admitted(key, engine))
        return;
    ProblemRecord record;
    record.keyPath = key.KeyPathText();
    record.id = record.keyPath + "\\";
    record.section = section;
    record.kind = ProblemDeleteKey;
    Append(engine, std::move(record));
}

void AddValueProblem(const std::string& data, CEngineState& engine, int section, const RegKey& key,
                     const std::string& valueName) {
    if (!Admitted(key, engine))
        return;
    ProblemRecord record;
    record.newValue = NewValueFromMarkedData(data);
    record.kind = record.newValue.empty() ? ProblemDeleteValue : ProblemReplaceValue;
    record.section = section;
    record.keyPath = key.KeyPathText();
    record.valueName = valueName;
    record.id = record.keyPath + "\\" + valueName;
    Append(engine, std::move(record));
}
