// Stand-ins for the request table, the request reader and the scan report
// until the report/ sources join the build. Names and signatures match
// theirs, so switching over is a matter of includes.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

class CHivemender;

class JsonObject {
public:
    void RemoveAll() { m_text.clear(); }
    bool IsEmpty() const { return m_text.empty(); }

private:
    friend void ParseRequest(std::string_view requestText, JsonObject& request);
    std::string m_text;
};

void ParseRequest(std::string_view requestText, JsonObject& request);
std::string RequestTextFromWide(LPCWSTR request);
void BuildScanReport(CHivemender& engine);
