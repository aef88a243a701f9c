#include "transfer/http.h"

#include <algorithm>
#include <vector>

#include "launcher/constants.h"
#include "launcher/owned.h"
#include "launcher/text.h"

namespace orvantis {

TransferLimits gTransferLimits;

namespace {

constexpr DWORD kResolveTimeoutMs = 15000;
constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;
// WinHTTP's own timeouts end a request that cannot be sent; this only makes sure that the
// wait for it ends even where they are not honoured.
constexpr uint64_t kSendDeadlineMs = kResolveTimeoutMs + kConnectTimeoutMs + kSendTimeoutMs;
constexpr DWORD kBodyBufferSize = 65536;
constexpr DWORD kFastStream = 8192;
// Room for 255 characters and the terminator; a longer header fails the query.
constexpr size_t kSignatureChars = 256;

// One request's meeting point with WinHTTP's status callback. The session is asynchronous so
// that the requesting thread waits on its own deadlines and can give a request up: a blocked
// synchronous call is not reliably ended by closing its handle from elsewhere. Once the
// callback is set, the request handle owns this record and frees it on its last
// notification, since a read given up may still complete into the buffer after the close.
struct Call {
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD completed = 0;  // the notification that ended the last operation
    DWORD bytes = 0;      // bytes available, or bytes read
    DWORD error = 0;      // with WINHTTP_CALLBACK_STATUS_REQUEST_ERROR
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kBodyBufferSize);

    ~Call() {
        if (done) CloseHandle(done);
    }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
    Call* call = reinterpret_cast<Call*>(context);
    if (!call) return;
    switch (status) {
        case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
            delete call;
            return;
        case WINHTTP_CALLBACK_STATUS_REQUEST_SENT:
        case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
        case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
            call->bytes = 0;
            break;
        case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
            call->bytes = info ? *static_cast<DWORD*>(info) : 0;
            break;
        case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
            call->bytes = length;
            break;
        case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
            call->error = info ? static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError : 0;
            break;
        default:
            return;
    }
    call->completed = status;
    SetEvent(call->done);
}

enum class Ended { kAsExpected, kOtherwise, kNotInTime };

// Waits until the pending operation ends, or until deadline (a tick count). Only after an
// end does the record hold anything of it: a late notification may still be writing it.
Ended Await(Call& call, uint64_t deadline, DWORD expected) {
    uint64_t now = GetTickCount64();
    DWORD wait = deadline > now ? static_cast<DWORD>(std::min<uint64_t>(deadline - now, INFINITE - 1)) : 0;
    if (WaitForSingleObject(call.done, wait) != WAIT_OBJECT_0) return Ended::kNotInTime;
    return call.completed == expected ? Ended::kAsExpected : Ended::kOtherwise;
}

// The head as WinHTTP kept it, in characters; what the server sent is about as long.
uint64_t HeadSize(HINTERNET request) {
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &bytes, WINHTTP_NO_HEADER_INDEX);
    return bytes / sizeof(wchar_t);
}

// A read that failed on its own ended the body (the server closed, say): what arrived stands,
// and the caller checks it. A body that stopped moving, by our clock or WinHTTP's, is no response.
int32_t BodyEnd(const Call& call, Ended ended) {
    if (ended == Ended::kNotInTime || call.error == ERROR_WINHTTP_TIMEOUT) return 0;
    return 200;
}

