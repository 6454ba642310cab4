// The page's transport on Linux: Debian's cpp-httplib.
#include "host/ui_http.h"

#include <httplib.h>

#include <cctype>

namespace host {
namespace {

UiRequest FromWire(const httplib::Request& wire) {
    UiRequest request;
    request.method = wire.method;
    request.path = wire.path;
    const size_t query = wire.target.find('?');
    if (query != std::string::npos)
        request.query = wire.target.substr(query + 1);
    for (const auto& [name, value] : wire.headers) {
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        request.headers.emplace(lower, value); // the first of repeated headers counts
    }
    request.body = wire.body;
    return request;
}

void ToWire(const UiResponse& response, httplib::Response& wire) {
    wire.status = response.status;
    std::string type;
    for (const auto& [name, value] : response.headers) {
        if (name == "Content-Type")
            type = value;
        else
            wire.set_header(name, value);
    }
    wire.set_content(response.body, type);
}

class HttplibTransport : public UiTransport {
public:
    int Bind(int port) override {
        return port ? (m_server.bind_to_port("127.0.0.1", port) ? port : -1)
                    : m_server.bind_to_any_port("127.0.0.1");
    }

    void Serve(const UiHandlers& handlers) override {
        m_server.set_payload_max_length(kUiMaxBody);
        // Runs before the body is read.
        m_server.set_pre_routing_handler(
            [&handlers](const httplib::Request& wire, httplib::Response& answer) {
                UiResponse refused;
                if (!handlers.guard(FromWire(wire), &refused))
                    return httplib::Server::HandlerResponse::Unhandled;
                ToWire(refused, answer);
                return httplib::Server::HandlerResponse::Handled;
            });
        const auto route = [&handlers](const httplib::Request& wire, httplib::Response& answer) {
            ToWire(handlers.route(FromWire(wire)), answer);
        };
        m_server.Get(".*", route);
        m_server.Post(".*", route);
        m_server.listen_after_bind();
    }

    void Stop() override { m_server.stop(); }

private:
    httplib::Server m_server;
};

} // namespace

std::unique_ptr<UiTransport> MakeUiTransport() { return std::make_unique<HttplibTransport>(); }

} // namespace host
