// The page's HTTP, apart from how it travels. The routes and the whole
// security policy live in one place (ui_server.cpp); a transport only turns
// the wire into a UiRequest and a UiResponse back into the wire: on Linux
// cpp-httplib, on Windows the system's HTTP Server API.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace host {

struct UiRequest {
    std::string method;
    std::string path;                          // without the query
    std::string query;                         // after '?', as sent
    std::map<std::string, std::string> headers; // names in lower case
    std::string body;

    std::string Header(const std::string& lowerName) const {
        const auto found = headers.find(lowerName);
        return found == headers.end() ? std::string() : found->second;
    }
};

struct UiResponse {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers; // Content-Type among them
    std::string body;
};

// What a transport serves: `guard` sees the request before its body is read
// and answers (true) when it is refused; `route` answers the rest.
struct UiHandlers {
    std::function<bool(const UiRequest&, UiResponse*)> guard;
    std::function<UiResponse(const UiRequest&)> route;
};

// The largest body a transport reads; a larger one is refused unread.
constexpr size_t kUiMaxBody = 4 << 20;

class UiTransport {
public:
    virtual ~UiTransport() = default;
    // Listens on 127.0.0.1 (port 0: a free one); the port, or -1.
    virtual int Bind(int port) = 0;
    // After a failed Bind: why, in words the user can act on; empty when
    // nothing more is known.
    virtual std::string BindFailure() const { return {}; }
    // Answers requests until Stop(); called on a thread of its own.
    virtual void Serve(const UiHandlers& handlers) = 0;
    virtual void Stop() = 0;
};

std::unique_ptr<UiTransport> MakeUiTransport();

} // namespace host
