#include "tests/support/origin.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "launcher/win.h"
#include "tests/support/signing.h"
#include "tests/support/temp_folder.h"

namespace orvantis::test {

struct OriginState {
    SOCKET listener = INVALID_SOCKET;
    std::thread acceptor;
    std::vector<std::thread> connections;

    mutable std::mutex lock;
    std::condition_variable wake;  // cut delays short when the origin stops
    std::atomic<bool> stopping{false};

    struct Script {
        std::vector<std::shared_ptr<const Reply>> replies;
        size_t next = 0;
    };
    std::map<std::string, Script> scripts;
    std::wstring folder;
    std::vector<Request> requests;
    size_t accepted = 0;
    std::set<int> open;  // gates opened by the test
};

namespace {

// Every socket wait is bounded so that a connection thread notices Stop quickly,
// even when the client keeps an idle keep-alive connection open.
constexpr long kPollMs = 20;

bool WaitSocket(OriginState& s, SOCKET sock, bool forWrite) {
    while (!s.stopping) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(sock, &set);
        timeval tv{0, kPollMs * 1000};
        int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
        if (n < 0) return false;
        if (n > 0) return true;
    }
    return false;
}

bool SendAll(OriginState& s, SOCKET sock, const char* data, size_t size) {
    while (size > 0) {
        if (!WaitSocket(s, sock, true)) return false;
        int n = send(sock, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// False when the origin stopped during the wait.
bool Pause(OriginState& s, uint32_t ms) {
    if (ms == 0) return !s.stopping;
    std::unique_lock<std::mutex> guard(s.lock);
    return !s.wake.wait_for(guard, std::chrono::milliseconds(ms), [&] { return s.stopping.load(); });
}

// False when the origin stopped before the gate opened.
bool PassGate(OriginState& s, int gate) {
    if (gate == 0) return !s.stopping;
    std::unique_lock<std::mutex> guard(s.lock);
    s.wake.wait(guard, [&] { return s.stopping.load() || s.open.count(gate) > 0; });
    return !s.stopping;
}

enum class Head { kRead, kGone, kBad };

// Reads up to the blank line that ends a request head. Anything that cannot be an
// HTTP request (a TLS hello, say) is Bad: answering it at once lets the client fail
// instead of waiting for a reply that would never come.
Head ReadHead(OriginState& s, SOCKET sock, std::string& pending, std::string& head) {
    for (;;) {
        if (!pending.empty() && (pending[0] < 'A' || pending[0] > 'Z')) return Head::kBad;
        size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            return Head::kRead;
        }
        if (pending.size() > 65536) return Head::kBad;
        if (!WaitSocket(s, sock, false)) return Head::kGone;
        char buffer[4096];
        int n = recv(sock, buffer, sizeof(buffer), 0);
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) continue;
        if (n <= 0) return Head::kGone;
        pending.append(buffer, static_cast<size_t>(n));
    }
}

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

// Maps /a/b onto folder\a\b; refuses anything that could climb out of the folder.
std::shared_ptr<const Reply> FromFolder(const std::wstring& folder, const std::string& path) {
    if (folder.empty() || path.size() < 2 || path[0] != '/' || path.find("..") != std::string::npos ||
        path.find('\\') != std::string::npos || path.find(':') != std::string::npos)
        return nullptr;
    std::wstring file = folder;
    if (file.back() != L'\\') file += L'\\';
    for (char c : path.substr(1)) file += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    bool ok = false;
    auto reply = std::make_shared<Reply>();
    reply->body = ReadFileBytes(file, &ok);
    return ok ? reply : nullptr;
}

std::shared_ptr<const Reply> Choose(OriginState& s, const std::string& path) {
    std::wstring folder;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        auto it = s.scripts.find(path);
        if (it != s.scripts.end() && !it->second.replies.empty()) {
            auto& script = it->second;
            auto reply = script.replies[std::min(script.next, script.replies.size() - 1)];
            ++script.next;
            return reply;
        }
        folder = s.folder;
    }
    if (auto reply = FromFolder(folder, path)) return reply;
    auto missing = std::make_shared<Reply>();
    missing->status = 404;
    return missing;
}

// Sends data in pieces of chunk bytes with a pause before each piece but the first.
bool SendPaced(OriginState& s, SOCKET sock, const char* data, size_t size, size_t chunk, uint32_t pauseMs) {
    chunk = std::max<size_t>(chunk, 1);
    for (size_t sent = 0; sent < size; sent += chunk) {
        if (sent > 0 && !Pause(s, pauseMs)) return false;
        if (!SendAll(s, sock, data + sent, std::min(chunk, size - sent))) return false;
    }
    return true;
}

// False when the connection must close after this answer.
bool Answer(OriginState& s, SOCKET sock, const Reply& reply) {
    if (reply.dropBeforeStatus) return false;
    if (!PassGate(s, reply.gate)) return false;
    if (!Pause(s, reply.delayMs)) return false;
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    if (reply.signature) head += "x-orvantis-signature: " + *reply.signature + "\r\n";
    for (size_t i = 0; i < reply.floodLines; ++i) {
        head += 'X';
        head += std::to_string(i);
        head += ": 1\r\n";
    }
    head += "\r\n";
    const bool drip = reply.dripEveryMs != 0;
    if (drip && reply.dripHead) {
        if (!SendPaced(s, sock, head.data(), head.size(), reply.dripBytes, reply.dripEveryMs)) return false;
    } else if (!SendAll(s, sock, head.data(), head.size())) {
        return false;
    }
    size_t total = std::min({reply.body.size(), reply.cutAfter, reply.stallAfter});
    bool sent = drip && !reply.dripHead
                    ? SendPaced(s, sock, reply.body.data(), total, reply.dripBytes, reply.dripEveryMs)
                    : SendPaced(s, sock, reply.body.data(), total, reply.chunkSize, reply.chunkDelayMs);
    if (!sent) return false;
    if (reply.stallAfter < reply.body.size()) {
        // Neither more bytes nor a close: only the client can end this.
        while (Pause(s, 1000)) {
        }
        return false;
    }
    return total == reply.body.size();
}

void Serve(OriginState* s, SOCKET sock) {
    std::string pending, head;
    Head got;
    while ((got = ReadHead(*s, sock, pending, head)) == Head::kRead) {
        // Request line: GET <path> HTTP/1.1
        size_t first = head.find(' ');
        size_t second = first == std::string::npos ? std::string::npos : head.find(' ', first + 1);
        std::string path = second == std::string::npos ? std::string() : head.substr(first + 1, second - first - 1);
        {
            std::lock_guard<std::mutex> guard(s->lock);
            s->requests.push_back(Request{path, GetTickCount64(), head});
        }
        if (!Answer(*s, sock, *Choose(*s, path))) break;
    }
    if (got == Head::kBad) {
        static const char kBadRequest[] = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        SendAll(*s, sock, kBadRequest, sizeof(kBadRequest) - 1);
    }
    // A graceful close, so that the client reads everything sent before the end.
    shutdown(sock, SD_SEND);
    closesocket(sock);
}

void Accept(OriginState* s) {
    while (WaitSocket(*s, s->listener, false)) {
        SOCKET sock = accept(s->listener, nullptr, nullptr);
        if (sock == INVALID_SOCKET) continue;
        u_long nonBlocking = 1;
        ioctlsocket(sock, FIONBIO, &nonBlocking);
        std::lock_guard<std::mutex> guard(s->lock);
        ++s->accepted;
        s->connections.emplace_back(Serve, s, sock);
    }
}

}  // namespace

