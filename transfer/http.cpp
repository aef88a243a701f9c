#include "transfer/http.h"

#include <vector>

#include "launcher/constants.h"
#include "launcher/owned.h"
#include "launcher/text.h"

namespace orvantis {
namespace {

constexpr DWORD kResolveTimeoutMs = 15000;
constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;
constexpr DWORD kBodyBufferSize = 65536;
// Room for 255 characters and the terminator; a longer header fails the query.
constexpr size_t kSignatureChars = 256;

using OwnedInternet = Owned<HINTERNET, CloseInternet>;

}  // namespace

Http::Http(const Endpoint& endpoint) : secure(endpoint.secure) {
    session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return;
    WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
    // The wait for the response head has a timeout of its own, which some WinHTTP
    // implementations leave unbounded: a host that accepts the connection and never
    // answers would then hold the update (or a worker, and the join) forever.
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
    OwnedInternet request(WinHttpOpenRequest(connect, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
    if (!request) return 0;
    if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) return 0;
    if (!WinHttpReceiveResponse(request.h, nullptr)) return 0;

    // A status that cannot be read leaves 0: no usable response.
    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);

    if (signatureOut) {
        wchar_t value[kSignatureChars] = {};
        DWORD bytes = sizeof(value);
        std::wstring name = Wide(kSignatureHeader);
        if (WinHttpQueryHeaders(request.h, WINHTTP_QUERY_CUSTOM, name.c_str(), value, &bytes, WINHTTP_NO_HEADER_INDEX))
            *signatureOut = Narrow(value);
    }

    // The body only passes through: callers stream it to disk or check it as it comes.
    std::vector<uint8_t> buffer(kBodyBufferSize);
    int32_t result = static_cast<int32_t>(status);
    if (status == 200) {
        for (;;) {
            DWORD got = 0;
            if (!WinHttpReadData(request.h, buffer.data(), kBodyBufferSize, &got) || got == 0) break;
            if (!sink(buffer.data(), got)) {
                result = -1;
                break;
            }
        }
    }
    return result;
}

}  // namespace orvantis
