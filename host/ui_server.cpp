// hivemender ui: the page, served on the loopback address only.
//
// A local server that can change the registry is a target for every web
// page the user visits, so each request must prove it comes from our page:
// its Host names the loopback address and our port (a rebound DNS name
// does not), it carries the secret that only the printed address held
// (kept afterwards in a SameSite=Strict, HttpOnly cookie), and a change is
// a POST with a JSON body whose Origin is the page's own. GETs only read;
// no CORS header is ever sent, and the page runs no inline script.
#include "host/commands.h"
#include "host/platform.h"
#include "host/ui_worker.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <iostream>
#include <random>
#include <thread>

namespace host {

extern const char kUiIndexHtml[];
extern const char kUiScript[];
extern const char kUiStyle[];

namespace {

using nlohmann::json;

constexpr char kCookie[] = "hm_session";
constexpr char kJson[] = "application/json";

std::string RandomSecret() {
    std::random_device source;
    std::string secret;
    for (int i = 0; i < 8; ++i) {
        char part[9];
        std::snprintf(part, sizeof(part), "%08x", static_cast<unsigned>(source()));
        secret += part;
    }
    return secret;
}

// Compares in a time that does not tell how much of a guess was right.
bool SameSecret(const std::string& given, const std::string& secret) {
    unsigned difference = given.size() == secret.size() ? 0 : 1;
    for (size_t i = 0; i < secret.size(); ++i)
        difference |= static_cast<unsigned char>(i < given.size() ? given[i] : 0) ^
                      static_cast<unsigned char>(secret[i]);
    return difference == 0;
}

std::string CookieValue(const httplib::Request& request, const std::string& name) {
    const std::string cookies = request.get_header_value("Cookie");
    size_t at = 0;
    while (at < cookies.size()) {
        size_t end = cookies.find(';', at);
        if (end == std::string::npos)
            end = cookies.size();
        std::string pair = cookies.substr(at, end - at);
        pair.erase(0, pair.find_first_not_of(' '));
        if (pair.rfind(name + "=", 0) == 0)
            return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

void Refuse(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content(json{{"error", message}}.dump(), kJson);
}

class UiServer {
public:
    UiServer(UiWorker& worker, std::string machineLine)
        : m_worker(worker), m_machineLine(std::move(machineLine)), m_secret(RandomSecret()) {}

    // Binds 127.0.0.1 (port 0: a free one); the port, or -1.
    int Bind(int port) {
        m_port = port ? (m_server.bind_to_port("127.0.0.1", port) ? port : -1)
                      : m_server.bind_to_any_port("127.0.0.1");
        return m_port;
    }
    std::string Address() const {
        return "http://127.0.0.1:" + std::to_string(m_port) + "/?key=" + m_secret;
    }
    void Serve() {
        Routes();
        m_server.listen_after_bind();
    }
    void Stop() { m_server.stop(); }
    bool QuitAsked() const { return m_quit; }

private:
    httplib::Server::HandlerResponse Guard(const httplib::Request& request,
                                           httplib::Response& response);
    void Routes();
    void Answer(httplib::Response& response, const UiWorker::Result& result);
    void Page(const char* path, const char* content, const char* type);
    void Change(const char* path, std::function<UiWorker::Result(const nlohmann::json&)> work);

    UiWorker& m_worker;
    const std::string m_machineLine;
    const std::string m_secret;
    int m_port = -1;
    std::atomic<bool> m_quit{false};
    httplib::Server m_server;
};

httplib::Server::HandlerResponse UiServer::Guard(const httplib::Request& request,
                                                 httplib::Response& response) {
    using Handled = httplib::Server::HandlerResponse;
    const std::string port = std::to_string(m_port);
    const std::string host = request.get_header_value("Host");
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
        Refuse(response, 403, "unknown host name");
        return Handled::Handled;
    }
    if (request.method == "GET" && request.path == "/" && request.has_param("key")) {
        if (!SameSecret(request.get_param_value("key"), m_secret)) {
            Refuse(response, 403, "wrong key: open the address hivemender printed");
            return Handled::Handled;
        }
        // The secret leaves the address bar (and the history) at once.
        response.set_header("Set-Cookie", std::string(kCookie) + "=" + m_secret +
                                              "; HttpOnly; SameSite=Strict; Path=/");
        response.set_redirect("/", 303);
        return Handled::Handled;
    }
    if (!SameSecret(CookieValue(request, kCookie), m_secret)) {
        Refuse(response, 403, "open the address hivemender printed");
        return Handled::Handled;
    }
    if (request.method == "GET")
        return Handled::Unhandled;
    if (request.method != "POST") {
        Refuse(response, 405, "only GET and POST");
        return Handled::Handled;
    }
    if (request.get_header_value("Origin") != "http://" + host) {
        Refuse(response, 403, "a change must come from the page itself");
        return Handled::Handled;
    }
    // The body is read after this check; Change() checks that it is JSON.
    if (request.get_header_value("Content-Type").rfind(kJson, 0) != 0) {
        Refuse(response, 415, "a change takes a JSON object");
        return Handled::Handled;
    }
    return Handled::Unhandled;
}

void UiServer::Answer(httplib::Response& response, const UiWorker::Result& result) {
    if (result.ok)
        response.set_content(result.text, kJson);
    else
        Refuse(response, result.busy ? 409 : 422, result.text);
}

void UiServer::Page(const char* path, const char* content, const char* type) {
    m_server.Get(path, [content, type](const httplib::Request&, httplib::Response& response) {
        response.set_content(content, type);
    });
}

// A POST whose body is a JSON object, answered with the worker's result.
void UiServer::Change(const char* path,
                      std::function<UiWorker::Result(const nlohmann::json&)> work) {
    m_server.Post(path, [this, work](const httplib::Request& request, httplib::Response& response) {
        if (!json::accept(request.body) || !json::parse(request.body).is_object())
            return Refuse(response, 415, "a change takes a JSON object");
        Answer(response, work(json::parse(request.body)));
    });
}

void UiServer::Routes() {
    m_server.set_default_headers({
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    });
    m_server.set_payload_max_length(4 << 20);
    m_server.set_pre_routing_handler(
        [this](const httplib::Request& request, httplib::Response& response) {
            return Guard(request, response);
        });
    m_server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
            Refuse(response, 400, "the request is not one the page makes");
        });
    Page("/", kUiIndexHtml, "text/html; charset=utf-8");
    Page("/ui.js", kUiScript, "text/javascript; charset=utf-8");
    Page("/ui.css", kUiStyle, "text/css; charset=utf-8");

