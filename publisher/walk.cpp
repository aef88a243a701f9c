#include "publisher/walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

#include "publisher/path_rules.h"

namespace orvantis {
namespace {

std::string Canonical(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return "";
    std::string out = real;
    free(real);
    return out;
}

bool Inside(const std::string& path, const std::string& root) {
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            (root.back() == '/' || path[root.size()] == '/'));
}

struct Walker {
    std::string root;                // canonical
    std::vector<std::string> stack;  // canonical folders being walked, against link loops
    Walk out;

    void Problem(const std::string& path, const std::string& why) {
        out.problems.push_back(Printable(path) + ": " + why);
    }

    void Folder(const std::string& location, const std::string& prefix) {
        DIR* dir = opendir(location.c_str());
        if (!dir) {
            Problem(prefix.empty() ? "." : prefix, std::string("cannot be read (") + strerror(errno) + ")");
            return;
        }
        std::vector<std::string> names;
        while (dirent* d = readdir(dir))
            if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) names.push_back(d->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) Item(location + "/" + name, prefix + name);
    }

    void Item(const std::string& location, const std::string& path) {
        struct stat st;
        if (lstat(location.c_str(), &st) != 0) {
            Problem(path, std::string("cannot be read (") + strerror(errno) + ")");
            return;
        }
        if (S_ISLNK(st.st_mode)) {
            std::string target = Canonical(location);
            if (target.empty()) {
                Problem(path, "is a symbolic link to nothing");
                return;
            }
            if (!Inside(target, root)) {
                Problem(path, "is a symbolic link leaving the game folder (to " + Printable(target) + ")");
                return;
            }
            if (stat(location.c_str(), &st) != 0) {
                Problem(path, std::string("cannot be read (") + strerror(errno) + ")");
                return;
            }
            if (S_ISDIR(st.st_mode) && std::find(stack.begin(), stack.end(), target) != stack.end()) {
                Problem(path, "is a symbolic link to a folder that contains it (a loop)");
                return;
            }
        }
        if (S_ISDIR(st.st_mode)) {
            stack.push_back(Canonical(location));
            Folder(location, path + "/");
            stack.pop_back();
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            Problem(path, "is not a regular file");
            return;
        }
        if (const char* why = LeftOutReason(path)) {
            out.leftOut.push_back(Printable(path) + ": " + why);
            return;
        }
        std::string problem = PathProblem(path);
        if (!problem.empty()) {
            Problem(path, problem);
            return;
        }
        out.files.push_back({path, location, uint64_t(st.st_size)});
    }
};

}  // namespace

Walk WalkGame(const std::string& root) {
    Walker w;
    w.root = Canonical(root);
    struct stat st;
    if (w.root.empty() || stat(w.root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        w.out.problems.push_back(Printable(root) + ": is not a folder");
        return w.out;
    }
    w.stack.push_back(w.root);
    w.Folder(w.root, "");
    // Folder-by-folder order differs from whole-path order ("a.txt" sorts before "a/b"), and the
    // manifest must come out the same from any file system, so sort the whole paths.
    std::sort(w.out.files.begin(), w.out.files.end(),
              [](const SourceFile& a, const SourceFile& b) { return a.path < b.path; });
    std::vector<std::string> paths;
    for (const SourceFile& f : w.out.files) paths.push_back(f.path);
    for (std::string& clash : CaseClashes(paths)) w.out.problems.push_back(clash);
    if (w.out.files.empty() && w.out.problems.empty())
        w.out.problems.push_back(Printable(root) + ": has no files to publish");
    return w.out;
}

std::vector<std::string> CaseClashes(const std::vector<std::string>& paths) {
    std::vector<std::string> out;
    std::map<std::string, std::string> files, folders;
    for (const std::string& p : paths) {
        std::string folded = FoldCase(p);
        auto [it, fresh] = files.emplace(folded, p);
        if (!fresh)
            out.push_back(Printable(p) + ": differs from " + Printable(it->second) +
                          " only in letter case; Windows keeps one file for both");
        for (size_t slash = p.find('/'); slash != std::string::npos; slash = p.find('/', slash + 1))
            folders.emplace(FoldCase(p.substr(0, slash)), p.substr(0, slash));
    }
    for (const auto& [folded, p] : files) {
        auto it = folders.find(folded);
        if (it != folders.end())
            out.push_back(Printable(p) + ": is a file, but Windows would take it for the folder " +
                          Printable(it->second));
    }
    return out;
}

}  // namespace orvantis
