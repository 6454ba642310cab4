#include "scan/scan_driver.h"

#include "scan/engine_state.h"
#include "fileref/scan_file_cache.h"
#include "registry/reg_key.h"
#include "scan/exclusion_list.h"

#include <algorithm>
#include <vector>

namespace {

bool IsSectionEnabled(const CEngineState& engine, int section) {
    return (engine.m_dwSectionMask & (1u << section)) != 0;
}

// The stop flag is not among these: Start lowers it before the worker
// exists, so a Stop that follows Start at once is never undone here.
void ResetScanState(CEngineState& engine) {
    ClearExclusionList(engine);
    engine.m_bAdministrator = IsAdministrator();
    engine.m_bPause = 0;
    engine.m_nServiceProblems = 0;
    engine.m_problems.clear();
    // Lower-casing follows the code page, which may change between scans.
    engine.m_lastFindingKey.clear();
}

// Byte order of the lower-cased identities. Among equal identities (a key
// and its default value) the key comes first, so that the value, which
// deleting the key removes anyway, is pruned with the rest of the key.
bool ComesBefore(const ProblemRecord& a, const ProblemRecord& b) {
    const int order = a.id.compare(b.id);
    if (order != 0)
        return order < 0;
    return a.kind == ProblemDeleteKey && b.kind != ProblemDeleteKey;
}

// A stable merge sort that merges the runs already in order: each section
// records its findings in the order of its walk, mostly that of the
// identities, so a scan's list is a few long runs and sorts in a few passes.
template <class Before> void SortStably(std::vector<size_t>& items, Before before) {
    std::vector<size_t> runEnds;
    for (size_t i = 1; i < items.size(); ++i) {
        if (before(items[i], items[i - 1]))
            runEnds.push_back(i);
    }
    runEnds.push_back(items.size());
    while (runEnds.size() > 1) {
        std::vector<size_t> merged;
        size_t start = 0;
        for (size_t run = 0; run < runEnds.size(); run += 2) {
            if (run + 1 < runEnds.size()) {
                std::inplace_merge(items.begin() + static_cast<std::ptrdiff_t>(start),
                                   items.begin() + static_cast<std::ptrdiff_t>(runEnds[run]),
                                   items.begin() + static_cast<std::ptrdiff_t>(runEnds[run + 1]),
                                   before);
            }
            start = runEnds[std::min(run + 1, runEnds.size() - 1)];
            merged.push_back(start);
        }
        runEnds.swap(merged);
    }
}

bool LiesInside(const ProblemRecord& record, const std::string& keyId) {
    return record.id.compare(0, keyId.size(), keyId) == 0;
}

} // namespace

void RunScan(CEngineState& engine, std::span<const SectionScan> table) {
    // File-system answers are remembered for this scan only.
    CScanFileCache fileAnswers;
    ResetScanState(engine);
    for (const SectionScan& entry : table) {
        if (engine.m_bStop != 0)
            return;
        if (entry.scanner == nullptr || !IsSectionEnabled(engine, entry.section))
            continue;
        if (entry.needsAdministrator && !engine.m_bAdministrator)
            continue;
        entry.scanner(engine);
    }
    if (engine.m_bStop == 0)
        OrderProblems(engine);
}

// After sorting, everything a key problem covers follows it directly, since a
// text sorts right behind every prefix of it. One pass keeps the first record
// of each such run and moves each kept record once: a key with a hundred
// thousand records below it costs a hundred thousand steps, not their square.
void PruneCoveredProblems(ProblemList& problems) {
    size_t kept = 0;
    for (size_t next = 0; next < problems.size();) {
        const size_t current = next++;
        if (problems[current].kind == ProblemDeleteKey) {
            while (next < problems.size() && LiesInside(problems[next], problems[current].id))
                ++next;
        }
        if (kept != current)
            problems[kept] = std::move(problems[current]);
        ++kept;
    }
    problems.erase(problems.begin() + static_cast<std::ptrdiff_t>(kept), problems.end());
}

void OrderProblems(CEngineState& engine) {
    // The positions are sorted and each record then moved once: a record
    // holds four strings, and a merge sort moves each many times over.
    ProblemList& problems = engine.m_problems;
    std::vector<size_t> order(problems.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    SortStably(order, [&problems](size_t a, size_t b) {
        return ComesBefore(problems[a], problems[b]);
    });
    ProblemList sorted;
    sorted.reserve(problems.size());
    for (size_t position : order)
        sorted.push_back(std::move(problems[position]));
    problems = std::move(sorted);
    PruneCoveredProblems(problems);
}
