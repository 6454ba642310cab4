#include "engine/pending_stubs.h"

#include "engine/hivemender.h"

void ParseRequest(std::string_view requestText, JsonObject& request) {
    request.m_text = requestText;
}

std::string RequestTextFromWide(LPCWSTR request) {
    if (request == nullptr)
        return {};
    int size = WideCharToMultiByte(CP_THREAD_ACP, 0, request, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_THREAD_ACP, 0, request, -1, text.data(), size, nullptr, nullptr);
    text.resize(static_cast<size_t>(size) - 1);
    return text;
}

// An empty document, so that the road from Start to the host's callback can
// be driven before the real report exists.
void BuildScanReport(CHivemender& engine) {
    if (engine.m_pfnResult == nullptr)
        return;
    const WCHAR emptyReport[] = {'{', '}', '\n', 0};
    engine.m_pfnResult(emptyReport);
}
