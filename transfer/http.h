// One WinHTTP session and connection to an endpoint, used by one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "launcher/globals.h"
#include <winhttp.h>

namespace orvantis {

// Called once per body chunk, in order; returning false aborts the transfer.
using Sink = std::function<bool(const uint8_t* data, uint32_t count)>;

inline void CloseInternet(HINTERNET h) { WinHttpCloseHandle(h); }

// What a response must achieve to be waited for. A slow but working line meets them with
// room to spare; a server that drips, stalls or floods does not, and its request ends
// as one that got no response. The launcher keeps these values; tests shorten them.
struct TransferLimits {
    uint32_t headMs = 30000;     // the whole response head arrives within this time...
    uint32_t headBytes = 65536;  // ...and is no larger than this
    uint32_t slowMs = 30000;     // a body that brings fewer than slowBytes within this time is given up
    uint32_t slowBytes = 1024;
};
extern TransferLimits gTransferLimits;

struct Http {
    bool secure = false;
    HINTERNET session = nullptr;
    HINTERNET connect = nullptr;

    explicit Http(const Endpoint& endpoint);
    ~Http();
    Http(const Http&) = delete;
    Http& operator=(const Http&) = delete;

    // The HTTP status; 0 when no usable response came (also when the response stopped making
    // progress by gTransferLimits); -1 when the sink refused. A body cut off by the server
    // still gives 200 with what arrived. signatureOut (may be null) receives the signature
    // header when the response has one.
    int32_t Get(const std::wstring& path, const Sink& sink, std::string* signatureOut);
};

}  // namespace orvantis
