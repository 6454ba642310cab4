// The page's transport on Windows: the system's HTTP Server API (httpapi).
//
// Its queue is shared by a few threads, so the page's progress polls are
// answered while a scan's request waits for the engine. The API listens for
// its own driver; once stopped, the waiting receives are cancelled.
#include "host/ui_http.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <http.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>
#include <vector>

namespace host {
namespace {

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
        m_api = HttpInitialize(HTTPAPI_VERSION_1, HTTP_INITIALIZE_SERVER, nullptr) == NO_ERROR;
        if (m_api && HttpCreateHttpHandle(&m_queue, 0) != NO_ERROR)
            m_queue = nullptr;
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
            if (tried > 0 && Listen(tried))
                return tried;
        }
        return -1;
    }

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
    bool Listen(int port) {
        const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + L"/";
        return HttpAddUrl(m_queue, url.c_str(), nullptr) == NO_ERROR;
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
    std::atomic<bool> m_stopped{false};
    std::atomic<int> m_running{0};
};

} // namespace

std::unique_ptr<UiTransport> MakeUiTransport() { return std::make_unique<HttpApiTransport>(); }

} // namespace host
