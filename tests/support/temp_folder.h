// A fresh game folder per test: SetUp points gFolder at it, TearDown removes it.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace orvantis::test {

// Makes a new empty folder under the temp folder; the result ends with a backslash.
std::wstring MakeTempFolder(const std::wstring& hint);
// Removes a folder and everything below it; read-only files are made writable first.
void RemoveTree(const std::wstring& folder);

void WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Empty when the file cannot be read; *ok tells the two cases apart.
std::string ReadFileBytes(const std::wstring& path, bool* ok = nullptr);
bool Exists(const std::wstring& path);

struct GameFolderTest : ::testing::Test {
    std::wstring folder;
    void SetUp() override;
    void TearDown() override;
    std::wstring Path(const std::wstring& relative) const { return folder + relative; }
};

}  // namespace orvantis::test
