// A game folder, a files host and a site host, and a Job ready for workers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/text.h"
#include "transfer/fetch.h"
#include "transfer/http.h"
#include "tests/support/origin.h"
#include "tests/support/signing.h"
#include "tests/support/status_window.h"
#include "tests/support/temp_folder.h"
#include "update/job.h"

namespace orvantis::test {

inline std::string ObjectPath(const std::string& sha256) { return "/update/files/" + sha256; }

// Deterministic, not very compressible content.
inline std::string Content(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        out[i] = static_cast<char>(x >> 24);
    }
    return out;
}

// Every file below folder (relative names), without the update log that Status may write.
inline std::vector<std::wstring> Listing(const std::wstring& folder, const std::wstring& below = L"") {
    std::vector<std::wstring> out;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + below + L"*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    do {
        std::wstring name = data.cFileName;
        if (name == L"." || name == L".." || name == kLogName) continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (auto& inner : Listing(folder, below + name + L"\\")) out.push_back(inner);
        } else {
            out.push_back(below + name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    std::sort(out.begin(), out.end());
    return out;
}

struct TransferTest : GameFolderTest {
    Origin files;
    Origin site;
    StatusWindow window;
    Job job;
    uint32_t savedWaits[5] = {};
    TransferLimits savedLimits = gTransferLimits;

    void SetUp() override {
        GameFolderTest::SetUp();
        ASSERT_NE(files.port, 0);
        ASSERT_NE(site.port, 0);
        gFiles = Endpoint{L"127.0.0.1", files.port, false};
        gSite = Endpoint{L"127.0.0.1", site.port, false};
        std::copy(gRetryWaits, gRetryWaits + 5, savedWaits);
        // The schedule's own waits are timed in one test only.
        for (uint32_t& wait : gRetryWaits) wait = 1;
        // A server that stops giving is given up after seconds, not thirty (replies some tests
        // delay on purpose stay within the head's time).
        gTransferLimits.headMs = 3000;
        gTransferLimits.slowMs = 1500;
        InitializeCriticalSection(&job.lock);
        job.started = GetTickCount64();
    }
    void TearDown() override {
        DeleteCriticalSection(&job.lock);
        std::copy(savedWaits, savedWaits + 5, gRetryWaits);
        gTransferLimits = savedLimits;
        files.Stop();
        site.Stop();
        GameFolderTest::TearDown();
    }

    bool FetchOne(const Entry& entry, const std::wstring& target) {
        Http filesHttp(gFiles);
        Http siteHttp(gSite);
        return Fetch(filesHttp, siteHttp, job, entry, target);
    }
};

inline const std::wstring kGameOpen = L". \u00bfEl juego est\u00e1 abierto? Ci\u00e9rralo y vuelve a abrir el lanzador.";

}  // namespace orvantis::test
