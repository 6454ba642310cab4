// Recording findings: the two ways a scanner adds to the engine's problem
// list.
//
// Both apply the same admission gate. An administrator could repair any key
// the system lets him write, so a key he cannot write is not worth showing
// him; a user without those rights sees every finding, writable or not, so
// that he knows what an administrator could clean. Who the user is was
// settled when the scan began (CEngineState::m_bAdministrator).
#pragma once

#include "report/problem_record.h"

#include <string>

struct CEngineState;
class RegKey;

// The admission gate: whether a finding on `key` is worth showing this user.
bool PassesAdmissionGate(const RegKey& key, const CEngineState& engine);

// Records that `key` itself is to be deleted.
void AddKeyProblem(const RegKey& key, CEngineState& engine, int section);

// Records that the value `valueName` of `key` is broken. `data` is the
// scanner's text for it: "*" alone asks for deletion; a "*" beside a ";"
// marks the list element that was dropped, and the record then carries the
// repaired list as its new value.
void AddValueProblem(const std::string& data, CEngineState& engine, int section, const RegKey& key,
                     const std::string& valueName);

// The repaired list for marked data, or the empty text when the value is to
// be deleted instead.
std::string NewValueFromMarkedData(const std::string& data);
