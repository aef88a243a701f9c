// A tiny HTTP/1.1 client for the serve tests: one GET, connection closed, raw answer kept.
#pragma once

#include <string>

namespace orvantis::test {

struct Answer {
    int status = 0;        // 0: no answer
    std::string headers;   // the header block as received, lower-cased names kept as sent
    std::string body;
    std::string Header(const std::string& name) const;  // case-insensitive; "" when absent
};

Answer HttpGet(int port, const std::string& path);

}  // namespace orvantis::test
