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
#include "host/ui_http.h"
#include "host/ui_worker.h"

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

// The value of `name` in a list of name=value pairs split by `separator`
// ("" when absent): a Cookie header, or a query string.
std::string PairValue(const std::string& pairs, char separator, const std::string& name) {
    size_t at = 0;
    while (at < pairs.size()) {
        size_t end = pairs.find(separator, at);
        if (end == std::string::npos)
            end = pairs.size();
        std::string pair = pairs.substr(at, end - at);
        pair.erase(0, pair.find_first_not_of(' '));
        if (pair.rfind(name + "=", 0) == 0)
            return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

UiResponse Content(int status, std::string body, const char* type) {
    UiResponse response;
    response.status = status;
    response.headers.emplace_back("Content-Type", type);
    response.body = std::move(body);
    return response;
}

UiResponse Refusal(int status, const std::string& message) {
    return Content(status, json{{"error", message}}.dump(), kJson);
}

// Sent with every answer, refusals included.
void AddPolicyHeaders(UiResponse* response) {
    static const std::pair<const char*, const char*> kPolicy[] = {
        {"Content-Security-Policy",
         "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
         "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    };
    for (const auto& [name, value] : kPolicy)
        response->headers.emplace_back(name, value);
}

class UiServer {
public:
    UiServer(UiWorker& worker, std::string machineLine)
        : m_worker(worker), m_machineLine(std::move(machineLine)), m_secret(RandomSecret()) {
        Routes();
    }

    std::string Address(int port) const {
        return "http://127.0.0.1:" + std::to_string(port) + "/?key=" + m_secret;
    }
    void SetPort(int port) { m_port = port; }
    UiHandlers Handlers() {
        return {[this](const UiRequest& request, UiResponse* response) {
                    if (!Guard(request, response))
                        return false;
                    AddPolicyHeaders(response);
                    return true;
                },
                [this](const UiRequest& request) {
                    UiResponse response = Route(request);
                    AddPolicyHeaders(&response);
                    return response;
                }};
    }
    bool QuitAsked() const { return m_quit; }

private:
    using Handler = std::function<UiResponse(const UiRequest&)>;

    bool Guard(const UiRequest& request, UiResponse* response) const;
    UiResponse Route(const UiRequest& request) const;
    void Routes();
    static UiResponse Answer(const UiWorker::Result& result);
    void Get(const char* path, std::function<UiResponse()> handler);
    void Page(const char* path, const char* content, const char* type);
    void Change(const char* path, std::function<UiWorker::Result(const nlohmann::json&)> work);

    UiWorker& m_worker;
    const std::string m_machineLine;
    const std::string m_secret;
    int m_port = -1;
    std::atomic<bool> m_quit{false};
    std::map<std::string, Handler> m_routes; // "GET /path" → its handler
};

// Refuses (true, with the answer) what did not come from our page; sees
// only the request line and headers, so a refused body is never read.
bool UiServer::Guard(const UiRequest& request, UiResponse* response) const {
    const std::string port = std::to_string(m_port);
    const std::string host = request.Header("host");
    if (host != "127.0.0.1:" + port && host != "localhost:" + port) {
        *response = Refusal(403, "unknown host name");
        return true;
    }
    const std::string key = PairValue(request.query, '&', "key");
    if (request.method == "GET" && request.path == "/" && !key.empty()) {
        if (!SameSecret(key, m_secret)) {
            *response = Refusal(403, "wrong key: open the address hivemender printed");
            return true;
        }
        // The secret leaves the address bar (and the history) at once.
        *response = UiResponse{303, {}, {}};
        response->headers = {{"Set-Cookie", std::string(kCookie) + "=" + m_secret +
                                                "; HttpOnly; SameSite=Strict; Path=/"},
                             {"Location", "/"}};
        return true;
    }
    if (!SameSecret(PairValue(request.Header("cookie"), ';', kCookie), m_secret)) {
        *response = Refusal(403, "open the address hivemender printed");
        return true;
    }
    if (request.method == "GET")
        return false;
    if (request.method != "POST") {
        *response = Refusal(405, "only GET and POST");
        return true;
    }
    if (request.Header("origin") != "http://" + host) {
        *response = Refusal(403, "a change must come from the page itself");
        return true;
    }
    if (request.Header("content-type").rfind(kJson, 0) != 0) {
        *response = Refusal(415, "a change takes a JSON object");
        return true;
    }
    return false;
}

UiResponse UiServer::Route(const UiRequest& request) const {
    const auto found = m_routes.find(request.method + " " + request.path);
    if (found == m_routes.end())
        return Refusal(404, "no such page");
    try {
        return found->second(request);
    } catch (const std::exception&) {
        return Refusal(400, "the request is not one the page makes");
    }
}

UiResponse UiServer::Answer(const UiWorker::Result& result) {
    if (result.ok)
        return Content(200, result.text, kJson);
    return Refusal(result.busy ? 409 : 422, result.text);
}

void UiServer::Get(const char* path, std::function<UiResponse()> handler) {
    m_routes[std::string("GET ") + path] = [handler](const UiRequest&) { return handler(); };
}

void UiServer::Page(const char* path, const char* content, const char* type) {
    Get(path, [content, type] { return Content(200, content, type); });
}

// A POST whose body is a JSON object, answered with the worker's result.
void UiServer::Change(const char* path,
                      std::function<UiWorker::Result(const nlohmann::json&)> work) {
    m_routes[std::string("POST ") + path] = [work](const UiRequest& request) {
        if (!json::accept(request.body) || !json::parse(request.body).is_object())
            return Refusal(415, "a change takes a JSON object");
        return Answer(work(json::parse(request.body)));
    };
}

void UiServer::Routes() {
    Page("/", kUiIndexHtml, "text/html; charset=utf-8");
    Page("/ui.js", kUiScript, "text/javascript; charset=utf-8");
    Page("/ui.css", kUiStyle, "text/css; charset=utf-8");

    Get("/api/machine", [this] { return Content(200, json{{"machine", m_machineLine}}.dump(), kJson); });
    Get("/api/progress", [this] {
        double seconds = 0;
        const std::string activity = m_worker.Activity(&seconds);
        return Content(200, json{{"activity", activity}, {"seconds", seconds}}.dump(), kJson);
    });
    Get("/api/backups", [this] { return Answer(m_worker.Backups()); });
    Get("/api/exclusions", [this] { return Answer(m_worker.Exclusions()); });
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
    const std::unique_ptr<UiTransport> transport = MakeUiTransport();
    const int port = transport->Bind(options.uiPort);
    if (port < 0) {
        std::string message = "cannot listen on 127.0.0.1";
        if (options.uiPort)
            message.append(":").append(std::to_string(options.uiPort));
        const std::string why = transport->BindFailure();
        if (!why.empty())
            message.append(": ").append(why);
        return Fail(message);
    }
    server.SetPort(port);
    const UiHandlers handlers = server.Handlers();
    std::thread listener([&transport, &handlers] { transport->Serve(handlers); });
    const std::string address = server.Address(port);
    std::cout << "page: " << address << std::endl;
    std::cerr << "stop with the page's Quit or Ctrl-C\n";
    if (!options.uiNoBrowser && !OpenInBrowser(address))
        std::cerr << "no browser could be opened: open the address above\n";
    while (!server.QuitAsked() && !interrupted)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    worker.Stop();
    // The Quit answer is on its way out; give it a moment before closing.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    transport->Stop();
    listener.join();
    return kExitOk;
}

} // namespace host
