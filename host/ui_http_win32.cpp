// The page's transport on Windows: the system's HTTP Server API (httpapi).
//
// Its queue is shared by a few threads, so the page's progress polls are
// answered while a scan's request waits for the engine. The API listens for
// its own driver; once stopped, the waiting receives are cancelled.
//
// The driver is a service; when it is not running yet (always so under
// Wine), HttpInitialize has the service manager start it, which takes its
// time: the manager starts one service at a time
// (while it starts another, just after logon or for another program, it
// answers "database locked"), a start that overran its time limit is
// reported as such, and Wine's manager reports a driver started as soon as
// its process says "start pending", before the driver made its device, so
// the first queue may not open yet. All three pass; they are waited out up
// to a deadline, and what still fails is told with the call and its code.
#include "host/ui_http.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <http.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace host {
namespace {

// A Wine start overrun costs its 10 s limit, so this allows a few.
constexpr std::chrono::seconds kServiceDeadline{30};

// "error N: the system's words for it", for a message the user can act on.
std::string ErrorText(ULONG code) {
    char* words = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<char*>(&words), 0, nullptr);
    std::string text = "error " + std::to_string(code);
    if (words) {
        std::string said(words);
        LocalFree(words);
        while (!said.empty() && (std::isspace(static_cast<unsigned char>(said.back())) || said.back() == '.'))
            said.pop_back();
        if (!said.empty())
            text += ": " + said;
    }
    return text;
}

