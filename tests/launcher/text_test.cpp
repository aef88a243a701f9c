#include "launcher/text.h"

#include <gtest/gtest.h>

namespace orvantis {
namespace {

TEST(Text, RoundTripsAccentsAndAstralCharacters) {
    std::string utf8 = "El juego est\xc3\xa1 al d\xc3\xad" "a \xf0\x9f\x8e\xae";
    std::wstring wide = Wide(utf8);
    EXPECT_EQ(wide, L"El juego est\u00e1 al d\u00eda \U0001F3AE");
    EXPECT_EQ(Narrow(wide), utf8);
}

TEST(Text, ConvertsEmbeddedZeroBytes) {
    std::string withZero("a\0b", 3);
    EXPECT_EQ(Wide(withZero), std::wstring(L"a\0b", 3));
    EXPECT_EQ(Narrow(std::wstring(L"a\0b", 3)), withZero);
}

TEST(Text, EmptyAndMalformedInput) {
    EXPECT_EQ(Wide(""), L"");
    EXPECT_EQ(Narrow(L""), "");
    EXPECT_EQ(Wide("a\xff" "b"), L"a\ufffd" L"b");
    EXPECT_EQ(Narrow(std::wstring(1, wchar_t(0xD800))), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace orvantis
