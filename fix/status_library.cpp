#include "fix/status_library.h"

#include "base/owned_handle.h"
#include "base/shipped_library.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr char kStatusLibrary[] = "Pellwatch.dll";
constexpr char kUpdateExport[] = "UpdateFixedProblems";
constexpr int kFixedProblemsKind = 4;

} // namespace

void ReportFixedCount(int fixedCount) {
    Orvel::TModuleHandle library(LoadShippedLibrary(kStatusLibrary));
    if (!library)
        return;
    auto update = reinterpret_cast<UpdateFixedProblemsFn>(
        reinterpret_cast<void*>(GetProcAddress(library.Get(), kUpdateExport)));
    if (update == nullptr)
        return;
    StatusSummary summary;
    std::memset(&summary, 0, sizeof(summary)); // the padding too
    summary.nFixed = fixedCount;
    update(kFixedProblemsKind, &summary);
}
