#include "publisher/objects.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "publisher/digest.h"
#include "tests/publisher/scratch.h"

namespace orvantis {
namespace {

using test::Bytes;
using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

class Objects : public test::Scratch {};

// Aligned memory goes partly past the page cache and partly through it; the object must hold the
// same bytes either way, whatever the length's remainder.
TEST_F(Objects, WritesTheSameBytesAlignedOrNot) {
    std::string store = dir + "/files";
    fs::create_directories(store);
    const size_t sizes[] = {0, 1, kDirectAlign - 1, kDirectAlign, kDirectAlign + 1, 3 * kDirectAlign + 17,
                            (1u << 20) + 5};
    std::unique_ptr<char, decltype(&free)> memory(
        static_cast<char*>(aligned_alloc(kDirectAlign, (2u << 20) + kDirectAlign)), &free);
    ASSERT_TRUE(memory);
    for (size_t size : sizes) {
        for (size_t shift : {size_t(0), size_t(1), kDirectAlign / 2}) {
            SCOPED_TRACE("size " + std::to_string(size) + ", " + std::to_string(shift) + " bytes past alignment");
            std::string bytes = Bytes(uint32_t(size * 7 + shift), size);
            char* data = memory.get() + shift;
            std::copy(bytes.begin(), bytes.end(), data);
            std::string name = Sha256Hex(bytes), error;
            ASSERT_TRUE(WriteObjectBytes(store, name, data, size, error)) << error;
            EXPECT_EQ(ReadFile(store + "/" + name), bytes);
            struct stat st;
            ASSERT_EQ(stat((store + "/" + name).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0644u);
            fs::remove(store + "/" + name);
        }
    }
    EXPECT_TRUE(fs::is_empty(store));
}

// An object is only rewritten when the one in place is damaged; the damaged one is replaced in
// one step, and a store that cannot take the object says which one.
TEST_F(Objects, ReplacesADamagedObjectAndNamesOneItCannotWrite) {
    std::string store = dir + "/files";
    std::string bytes = Bytes(42, 3 * kDirectAlign + 5), name = Sha256Hex(bytes), error;
    WriteFile(store + "/" + name, "damaged");
    ASSERT_TRUE(WriteObjectBytes(store, name, bytes.data(), bytes.size(), error)) << error;
    EXPECT_EQ(ReadFile(store + "/" + name), bytes);

    fs::create_directories(store + "/" + std::string(64, 'a') + "/x");
    EXPECT_FALSE(WriteObjectBytes(store, std::string(64, 'a'), bytes.data(), bytes.size(), error));
    EXPECT_EQ(error.rfind(store + "/" + std::string(64, 'a') + ": cannot be written", 0), 0u) << error;
    EXPECT_FALSE(WriteObjectBytes(dir + "/missing", name, bytes.data(), bytes.size(), error));
    EXPECT_EQ(error.rfind(dir + "/missing/" + name + ": cannot be written", 0), 0u) << error;
    size_t entries = 0;
    for (const auto& item : fs::directory_iterator(store)) {
        EXPECT_TRUE(IsObjectName(item.path().filename().string())) << item.path();
        ++entries;
    }
    EXPECT_EQ(entries, 2u);
}

}  // namespace
}  // namespace orvantis
