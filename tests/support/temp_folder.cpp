#include "tests/support/temp_folder.h"

#include <atomic>
#include <cstdio>

#include "launcher/globals.h"
#include "launcher/owned.h"

namespace orvantis::test {

std::wstring MakeTempFolder(const std::wstring& hint) {
    static std::atomic<unsigned> counter{0};
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    for (;;) {
        wchar_t name[64];
        swprintf(name, 64, L"ork_%lu_%u_", GetCurrentProcessId(), counter++);
        std::wstring folder = std::wstring(temp) + name + hint;
        if (CreateDirectoryW(folder.c_str(), nullptr)) return folder + L"\\";
        if (GetLastError() != ERROR_ALREADY_EXISTS) return L"";
    }
}

void RemoveTree(const std::wstring& folder) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\') base += L'\\';
    WIN32_FIND_DATAW data;
    OwnedFind find = FindFirst((base + L"*").c_str(), &data);
    if (find) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = base + name;
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileW(path.c_str());
        } while (FindNextFileW(find.h, &data));
    }
    find.Reset();
    SetFileAttributesW(base.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(base.c_str());
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr) << "cannot create a test file";
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string ReadFileBytes(const std::wstring& path, bool* ok) {
    std::string out;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (ok) *ok = f != nullptr;
    if (!f) return out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, n);
    fclose(f);
    return out;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void GameFolderTest::SetUp() {
    folder = MakeTempFolder(L"game");
    ASSERT_FALSE(folder.empty());
    gFolder = folder;
}

void GameFolderTest::TearDown() {
    RemoveTree(folder);
    gFolder.clear();
}

}  // namespace orvantis::test
