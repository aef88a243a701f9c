#include "tests/publisher/http_get.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <strings.h>

namespace orvantis::test {

std::string Answer::Header(const std::string& name) const {
    size_t at = 0;
    while ((at = headers.find("\r\n", at)) != std::string::npos) {
        at += 2;
        size_t colon = headers.find(':', at), end = headers.find("\r\n", at);
        if (colon == std::string::npos || (end != std::string::npos && colon > end)) continue;
        if (colon - at == name.size() && strncasecmp(headers.c_str() + at, name.c_str(), name.size()) == 0) {
            size_t v = colon + 1;
            while (v < headers.size() && headers[v] == ' ') ++v;
            return headers.substr(v, (end == std::string::npos ? headers.size() : end) - v);
        }
    }
    return "";
}

Answer HttpGet(int port, const std::string& path) {
    Answer a;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, (sockaddr*)&addr, sizeof addr) != 0) {
        close(fd);
        return a;
    }
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: OrvantisKesh-Launcher/1\r\n"
                          "Connection: close\r\n\r\n";
    send(fd, request.data(), request.size(), 0);
    std::string raw;
    char buffer[65536];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) raw.append(buffer, size_t(n));
    close(fd);
    size_t split = raw.find("\r\n\r\n");
    if (split == std::string::npos || raw.compare(0, 9, "HTTP/1.1 ") != 0) return a;
    a.status = atoi(raw.c_str() + 9);
    a.headers = raw.substr(0, split + 2);
    a.body = raw.substr(split + 4);
    return a;
}

}  // namespace orvantis::test