// Calls `attempt` again while it fails for a reason that `passes` and the
// deadline is ahead; its last result.
template <class Attempt, class Passes>
ULONG Retried(std::chrono::steady_clock::time_point deadline, Attempt attempt, Passes passes) {
    for (;;) {
        const ULONG result = attempt();
        if (result == NO_ERROR || !passes(result) || std::chrono::steady_clock::now() >= deadline)
            return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}

std::string Lower(const char* text, size_t length) {
    std::string lower(text, length);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string Verb(const HTTP_REQUEST& wire) {
    switch (wire.Verb) {
    case HttpVerbGET: return "GET";
    case HttpVerbPOST: return "POST";
    case HttpVerbHEAD: return "HEAD";
    case HttpVerbPUT: return "PUT";
    case HttpVerbDELETE: return "DELETE";
    case HttpVerbOPTIONS: return "OPTIONS";
    default:
        return wire.pUnknownVerb ? std::string(wire.pUnknownVerb, wire.UnknownVerbLength) : "?";
    }
}

// Only the loopback address may talk to us, whatever the system's listen
// list lets the driver accept.
bool FromLoopback(const HTTP_REQUEST& wire) {
    const SOCKADDR* remote = wire.Address.pRemoteAddress;
    if (!remote)
        return false;
    if (remote->sa_family == AF_INET)
        return (ntohl(reinterpret_cast<const sockaddr_in*>(remote)->sin_addr.s_addr) >> 24) == 127;
    if (remote->sa_family == AF_INET6)
        return IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(remote)->sin6_addr);
    return false;
}

UiRequest FromWire(const HTTP_REQUEST& wire) {
    UiRequest request;
    request.method = Verb(wire);
    const std::string target(wire.pRawUrl, wire.RawUrlLength);
    const size_t query = target.find('?');
    request.path = target.substr(0, query);
    if (query != std::string::npos)
        request.query = target.substr(query + 1);
    static const std::pair<HTTP_HEADER_ID, const char*> kKnown[] = {
        {HttpHeaderHost, "host"}, {HttpHeaderCookie, "cookie"}, {HttpHeaderContentType, "content-type"}};
    for (const auto& [id, name] : kKnown) {
        const HTTP_KNOWN_HEADER& header = wire.Headers.KnownHeaders[id];
        if (header.pRawValue)
            request.headers.emplace(name, std::string(header.pRawValue, header.RawValueLength));
    }
    for (USHORT i = 0; i < wire.Headers.UnknownHeaderCount; ++i) {
        const HTTP_UNKNOWN_HEADER& header = wire.Headers.pUnknownHeaders[i];
        request.headers.emplace(Lower(header.pName, header.NameLength),
                                std::string(header.pRawValue, header.RawValueLength));
    }
    return request;
}

class HttpApiTransport : public UiTransport {
public:
    HttpApiTransport() {
        WSADATA data;
        m_winsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        OpenQueue(std::chrono::steady_clock::now() + kServiceDeadline);
    }
    ~HttpApiTransport() override {
        if (m_queue)
            CloseHandle(m_queue);
        if (m_api)
            HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
        if (m_winsock)
            WSACleanup();
    }

    // Port 0: the system names a free port, which may be taken before the
    // driver binds it, so a few are tried.
    int Bind(int port) override {
        if (!m_queue)
            return -1;
        for (int attempt = 0; attempt < (port ? 1 : 20); ++attempt) {
            const int tried = port ? port : FreePort();
            if (tried <= 0) {
                m_failure = m_winsock ? "no free port was found" : "the network layer (winsock) did not start";
                continue;
            }
            const ULONG result = Listen(tried);
            if (result == NO_ERROR)
                return tried;
            m_failure = ListenFailure(tried, result);
        }
        return -1;
    }

    std::string BindFailure() const override { return m_failure; }

    void Serve(const UiHandlers& handlers) override {
        std::vector<std::thread> threads;
        m_running = 4;
        for (int i = 0; i < 4; ++i)
            threads.emplace_back([this, &handlers] {
                while (!m_stopped && AnswerOne(handlers)) {
                }
                --m_running;
            });
        // A thread may enter its wait just after a cancel: cancel until all left.
        while (m_running > 0) {
            if (m_stopped)
                CancelIoEx(m_queue, nullptr);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        for (std::thread& thread : threads)
            thread.join();
    }

    void Stop() override { m_stopped = true; }

private:
    static int FreePort() {
        const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (probe == INVALID_SOCKET)
            return -1;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(address);
        int port = -1;
        if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        closesocket(probe);
        return port;
    }

    // One name only: the driver routes a request by its Host, and Wine's
    // lets a second name on the same port take the first one's requests.
    ULONG Listen(int port) {
        const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + L"/";
        return HttpAddUrl(m_queue, url.c_str(), nullptr);
    }

    static std::string ListenFailure(int port, ULONG code) {
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_ALREADY_EXISTS)
            return "port " + std::to_string(port) + " is in use (" + ErrorText(code) + ")";
        if (code == ERROR_ACCESS_DENIED)
            return "this account may not listen there (" + ErrorText(code) +
                   "); run as an administrator, or have one reserve the address (netsh http add urlacl)";
        return "the HTTP service refused the address (" + ErrorText(code) + ")";
    }

    void OpenQueue(std::chrono::steady_clock::time_point deadline) {
        const ULONG started = Retried(
            deadline, [] { return HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_SERVER, nullptr); },
            [](ULONG code) { return code == ERROR_SERVICE_DATABASE_LOCKED || code == ERROR_SERVICE_REQUEST_TIMEOUT; });
        if (started != NO_ERROR) {
            m_failure = "the HTTP service did not start (" + ErrorText(started) + ")";
            return;
        }
        m_api = true;
        // The driver's device not made yet: its name is not found.
        const ULONG opened = Retried(
            deadline, [this] { return HttpCreateHttpHandle(&m_queue, 0); },
            [](ULONG code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; });
        if (opened != NO_ERROR) {
            m_queue = nullptr;
            m_failure = "the HTTP service gave no request queue (" + ErrorText(opened) + ")";
        }
    }

    // Receives and answers one request; false once the queue is closed.
    bool AnswerOne(const UiHandlers& handlers) {
        std::vector<char> buffer(16 * 1024);
        HTTP_REQUEST_ID id = HTTP_NULL_ID;
        ULONG received = 0;
        ULONG result;
        for (;;) {
            auto* wire = reinterpret_cast<HTTP_REQUEST*>(buffer.data());
            result = HttpReceiveHttpRequest(m_queue, id, 0, wire, static_cast<ULONG>(buffer.size()),
                                            &received, nullptr);
            if (result != ERROR_MORE_DATA)
                break;
            id = wire->RequestId;
            buffer.resize(received);
        }
        if (result != NO_ERROR)
            return !m_stopped && result != ERROR_OPERATION_ABORTED && result != ERROR_INVALID_HANDLE;
        const auto& wire = *reinterpret_cast<const HTTP_REQUEST*>(buffer.data());
        Send(wire.RequestId, Answer(handlers, wire));
        return true;
    }

    UiResponse Answer(const UiHandlers& handlers, const HTTP_REQUEST& wire) {
        UiRequest request = FromWire(wire);
        UiResponse response;
        if (!FromLoopback(wire))
            return UiResponse{403, {{"Content-Type", "text/plain"}}, "loopback only"};
        if (handlers.guard(request, &response))
            return response;
        if (!ReadBody(wire.RequestId, &request.body))
            return UiResponse{413, {{"Content-Type", "text/plain"}}, "the request is too large"};
        return handlers.route(request);
    }

    bool ReadBody(HTTP_REQUEST_ID id, std::string* body) {
        char chunk[16 * 1024];
        for (;;) {
            ULONG got = 0;
            const ULONG result =
                HttpReceiveRequestEntityBody(m_queue, id, 0, chunk, sizeof(chunk), &got, nullptr);
            if (result != NO_ERROR && result != ERROR_HANDLE_EOF)
                return false;
            body->append(chunk, got);
            if (body->size() > kUiMaxBody)
                return false;
            if (result == ERROR_HANDLE_EOF)
                return true;
        }
    }

    void Send(HTTP_REQUEST_ID id, const UiResponse& response) {
        static const std::pair<const char*, HTTP_HEADER_ID> kKnown[] = {
            {"Content-Type", HttpHeaderContentType}, {"Location", HttpHeaderLocation},
            {"Set-Cookie", HttpHeaderSetCookie}, {"Cache-Control", HttpHeaderCacheControl}};
        HTTP_RESPONSE wire{};
        wire.StatusCode = static_cast<USHORT>(response.status);
        wire.pReason = "-";
        wire.ReasonLength = 1;
        std::vector<HTTP_UNKNOWN_HEADER> others;
        for (const auto& [name, value] : response.headers) {
            const auto known = std::find_if(std::begin(kKnown), std::end(kKnown),
                                            [&name](const auto& k) { return name == k.first; });
            if (known != std::end(kKnown)) {
                wire.Headers.KnownHeaders[known->second].pRawValue = value.c_str();
                wire.Headers.KnownHeaders[known->second].RawValueLength = static_cast<USHORT>(value.size());
            } else {
                others.push_back({static_cast<USHORT>(name.size()), static_cast<USHORT>(value.size()),
                                  name.c_str(), value.c_str()});
            }
        }
        wire.Headers.UnknownHeaderCount = static_cast<USHORT>(others.size());
        wire.Headers.pUnknownHeaders = others.data();
        HTTP_DATA_CHUNK body{};
        body.DataChunkType = HttpDataChunkFromMemory;
        body.FromMemory.pBuffer = const_cast<char*>(response.body.data());
        body.FromMemory.BufferLength = static_cast<ULONG>(response.body.size());
        wire.EntityChunkCount = response.body.empty() ? 0 : 1;
        wire.pEntityChunks = &body;
        ULONG sent = 0;
        HttpSendHttpResponse(m_queue, id, 0, &wire, nullptr, &sent, nullptr, 0, nullptr, nullptr);
    }

    bool m_winsock = false;
    bool m_api = false;
    HANDLE m_queue = nullptr;
    std::string m_failure;
    std::atomic<bool> m_stopped{false};
    std::atomic<int> m_running{0};
};

} // namespace

std::unique_ptr<UiTransport> MakeUiTransport() { return std::make_unique<HttpApiTransport>(); }

} // namespace host
