#include "engine/pending_stubs.h"

#include "engine/hivemender.h"

// An empty document, so that the road from Start to the host's callback can
// be driven before the real report exists.
void BuildScanReport(CHivemender& engine) {
    if (engine.m_pfnResult == nullptr)
        return;
    const WCHAR emptyReport[] = {'{', '}', '\n', 0};
    engine.m_pfnResult(emptyReport);
}
