// A small HTTP/1.1 server on 127.0.0.1 for tests, with faults on demand per path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvantis::test {

// One scripted answer. Defaults give a plain 200 with the body and a Content-Length.
struct Reply {
    int status = 200;
    std::string body;
    std::optional<std::string> signature;  // "x-orvantis-signature" value, sent verbatim when set
    size_t cutAfter = static_cast<size_t>(-1);  // send this many body bytes, then close the connection
    bool dropBeforeStatus = false;               // read the request, then close without answering
    uint32_t delayMs = 0;                        // wait before the status line
    uint32_t chunkDelayMs = 0;                   // wait between body chunks
    size_t chunkSize = 65536;
    int gate = 0;  // when not 0: wait before the status line until Open(gate), however long
    // A server that never quite stops: dripBytes at a time, every dripEveryMs (0: no drip),
    // through the body, or through the head (status line included) when dripHead is set.
    size_t dripBytes = 1;
    uint32_t dripEveryMs = 0;
    bool dripHead = false;
    size_t stallAfter = static_cast<size_t>(-1);  // send this many body bytes, then nothing, keeping the connection open
    size_t floodLines = 0;                        // short header lines added to the head ("X<n>: 1")
};

// A plain answer with this status and body (aggregate braces would warn about the other fields).
inline Reply Fixed(int status, std::string body = {}) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

struct Request {
    std::string path;
    uint64_t tick = 0;  // GetTickCount64() when the request line arrived
    std::string head;   // the request line and headers as received, ending with the blank line
};

struct OriginState;

// Listens on 127.0.0.1 with an ephemeral port from construction until Stop or destruction.
// Unknown paths get 404. Every request is recorded.
struct Origin {
    OriginState* state = nullptr;
    uint16_t port = 0;

    Origin();
    ~Origin();
    Origin(const Origin&) = delete;
    Origin& operator=(const Origin&) = delete;

    // A fixed 200 answer for path.
    void Serve(const std::string& path, const std::string& body,
               std::optional<std::string> signature = std::nullopt);
    // Answers for path in order, one per request; the last one repeats.
    void Script(const std::string& path, std::vector<Reply> replies);
    // Serves /x/y from folder\x\y when no answer is set for the path.
    void ServeFolder(const std::wstring& folder);
    // Publishes a signed release: the manifest at /update/manifest.json with its signature
    // header (dev key) and each object at /update/files/<sha256>.
    void Publish(const std::string& manifest, const std::vector<std::string>& objects);

    std::vector<Request> Requests() const;
    size_t Count(const std::string& path) const;
    // Connections accepted so far (a client that keeps its connection alive opens few).
    size_t Connections() const;
    // Lets every answer held at gate go, those waiting now and those to come.
    void Open(int gate);
    void Stop();
};

// "127.0.0.1:" + port, for "--server" and "--files".
std::wstring Address(const Origin& origin);

}  // namespace orvantis::test
