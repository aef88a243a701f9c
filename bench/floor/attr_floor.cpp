// Floor of a warm start: the attributes of every listed file and one ordered-map lookup each,
// which is all that a start with an up-to-date folder and a full hash cache must do.
// Usage: attr_floor.exe FOLDER LISTFILE [fullpath]
//   LISTFILE: one relative path a line, '/' separators. With "fullpath", each path is also
//   resolved with GetFullPathNameW first, as a check of the path's safety does (a diagnosis).
// Prints the number of files found with their recorded size and the time of the loop alone.
#include <cstdint>
#include <map>

#include "floor_common.h"

namespace orvantis::bench {
namespace {

struct Record {
    uint64_t size = 0;
    uint64_t writeTime = 0;
};

int Run(int argc, wchar_t** argv) {
    if (argc != 3 && argc != 4) {
        fwprintf(stderr, L"usage: attr_floor FOLDER LISTFILE [fullpath]\n");
        return 2;
    }
    std::wstring folder = WithSlash(argv[1]);
    std::vector<std::string> paths;
    if (!ReadLines(argv[2], paths)) {
        fwprintf(stderr, L"cannot read %ls\n", argv[2]);
        return 2;
    }
    // The map plays the hash cache: keyed by the relative path, as the launcher's is.
    bool resolve = argc == 4 && wcscmp(argv[3], L"fullpath") == 0;
    std::map<std::string, Record> cache;
    for (const std::string& p : paths) cache[p] = Record{};

    double start = Now();
    size_t found = 0;
    uint64_t bytes = 0;
    for (const std::string& p : paths) {
        std::wstring local = LocalPath(folder, p);
        if (resolve) {
            wchar_t full[1024];
            DWORD n = GetFullPathNameW(local.c_str(), 1024, full, nullptr);
            if (n > 0 && n < 1024) local.assign(full, n);
        }
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &data)) continue;
        auto it = cache.find(p);
        if (it == cache.end()) continue;
        uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        uint64_t time = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                        data.ftLastWriteTime.dwLowDateTime;
        it->second = Record{size, time};
        bytes += size;
        ++found;
    }
    double loop = Now() - start;
    printf("files=%zu found=%zu bytes=%llu loop_s=%.6f\n", paths.size(), found,
           static_cast<unsigned long long>(bytes), loop);
    return found == paths.size() ? 0 : 1;
}

}  // namespace
}  // namespace orvantis::bench

int wmain(int argc, wchar_t** argv) { return orvantis::bench::Run(argc, argv); }
