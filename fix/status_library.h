// The call that tells the optional status library Pellwatch.dll how many
// problems a fix repaired.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

// What UpdateFixedProblems receives. Natural alignment, no packing: three
// 32-bit fields' worth of header, then the character area at offset 12, and
// three bytes of tail padding (116 bytes in all), every byte but the count
// zero. The library reads the fields it knows at these offsets.
struct StatusSummary {
    int32_t nFixed;
    int32_t nReserved1;
    int32_t nReserved2;
    char szReserved[101];
};
static_assert(offsetof(StatusSummary, nReserved1) == 4);
static_assert(offsetof(StatusSummary, nReserved2) == 8);
static_assert(offsetof(StatusSummary, szReserved) == 12);
static_assert(sizeof(StatusSummary) == 116);

// The export's signature. The first argument is always 4; the result is
// ignored.
typedef int(__cdecl* UpdateFixedProblemsFn)(int kind, StatusSummary* summary);

// Loads Pellwatch.dll from where it is shipped (LoadShippedLibrary), calls UpdateFixedProblems(4,
// summary of `fixedCount`) and unloads it. A missing library or export is skipped silently.
void ReportFixedCount(int fixedCount);
