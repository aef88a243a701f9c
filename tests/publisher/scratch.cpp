#include "tests/publisher/scratch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "manifest/json.h"

namespace orvantis::test {

std::string DevKey() { return std::string(ORVANTIS_SOURCE_DIR) + "/keys/dev-manifest.pem"; }

void WriteFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Bytes(uint32_t seed, size_t size) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return out;
}

std::vector<Entry> ReadManifest(const std::string& origin) {
    std::string body = ReadFile(origin + "/update/manifest.json");
    std::vector<Entry> out;
    Json reader(body);
    EXPECT_TRUE(reader.Files(out));
    return out;
}

bool LauncherTakesWholePack(const std::vector<Entry>& needed) {
    uint64_t sum = 0;
    for (const Entry& e : needed) sum += e.size;
    return !(needed.size() <= 7 || 2 * sum < needed.front().packSize);
}

void Scratch::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvantis-publish-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    game = dir + "/game";
    origin = dir + "/origin";
    std::filesystem::create_directories(game);
}

void Scratch::TearDown() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

}  // namespace orvantis::test
