#include <cstdio>
#include <string>
#include <vector>

#include "publisher/cli.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return orvantis::RunCommand(args, stdout, stderr);
}
