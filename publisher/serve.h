// The serve command: the origin folder over HTTP on loopback, as the launcher expects to find it.
#pragma once

#include <cstdio>
#include <string>

#include <httplib.h>

namespace orvantis {

// A byte budget shared by every connection of one server, so that a demo or a manual test can
// watch a download in progress on loopback, where it would otherwise end in a blink.
struct Throttle {
    long long bytesPerSecond = 0;  // 0: no limit
    double next = 0;               // seconds on a steady clock: when the budget is free again
};

// Books bytes on the throttle at time now (seconds) and returns how long to wait before sending
// them. The connections queue behind one another, so together they never exceed the rate.
double ThrottleWait(Throttle& throttle, double now, size_t bytes);

// "/update/manifest.json" with the "x-orvantis-signature" header (the pair read at each request,
// both files from one release, so that a new build is served at once and never half), "/update/files/<sha256>", and 404 for anything
// else. Each request is logged to log as "METHOD PATH STATUS BYTES". Objects are sent at most at
// bytesPerSecond over all connections (0: as fast as they go).
void ServeRoutes(httplib::Server& server, const std::string& origin, FILE* log, long long bytesPerSecond = 0);

// Binds 127.0.0.1:port; port 0 picks a free one. The bound port, or -1.
int ServeBind(httplib::Server& server, int port);

// The whole command: binds, prints "Serving ORIGIN on http://127.0.0.1:PORT" to out, serves
// until the process ends. 1 when the port cannot be bound.
int Serve(const std::string& origin, int port, long long bytesPerSecond, FILE* out);

}  // namespace orvantis
