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

struct Http {
    bool secure = false;
    HINTERNET session = nullptr;
    HINTERNET connect = nullptr;

    explicit Http(const Endpoint& endpoint);
    ~Http();
    Http(const Http&) = delete;
    Http& operator=(const Http&) = delete;

    // The HTTP status; 0 when no usable response came; -1 when the sink refused.
    // signatureOut (may be null) receives the signature header when the response has one.
    int32_t Get(const std::wstring& path, const Sink& sink, std::string* signatureOut);
};

}  // namespace orvantis
