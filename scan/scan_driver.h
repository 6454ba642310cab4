// The scan driver: runs the enabled section scanners on the worker thread,
// then puts the problem list into its final order.
//
// The host names problems by their position in the final list (the report
// numbers them, a fix request picks them by number), so the order made here
// is part of the contract with the host.
#pragma once

#include "report/problem_record.h"

#include <cstddef>
#include <span>

struct CEngineState;

// A section scanner walks its area of the registry and adds problems.
using SectionScanner = void (*)(CEngineState& engine);

struct SectionScan {
    int section;             // its bit in m_dwSectionMask enables it
    SectionScanner scanner;  // null: the row is passed over
    bool needsAdministrator; // runs only for an administrator
    // Keys below HKEY_LOCAL_MACHINE that this section's scanner owns: the
    // machine software walk leaves them (and every key whose path they
    // begin) to it.
    std::span<const char* const> ownedMachineKeys = {};
};

// Resets the engine's scan state (all but the stop flag, which the caller
// lowers before the scan's thread exists), runs every enabled scanner of
// `table` in its order until a stop is requested, then orders the problem
// list. A stopped scan leaves the list as the scanners left it, unordered.
void RunScan(CEngineState& engine, std::span<const SectionScan> table);

// Sorts the problem list by identity and drops every record that lies inside
// a key which is itself to be deleted (its repeats, its subkeys, its values).
void OrderProblems(CEngineState& engine);
// The pruning step alone, on a list already in order.
void PruneCoveredProblems(ProblemList& problems);
