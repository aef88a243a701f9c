// Builds natively too (sanitizers): no Windows header here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "manifest/signature.h"

namespace orvantis {
namespace {

using namespace std::string_literals;

TEST(DecodeSignature, ReadsBothCasesHighNibbleFirst) {
    std::vector<uint8_t> lower, upper, mixed;
    ASSERT_TRUE(DecodeSignature("00ff7f80abcdef0912", lower));
    ASSERT_TRUE(DecodeSignature("00FF7F80ABCDEF0912", upper));
    ASSERT_TRUE(DecodeSignature("00fF7f80AbCdEf0912", mixed));
    EXPECT_EQ(lower, (std::vector<uint8_t>{0x00, 0xff, 0x7f, 0x80, 0xab, 0xcd, 0xef, 0x09, 0x12}));
    EXPECT_EQ(upper, lower);
    EXPECT_EQ(mixed, lower);
}

TEST(DecodeSignature, EmptyTextIsAnEmptySignature) {
    std::vector<uint8_t> out{1, 2, 3};
    EXPECT_TRUE(DecodeSignature("", out));
    EXPECT_TRUE(out.empty());
}

TEST(DecodeSignature, DecodesEvenLengthsAndRefusesOddOnes) {
    const struct {
        size_t digits;
        bool ok;
    } rows[] = {{126, true}, {127, false}, {128, true}, {129, false}, {130, true}, {1, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.digits);
        std::vector<uint8_t> out;
        EXPECT_EQ(DecodeSignature(std::string(row.digits, 'a'), out), row.ok);
        if (row.ok) {
            EXPECT_EQ(out.size(), row.digits / 2);
            EXPECT_EQ(out.front(), 0xaa);
        }
    }
}

TEST(DecodeSignature, RefusesAnyByteThatIsNotAHexDigit) {
    const std::string good(128, '7');
    const struct {
        const char* name;
        std::string text;
    } rows[] = {
        {"0x prefix", std::string("0x").append(good.substr(2))},
        {"0x prefix on the full value", std::string("0x").append(good)},
        {"leading blank", std::string(" ").append(good.substr(1))},
        {"blank pair in the middle", good.substr(0, 64) + "  " + good.substr(66)},
        {"trailing line feed", good.substr(1) + "\n"},
        {"carriage return", good.substr(0, 126) + "\r\n"},
        {"tab", std::string("\t").append(good.substr(1))},
        {"g", good.substr(0, 127) + "g"},
        {"G in the high position", std::string("G").append(good.substr(1))},
        {"zero byte", good.substr(0, 127) + "\0"s},
        {"UTF-8 letter", good.substr(0, 126) + "\xc3\xa9"},
        {"sign", std::string("-").append(good.substr(1))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> out{9};
        EXPECT_FALSE(DecodeSignature(row.text, out));
        EXPECT_EQ(out, std::vector<uint8_t>{9});
    }
}

}  // namespace
}  // namespace orvantis
