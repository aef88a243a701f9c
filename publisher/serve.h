// The serve command: the origin folder over HTTP on loopback, as the launcher expects to find it.
#pragma once

#include <cstdio>
#include <string>

#include <httplib.h>

namespace orvantis {

// "/update/manifest.json" with the "x-orvantis-signature" header (the .sig file, read at each
// request so that a new build is served at once), "/update/files/<sha256>", and 404 for anything
// else. Each request is logged to log as "METHOD PATH STATUS BYTES".
void ServeRoutes(httplib::Server& server, const std::string& origin, FILE* log);

// Binds 127.0.0.1:port; port 0 picks a free one. The bound port, or -1.
int ServeBind(httplib::Server& server, int port);

// The whole command: binds, prints "Serving ORIGIN on http://127.0.0.1:PORT" to out, serves
// until the process ends. 1 when the port cannot be bound.
int Serve(const std::string& origin, int port, FILE* out);

}  // namespace orvantis