Origin::Origin() : state(new OriginState) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    state->listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int size = sizeof(address);
    if (state->listener == INVALID_SOCKET ||
        bind(state->listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(state->listener, SOMAXCONN) != 0 ||
        getsockname(state->listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ADD_FAILURE() << "the test origin could not listen on 127.0.0.1";
        return;
    }
    port = ntohs(address.sin_port);
    state->acceptor = std::thread(Accept, state);
}

Origin::~Origin() {
    Stop();
    delete state;
    WSACleanup();
}

void Origin::Serve(const std::string& path, const std::string& body, std::optional<std::string> signature) {
    Reply reply;
    reply.body = body;
    reply.signature = std::move(signature);
    Script(path, {std::move(reply)});
}

void Origin::Script(const std::string& path, std::vector<Reply> replies) {
    OriginState::Script script;
    for (auto& reply : replies) script.replies.push_back(std::make_shared<const Reply>(std::move(reply)));
    std::lock_guard<std::mutex> guard(state->lock);
    state->scripts[path] = std::move(script);
}

void Origin::ServeFolder(const std::wstring& folder) {
    std::lock_guard<std::mutex> guard(state->lock);
    state->folder = folder;
}

void Origin::Publish(const std::string& manifest, const std::vector<std::string>& objects) {
    Serve("/update/manifest.json", manifest, SignHex(manifest));
    for (const auto& object : objects) Serve("/update/files/" + HexSha256(object), object);
}

std::vector<Request> Origin::Requests() const {
    std::lock_guard<std::mutex> guard(state->lock);
    return state->requests;
}

size_t Origin::Count(const std::string& path) const {
    std::lock_guard<std::mutex> guard(state->lock);
    return static_cast<size_t>(std::count_if(state->requests.begin(), state->requests.end(),
                                             [&](const Request& r) { return r.path == path; }));
}

size_t Origin::Connections() const {
    std::lock_guard<std::mutex> guard(state->lock);
    return state->accepted;
}

void Origin::Open(int gate) {
    {
        std::lock_guard<std::mutex> guard(state->lock);
        state->open.insert(gate);
    }
    state->wake.notify_all();
}

// Connection threads poll the stop flag, so the joins end even when clients keep
// their connections open or an answer is in the middle of a long delay.
void Origin::Stop() {
    {
        std::lock_guard<std::mutex> guard(state->lock);
        if (state->stopping) return;
        state->stopping = true;
    }
    state->wake.notify_all();
    if (state->acceptor.joinable()) state->acceptor.join();
    for (auto& connection : state->connections) connection.join();
    state->connections.clear();
    if (state->listener != INVALID_SOCKET) closesocket(state->listener);
    state->listener = INVALID_SOCKET;
}

std::wstring Address(const Origin& origin) { return L"127.0.0.1:" + std::to_wstring(origin.port); }

}  // namespace orvantis::test
