// A scratch folder per test, and small file helpers for the publisher's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/entry.h"

namespace orvantis::test {

std::string DevKey();  // keys/dev-manifest.pem

void WriteFile(const std::string& path, const std::string& content);  // creates the folders
std::string ReadFile(const std::string& path);
// Deterministic bytes: the same (seed, size) always gives the same content.
std::string Bytes(uint32_t seed, size_t size);
// The entries the launcher's reader finds in origin/update/manifest.json.
std::vector<Entry> ReadManifest(const std::string& origin);

// The launcher's download planning on a first install (every file needed): true when it
// fetches the pack whole rather than file by file.
bool LauncherTakesWholePack(const std::vector<Entry>& needed);

class Scratch : public ::testing::Test {
protected:
    std::string dir;     // removed after the test
    std::string game;    // dir/game
    std::string origin;  // dir/origin
    void SetUp() override;
    void TearDown() override;
};

}  // namespace orvantis::test
