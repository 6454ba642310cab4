// The scan driver: runs the enabled section scanners on the worker thread,
// then puts the problem list into its final order.
//
// The host names problems by their position in the final list (the report
// numbers them, a fix request picks them by number), so the order made here
// is part of the contract with the host.
#pragma once

#include "scan/problem_record.h"

#include <cstddef>
#include <span>

class CHivemender;

// A section scanner walks its area of the registry and adds problems.
using SectionScanner = void (*)(CHivemender& engine);

struct SectionScan {
    int section;             // its bit in m_dwSectionMask enables it
    SectionScanner scanner;  // null while the section has no scanner
    bool needsAdministrator; // runs only for an administrator
};

// The scanners in the order a scan runs them.
std::span<const SectionScan> SectionScanTable();

// Resets the engine's scan state, runs every enabled scanner in table order
// until a stop is requested, then orders the problem list. A stopped scan
// leaves the list as the scanners left it, unordered.
void RunScan(CHivemender& engine);
void RunScanWith(CHivemender& engine, std::span<const SectionScan> table);

// Sorts the problem list by identity and drops every record that lies inside
// a key which is itself to be deleted (its repeats, its subkeys, its values).
void OrderProblems(CHivemender& engine);
// The pruning step alone, on a list already in order.
void PruneCoveredProblems(ProblemList& problems);

// For scanners: sleeps while the pause flag is raised.
void WaitWhilePaused(const CHivemender& engine);