    using Request = httplib::Request;
    using Response = httplib::Response;
    m_server.Get("/api/machine", [this](const Request&, Response& response) {
        response.set_content(json{{"machine", m_machineLine}}.dump(), kJson);
    });
    m_server.Get("/api/progress", [this](const Request&, Response& response) {
        double seconds = 0;
        const std::string activity = m_worker.Activity(&seconds);
        response.set_content(json{{"activity", activity}, {"seconds", seconds}}.dump(), kJson);
    });
    m_server.Get("/api/backups", [this](const Request&, Response& response) {
        Answer(response, m_worker.Backups());
    });
    m_server.Get("/api/exclusions", [this](const Request&, Response& response) {
        Answer(response, m_worker.Exclusions());
    });
    using Body = const json&;
    Change("/api/scan", [this](Body) { return m_worker.Scan(); });
    Change("/api/fix", [this](Body body) {
        return m_worker.Fix(body.at("scan").get<long>(), body.at("ids").get<std::vector<int>>());
    });
    Change("/api/explain", [this](Body body) {
        return m_worker.Explain(body.at("scan").get<long>(), body.at("id").get<int>());
    });
    Change("/api/restore",
           [this](Body body) { return m_worker.Restore(body.at("file").get<std::string>()); });
    Change("/api/exclusions", [this](Body body) {
        const bool add = body.contains("add");
        return m_worker.ChangeExclusion(body.at(add ? "add" : "remove").get<std::string>(), add);
    });
    Change("/api/stop", [this](Body) {
        m_worker.Stop();
        return UiWorker::Result{true, false, "{}"};
    });
    Change("/api/quit", [this](Body) {
        m_quit = true;
        return UiWorker::Result{true, false, "{}"};
    });
}
} // namespace

int RunUi(const Options& options, const std::string& pluginPath, const std::string& machineLine,
          const std::atomic<bool>& interrupted) {
    UiWorker worker(pluginPath, MachineOptions{options.machineFolder, options.force});
    UiServer server(worker, machineLine);
    if (server.Bind(options.uiPort) < 0)
        return Fail(options.uiPort ? "cannot listen on 127.0.0.1:" + std::to_string(options.uiPort)
                                   : std::string("cannot listen on 127.0.0.1"));
    std::thread listener([&server] { server.Serve(); });
    const std::string address = server.Address();
    std::cout << "page: " << address << std::endl;
    std::cerr << "stop with the page's Quit or Ctrl-C\n";
    if (!options.uiNoBrowser && !OpenInBrowser(address))
        std::cerr << "no browser could be opened: open the address above\n";
    while (!server.QuitAsked() && !interrupted)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    worker.Stop();
    // The Quit answer is on its way out; give it a moment before closing.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    server.Stop();
    listener.join();
    return kExitOk;
}

} // namespace host
