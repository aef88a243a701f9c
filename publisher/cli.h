// The command line of orvantis-publish.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace orvantis {

// Runs one command (args without the program name). 0 on success, 1 when the command failed,
// 2 for a command line that cannot be understood. Results go to out, problems to err.
int RunCommand(const std::vector<std::string>& args, FILE* out, FILE* err);

}  // namespace orvantis