// Everything from sending the request to the end of the body, on a request whose
// callback is set. The caller closes the request afterwards, whatever this returns.
int32_t Exchange(HINTERNET request, Call& call, const Sink& sink, std::string* signatureOut) {
    if (!call.done) return 0;
    const TransferLimits limits = gTransferLimits;
    // Some WinHTTPs take the whole response head in before they report the send complete; the
    // head's time runs from the moment the request is out, which every one reports first.
    uint64_t deadline = GetTickCount64() + kSendDeadlineMs;
    uint64_t headDeadline = 0;
    if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            reinterpret_cast<DWORD_PTR>(&call)))
        return 0;
    for (;;) {
        Ended ended = Await(call, deadline, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE);
        if (ended == Ended::kAsExpected) break;
        if (ended == Ended::kNotInTime || call.completed != WINHTTP_CALLBACK_STATUS_REQUEST_SENT) return 0;
        deadline = headDeadline = GetTickCount64() + limits.headMs;
    }
    if (headDeadline == 0) headDeadline = GetTickCount64() + limits.headMs;

    // A head that arrives a byte at a time, or one so long that taking it in is the attack,
    // is no response.
    if (!WinHttpReceiveResponse(request, nullptr)) return 0;
    if (Await(call, headDeadline, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE) != Ended::kAsExpected) return 0;
    if (HeadSize(request) > limits.headBytes + 1) return 0;

    // A status that cannot be read leaves 0: no usable response.
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);

    if (signatureOut) {
        wchar_t value[kSignatureChars] = {};
        DWORD bytes = sizeof(value);
        std::wstring name = Wide(kSignatureHeader);
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CUSTOM, name.c_str(), value, &bytes, WINHTTP_NO_HEADER_INDEX))
            *signatureOut = Narrow(value);
    }
    if (status != 200) return static_cast<int32_t>(status);

    // The body only passes through: callers stream it to disk or check it as it comes. It must
    // bring slowBytes in every slowMs; a body that stops short of that is given up as a
    // whole, so that the manifest is never judged on a part and an object is tried again.
    uint64_t windowStart = GetTickCount64();
    uint64_t windowBytes = 0;
    for (;;) {
        const uint64_t deadline = windowStart + limits.slowMs;
        if (!WinHttpQueryDataAvailable(request, nullptr)) return 200;
        Ended ended = Await(call, deadline, WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE);
        if (ended != Ended::kAsExpected) return BodyEnd(call, ended);
        if (call.bytes == 0) return 200;
        // A full platform buffer waiting means a fast stream: a whole buffer is asked for, which
        // some WinHTTPs fill before they answer, so chunks stay large. A trickle is read as it
        // comes, so that a slow line shows every byte it brings.
        DWORD want = call.bytes >= kFastStream ? kBodyBufferSize : std::min<DWORD>(call.bytes, kBodyBufferSize);
        if (!WinHttpReadData(request, call.buffer.data(), want, nullptr)) return 200;
        ended = Await(call, deadline, WINHTTP_CALLBACK_STATUS_READ_COMPLETE);
        if (ended != Ended::kAsExpected) return BodyEnd(call, ended);
        if (call.bytes == 0) return 200;
        if (!sink(call.buffer.data(), call.bytes)) return -1;
        windowBytes += call.bytes;
        if (windowBytes >= limits.slowBytes) {
            windowStart = GetTickCount64();
            windowBytes = 0;
        }
    }
}

}  // namespace

Http::Http(const Endpoint& endpoint) : secure(endpoint.secure) {
    session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
    if (!session) return;
    WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
    // The wait for the response head has a timeout of its own, which some WinHTTP
    // implementations leave unbounded.
    DWORD headTimeout = kReceiveTimeoutMs;
    WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headTimeout, sizeof(headTimeout));
    // Only a wish: where the option is unknown the session simply keeps HTTP/1.1.
    DWORD protocols = WINHTTP_PROTOCOL_FLAG_HTTP2;
    WinHttpSetOption(session, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &protocols, sizeof(protocols));
    connect = WinHttpConnect(session, endpoint.host.c_str(), endpoint.port, 0);
}

// The connection goes before the session it belongs to.
Http::~Http() {
    if (connect) WinHttpCloseHandle(connect);
    if (session) WinHttpCloseHandle(session);
}

int32_t Http::Get(const std::wstring& path, const Sink& sink, std::string* signatureOut) {
    if (!connect) return 0;
    HINTERNET request = WinHttpOpenRequest(connect, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request) return 0;
    // Where the platform enforces it, a longer head fails at once instead of being taken in.
    DWORD headBytes = gTransferLimits.headBytes;
    WinHttpSetOption(request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headBytes, sizeof(headBytes));

    Call* call = new Call;
    DWORD_PTR context = reinterpret_cast<DWORD_PTR>(call);
    if (!WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context)) ||
        WinHttpSetStatusCallback(request, OnStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_STATUS_REQUEST_SENT |
                                     WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING,
                                 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
        WinHttpCloseHandle(request);
        delete call;
        return 0;
    }
    int32_t result = Exchange(request, *call, sink, signatureOut);
    // Ends whatever is still pending; the record goes with the handle's last notification.
    WinHttpCloseHandle(request);
    return result;
}

}  // namespace orvantis
