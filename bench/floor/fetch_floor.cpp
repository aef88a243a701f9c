// Floor of a first install: THREADS workers, each with its own WinHTTP session, take objects
// from a shared list and stream each through one 65,536-byte buffer into a ".part" file while
// hashing it, check length and SHA-256, and rename the ".part" file into place.
// Usage: fetch_floor.exe HOST PORT LISTFILE FOLDER [THREADS]
//   LISTFILE: "sha256 size relative/path" a line; objects are GET /update/files/<sha256>.
// Exit code 0 when every object arrived whole and correct.
#include "floor_common.h"

#include <bcrypt.h>
#include <winhttp.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>


namespace orvantis::bench {
namespace {

struct Object {
    std::string sha256;
    uint64_t size = 0;
    std::string path;
};

std::wstring gHost;
INTERNET_PORT gPort = 0;
std::wstring gFolder;
std::vector<Object> gObjects;
std::atomic<long> gNext{0};
std::atomic<long> gFailures{0};
std::atomic<uint64_t> gBytes{0};
BCRYPT_ALG_HANDLE gSha = nullptr;

std::string Hex(const uint8_t* d, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += digits[d[i] >> 4];
        s += digits[d[i] & 15];
    }
    return s;
}

void MakeFolders(const std::wstring& target) {
    for (size_t p = target.find(L'\\', gFolder.size()); p != std::wstring::npos; p = target.find(L'\\', p + 1))
        CreateDirectoryW(target.substr(0, p).c_str(), nullptr);
}

bool FetchOne(HINTERNET connect, const Object& o, std::vector<uint8_t>& buffer) {
    std::wstring target = LocalPath(gFolder, o.path);
    MakeFolders(target);
    std::wstring part = target + L".part";
    HANDLE file = CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    BCryptCreateHash(gSha, &hash, nullptr, 0, nullptr, 0, 0);
    std::wstring url = L"/update/files/" + Wide(o.sha256);
    uint64_t received = 0;
    DWORD status = 0;
    bool written = true;
    HINTERNET request = WinHttpOpenRequest(connect, L"GET", url.c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    if (request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        DWORD len = sizeof status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &len, WINHTTP_NO_HEADER_INDEX);
        while (status == 200) {
            DWORD got = 0;
            if (!WinHttpReadData(request, buffer.data(), static_cast<DWORD>(buffer.size()), &got) || got == 0) break;
            BCryptHashData(hash, buffer.data(), got, 0);
            received += got;
            gBytes += got;
            DWORD put = 0;
            if (!WriteFile(file, buffer.data(), got, &put, nullptr) || put != got) {
                written = false;
                break;
            }
        }
    }
    if (request) WinHttpCloseHandle(request);
    CloseHandle(file);
    uint8_t digest[32] = {};
    BCryptFinishHash(hash, digest, sizeof digest, 0);
    BCryptDestroyHash(hash);
    bool good = written && status == 200 && received == o.size && Hex(digest, 32) == o.sha256;
    if (good && MoveFileExW(part.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    DeleteFileW(part.c_str());
    return false;
}

void Worker() {
    HINTERNET session = WinHttpOpen(L"OrvantisKesh-Bench/1", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connect = session ? WinHttpConnect(session, gHost.c_str(), gPort, 0) : nullptr;
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        long i = gNext++;
        if (i >= static_cast<long>(gObjects.size())) break;
        if (!connect || !FetchOne(connect, gObjects[static_cast<size_t>(i)], buffer)) {
            ++gFailures;
            fprintf(stderr, "failed: %s\n", gObjects[static_cast<size_t>(i)].path.c_str());
        }
    }
    if (connect) WinHttpCloseHandle(connect);
    if (session) WinHttpCloseHandle(session);
}

int Run(int argc, wchar_t** argv) {
    if (argc < 5) {
        fwprintf(stderr, L"usage: fetch_floor HOST PORT LISTFILE FOLDER [THREADS]\n");
        return 2;
    }
    gHost = argv[1];
    gPort = static_cast<INTERNET_PORT>(wcstol(argv[2], nullptr, 10));
    gFolder = WithSlash(argv[4]);
    int threads = argc > 5 ? static_cast<int>(wcstol(argv[5], nullptr, 10)) : 8;
    std::vector<std::string> lines;
    if (!ReadLines(argv[3], lines)) {
        fwprintf(stderr, L"cannot read %ls\n", argv[3]);
        return 2;
    }
    for (const std::string& line : lines) {
        size_t a = line.find(' ');
        size_t b = line.find(' ', a + 1);
        if (a == std::string::npos || b == std::string::npos) continue;
        gObjects.push_back(Object{line.substr(0, a), std::stoull(line.substr(a + 1, b - a - 1)), line.substr(b + 1)});
    }
    if (BCryptOpenAlgorithmProvider(&gSha, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) return 1;
    double start = Now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads && t < static_cast<int>(gObjects.size()); ++t) pool.emplace_back(Worker);
    for (std::thread& t : pool) t.join();
    double seconds = Now() - start;
    printf("objects=%zu failures=%ld bytes=%llu seconds=%.6f mbps=%.1f\n", gObjects.size(), gFailures.load(),
           static_cast<unsigned long long>(gBytes.load()), seconds, gBytes.load() / seconds / 1e6);
    return gFailures.load() == 0 ? 0 : 1;
}

}  // namespace
}  // namespace orvantis::bench

int wmain(int argc, wchar_t** argv) { return orvantis::bench::Run(argc, argv); }
