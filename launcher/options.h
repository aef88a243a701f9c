// What start-up learns from the process: the game folder and the command-line options.
#pragma once

#include <string>
#include <vector>

#include "launcher/globals.h"

namespace orvantis {

struct Options {
    bool assumeYes = false;
    bool verifyOnly = false;
    Endpoint site;
    Endpoint files;
};

// args[0] is the program and is never examined. site and files start as given and are
// overridden left to right by "--server" and "--files"; unknown arguments are ignored.
Options ReadOptions(const std::vector<std::wstring>& args, const Endpoint& site, const Endpoint& files);

// "host[:port]" as a plain-HTTP endpoint: port 80 without ':', else the low 16 bits of the number.
Endpoint ParseEndpoint(const std::wstring& value);

// The part of path up to and including its last backslash; empty when it has none.
std::wstring FolderOf(const std::wstring& path);

// The full path of the running program, however long; empty if it cannot be read.
// firstSize is where the buffer starts before it grows.
std::wstring ModulePath(size_t firstSize = 260);

// The process's own arguments, argument 0 included; empty when the command line cannot be split.
std::vector<std::wstring> CommandLineArgs();

}  // namespace orvantis
