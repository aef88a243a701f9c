// Reading the game folder: every publishable file in a fixed order, or why it cannot be published.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvantis {

struct SourceFile {
    std::string path;      // relative, UTF-8, '/' separators: the manifest's name for it
    std::string location;  // where it is read on this machine
    uint64_t size = 0;
};

struct Walk {
    std::vector<SourceFile> files;      // byte-wise ascending by path
    std::vector<std::string> leftOut;   // "path: reason" for the launcher's own files
    std::vector<std::string> problems;  // "path: reason"; any one refuses the release
};

// Walks root (following symbolic links that stay inside it) and checks every name.
Walk WalkGame(const std::string& root);

// "a and b ..." for names that Windows would store as one file; empty when there is none.
std::vector<std::string> CaseClashes(const std::vector<std::string>& paths);

}  // namespace orvantis
