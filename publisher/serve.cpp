#include "publisher/serve.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include "publisher/published.h"

namespace orvantis {
namespace {

// The launcher keeps two connections per worker open (files host and site host) with eight
// workers; the library's default of eight threads would leave some of them waiting on idle ones.
constexpr size_t kThreads = 32;

std::mutex gLogLock;

struct SharedThrottle {
    std::mutex lock;
    Throttle throttle;
};

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Pace(SharedThrottle* shared, size_t bytes) {
    if (!shared) return;
    double wait;
    {
        std::lock_guard<std::mutex> hold(shared->lock);
        wait = ThrottleWait(shared->throttle, SteadySeconds(), bytes);
    }
    if (wait > 0) std::this_thread::sleep_for(std::chrono::duration<double>(wait));
}

bool IsSignature(const std::string& text) {
    if (text.size() != 128) return false;
    for (char c : text)
        if (!isxdigit((unsigned char)c)) return false;
    return true;
}

// Both files come from one release, even while a build switches to the next.
void Manifest(const std::string& origin, const httplib::Request&, httplib::Response& res) {
    PublishedPair pair;
    if (!ReadPublished(origin, pair)) {
        res.status = 404;
        return;
    }
    // A malformed .sig is left out rather than sent: the launcher then reports a missing signature.
    if (pair.hasSig && IsSignature(pair.sig)) res.set_header("x-orvantis-signature", pair.sig);
    res.set_header("Cache-Control", "no-cache");
    res.set_content(pair.body, "application/json");
}

void Object(const std::string& origin, const std::shared_ptr<SharedThrottle>& throttle, const httplib::Request& req,
            httplib::Response& res) {
    std::string file = origin + "/update/files/" + req.matches[1].str();
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) close(fd);
        res.status = 404;
        return;
    }
    auto owned = std::shared_ptr<int>(new int(fd), [](int* p) {
        close(*p);
        delete p;
    });
    res.set_header("Cache-Control", "public, max-age=31536000, immutable");
    res.set_content_provider(
        size_t(st.st_size), "application/octet-stream",
        [owned, throttle](size_t offset, size_t length, httplib::DataSink& sink) {
            char buffer[65536];
            size_t want = length < sizeof buffer ? length : sizeof buffer;
            ssize_t n = pread(*owned, buffer, want, off_t(offset));
            if (n <= 0) return false;
            Pace(throttle.get(), size_t(n));
            return sink.write(buffer, size_t(n));
        });
}

}  // namespace

double ThrottleWait(Throttle& throttle, double now, size_t bytes) {
    if (throttle.bytesPerSecond <= 0) return 0;
    // An idle spell earns no credit: a budget saved up would let the next burst run at full speed.
    double start = std::max(throttle.next, now);
    throttle.next = start + double(bytes) / double(throttle.bytesPerSecond);
    return start - now;
}

void ServeRoutes(httplib::Server& server, const std::string& origin, FILE* log, long long bytesPerSecond) {
    std::shared_ptr<SharedThrottle> throttle;
    if (bytesPerSecond > 0) {
        throttle = std::make_shared<SharedThrottle>();
        throttle->throttle.bytesPerSecond = bytesPerSecond;
    }
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.Get("/update/manifest.json",
               [origin](const httplib::Request& req, httplib::Response& res) { Manifest(origin, req, res); });
    server.Get(R"(/update/files/([0-9a-f]{64}))",
               [origin, throttle](const httplib::Request& req, httplib::Response& res) {
                   Object(origin, throttle, req, res);
               });
    server.set_logger([log](const httplib::Request& req, const httplib::Response& res) {
        size_t bytes = res.content_length_ ? res.content_length_ : res.body.size();
        std::lock_guard<std::mutex> hold(gLogLock);
        fprintf(log, "%s %s %d %zu\n", req.method.c_str(), req.path.c_str(), res.status, bytes);
        fflush(log);
    });
}

int ServeBind(httplib::Server& server, int port) {
    if (port == 0) return server.bind_to_any_port("127.0.0.1");
    return server.bind_to_port("127.0.0.1", port) ? port : -1;
}

int Serve(const std::string& origin, int port, long long bytesPerSecond, FILE* out) {
    httplib::Server server;
    ServeRoutes(server, origin, out, bytesPerSecond);
    int bound = ServeBind(server, port);
    if (bound < 0) {
        fprintf(stderr, "error: cannot listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    fprintf(out, "Serving %s on http://127.0.0.1:%d\n", origin.c_str(), bound);
    if (bytesPerSecond > 0) fprintf(out, "Objects limited to %lld KiB/s\n", bytesPerSecond / 1024);
    fflush(out);
    return server.listen_after_bind() ? 0 : 1;
}

}  // namespace orvantis
