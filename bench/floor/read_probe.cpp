// Diagnosis of a cold check: reads and hashes the listed files the way a check does (open,
// 1 MiB reads, bcrypt SHA-256, close), either with one buffer kept for the whole run or with a
// fresh 1 MiB buffer for every file. Under Wine every ReadFile first touches each page of the
// whole buffer it is given, so a fresh buffer costs 256 page faults a file, however small it is.
// Usage: read_probe.exe FOLDER LISTFILE reuse|fresh   Prints the rate in MB/s.
#include "floor_common.h"

#include <bcrypt.h>

#include <cstdint>
#include <memory>

namespace orvantis::bench {
namespace {

constexpr DWORD kChunk = 1 << 20;

int Run(int argc, wchar_t** argv) {
    if (argc != 4) {
        fwprintf(stderr, L"usage: read_probe FOLDER LISTFILE reuse|fresh\n");
        return 2;
    }
    std::wstring folder = WithSlash(argv[1]);
    bool fresh = wcscmp(argv[3], L"fresh") == 0;
    std::vector<std::string> paths;
    if (!ReadLines(argv[2], paths)) return 2;
    BCRYPT_ALG_HANDLE alg = nullptr;
    if (BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return 1;
    std::unique_ptr<uint8_t[]> kept(new uint8_t[kChunk]);
    double start = Now();
    uint64_t bytes = 0;
    for (const std::string& p : paths) {
        HANDLE file = CreateFileW(LocalPath(folder, p).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 1;
        std::unique_ptr<uint8_t[]> own(fresh ? new uint8_t[kChunk] : nullptr);
        uint8_t* buffer = fresh ? own.get() : kept.get();
        BCRYPT_HASH_HANDLE hash = nullptr;
        BCryptCreateHash(alg, &hash, nullptr, 0, nullptr, 0, 0);
        DWORD got = 0;
        while (ReadFile(file, buffer, kChunk, &got, nullptr) && got > 0) {
            BCryptHashData(hash, buffer, got, 0);
            bytes += got;
        }
        uint8_t digest[32];
        BCryptFinishHash(hash, digest, sizeof digest, 0);
        BCryptDestroyHash(hash);
        CloseHandle(file);
    }
    double seconds = Now() - start;
    printf("files=%zu bytes=%llu seconds=%.6f mbps=%.1f\n", paths.size(), static_cast<unsigned long long>(bytes),
           seconds, bytes / seconds / 1e6);
    return 0;
}

}  // namespace
}  // namespace orvantis::bench

int wmain(int argc, wchar_t** argv) { return orvantis::bench::Run(argc, argv); }
