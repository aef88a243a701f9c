// Builds natively too (sanitizers): no Windows header here.
#include "manifest/json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvantis {
namespace {

using namespace std::string_literals;

const std::string kA = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";
const std::string kB = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// One line per entry, every field, so a mismatch shows which field went wrong.
std::string Describe(const std::vector<Entry>& entries) {
    std::string out;
    for (const Entry& e : entries)
        out += e.path + "|" + std::to_string(e.size) + "|" + e.sha256 + "|" + e.pack + "|" +
               std::to_string(e.offset) + "|" + std::to_string(e.packSize) + "\n";
    return out;
}

bool Read(const std::string& body, std::string* described = nullptr) {
    std::vector<Entry> entries;
    Json json(body);
    bool ok = json.Files(entries);
    if (described) *described = Describe(entries);
    return ok;
}

TEST(JsonFiles, ReadsEveryFieldInManifestOrder) {
    std::string body = "{\"files\":[{\"path\":\"Main.exe\",\"size\":5,\"sha256\":\"" + kA +
                       "\"},\n {\"path\":\"Data/Player/hero.bmd\",\"size\":10,\"sha256\":\"" + kB + "\",\"pack\":\"" +
                       kA + "\",\"offset\":3,\"packSize\":4096}]}";
    std::string got;
    ASSERT_TRUE(Read(body, &got));
    EXPECT_EQ(got, "Main.exe|5|" + kA + "||0|0\nData/Player/hero.bmd|10|" + kB + "|" + kA + "|3|4096\n");
}

struct Accepted {
    const char* name;
    std::string body;
    std::string entries;  // Describe() of the expected result
};

TEST(JsonFiles, AcceptsWhatTheFormatAllows) {
    const std::string kOne = "{\"path\":\"a\",\"size\":1}";
    const Accepted rows[] = {
        {"empty files array", "{\"files\":[]}", ""},
        {"leading whitespace of all six kinds", " \t\n\v\f\r{\"files\":[]}", ""},
        {"element without known keys", "{\"files\":[{\"x\":1}]}", "|0|||0|0\n"},
        {"other keys before and after, nested values",
         "{\"version\":3,\"meta\":{\"a\":[1,-2.5e10,\"s\",true,false,null,{\"b\":[]}]},\"files\":[" + kOne +
             "],\"tail\":[[],{}],\"n\":null}",
         "a|1|||0|0\n"},
        {"unknown nested values inside an element",
         "{\"files\":[{\"meta\":{\"k\":[1,{\"z\":\"}\"}]},\"path\":\"a\",\"list\":[\"]\",2],\"size\":1}]}",
         "a|1|||0|0\n"},
        {"elements without commas", "{\"files\":[" + kOne + kOne + "\n" + kOne + "]}",
         "a|1|||0|0\na|1|||0|0\na|1|||0|0\n"},
        {"trailing comma before ]", "{\"files\":[" + kOne + ",]}", "a|1|||0|0\n"},
        {"two files arrays append in document order",
         "{\"files\":[{\"path\":\"x\"}],\"v\":1,\"files\":[{\"path\":\"y\"},{\"path\":\"z\"}]}",
         "x|0|||0|0\ny|0|||0|0\nz|0|||0|0\n"},
        {"a repeated key: last value wins", "{\"files\":[{\"size\":1,\"path\":\"p\",\"size\":2,\"path\":\"q\"}]}",
         "q|2|||0|0\n"},
        {"same path twice: both kept", "{\"files\":[{\"path\":\"a\"},{\"path\":\"a\"}]}", "a|0|||0|0\na|0|||0|0\n"},
        {"leading zeros", "{\"files\":[{\"offset\":007}]}", "|0|||7|0\n"},
        {"whitespace around numbers", "{\"files\":[{\"size\" :\n 12 \t, \"offset\": 3\n}]}", "|12|||3|0\n"},
        {"largest 64-bit number", "{\"files\":[{\"size\":18446744073709551615}]}", "|18446744073709551615|||0|0\n"},
        {"2^64 wraps to 0", "{\"files\":[{\"size\":18446744073709551616}]}", "|0|||0|0\n"},
        {"2^64+1 wraps to 1", "{\"files\":[{\"size\":18446744073709551617}]}", "|1|||0|0\n"},
        {"20 nines wrap modulo 2^64", "{\"files\":[{\"packSize\":99999999999999999999}]}",
         "|0|||0|7766279631452241919\n"},
        {"escapes", "{\"files\":[{\"path\":\"a\\/b\\\\c\\\"d\\ne\\tf\\rg\\bh\\fi\"}]}",
         "a/b\\c\"d\ne\tfrgbhfi|0|||0|0\n"},
        {"control and high bytes pass through", "{\"files\":[{\"path\":\"Datos/ca\xc3\xb1\xc3\xb3n\x01\x7f\xff\"}]}",
         "Datos/ca\xc3\xb1\xc3\xb3n\x01\x7f\xff|0|||0|0\n"},
        {"case-sensitive keys: Path and SIZE are unknown", "{\"files\":[{\"Path\":\"a\",\"SIZE\":\"x\"}]}",
         "|0|||0|0\n"},
        {"bytes after the closing brace", "{\"files\":[" + kOne + "]}\xff\x00{[\"garbage"s, "a|1|||0|0\n"},
        {"top-level value that consumes nothing", "{\"odd\":,\"files\":[" + kOne + "]}", "a|1|||0|0\n"},
        {"empty value between commas of a skipped array", "{\"x\":[1,,2],\"files\":[" + kOne + "]}", "a|1|||0|0\n"},
        {"skipped array of an empty value and a comma", "{\"x\":[,],\"files\":[" + kOne + "]}", "a|1|||0|0\n"},
        {"skipped object member with an empty value", "{\"x\":{\"a\":},\"files\":[" + kOne + "]}", "a|1|||0|0\n"},
        {"empty values in skipped containers inside an element",
         "{\"files\":[{\"x\":[,1,,],\"path\":\"a\",\"y\":{\"b\":,\"c\":},\"size\":1}]}", "a|1|||0|0\n"},
        {"512 levels of skipped nesting",
         "{\"deep\":" + std::string(512, '[') + std::string(512, ']') + ",\"files\":[" + kOne + "]}",
         "a|1|||0|0\n"},
    };
    for (const Accepted& row : rows) {
        SCOPED_TRACE(row.name);
        std::string got;
        EXPECT_TRUE(Read(row.body, &got));
        EXPECT_EQ(got, row.entries);
    }
}

struct Rejected {
    const char* name;
    std::string body;
};

TEST(JsonFiles, RejectsMalformedDocuments) {
    const Rejected rows[] = {
        {"empty body", ""},
        {"whitespace only", " \n "},
        {"byte-order mark", "\xef\xbb\xbf{\"files\":[]}"},
        {"top-level array", "[{\"files\":[]}]"},
        {"empty top-level object", "{}"},
        {"unclosed top-level object", "{\"files\":[]"},
        {"trailing comma in top-level object", "{\"files\":[],}"},
        {"junk between members", "{\"files\":[] \"v\":1}"},
        {"files is an object", "{\"files\":{}}"},
        {"files is a string", "{\"files\":\"x\"}"},
        {"element is not an object", "{\"files\":[1]}"},
        {"empty element", "{\"files\":[{}]}"},
        {"trailing comma before } of an element", "{\"files\":[{\"path\":\"a\",}]}"},
        {"element cut short", "{\"files\":[{\"path\":\"a\""},
        {"array cut short", "{\"files\":[{\"path\":\"a\"}"},
        {"string cut short", "{\"files\":[{\"path\":\"a"},
        {"backslash as the last byte", "{\"files\":[{\"path\":\"a\\"},
        {"unicode escape", "{\"files\":[{\"path\":\"caf\\u00e9\"}]}"},
        {"unicode escape in a skipped value", "{\"v\":\"\\u0041\",\"files\":[]}"},
        {"quoted number", "{\"files\":[{\"size\":\"5\"}]}"},
        {"negative number", "{\"files\":[{\"size\":-1}]}"},
        {"plus sign", "{\"files\":[{\"offset\":+1}]}"},
        {"fraction", "{\"files\":[{\"size\":1.5}]}"},
        {"exponent", "{\"files\":[{\"packSize\":1e3}]}"},
        {"no digits", "{\"files\":[{\"size\":}]}"},
        {"null for a number", "{\"files\":[{\"size\":null}]}"},
        {"number for a string", "{\"files\":[{\"path\":5}]}"},
        {"null for a string", "{\"files\":[{\"sha256\":null}]}"},
        {"missing colon", "{\"files\":[{\"path\" \"a\"}]}"},
        {"unquoted key", "{files:[]}"},
        {"stray ':' in a skipped array", "{\"x\":[1:2],\"files\":[]}"},
        {"stray '}' in a skipped array", "{\"x\":[1}],\"files\":[]}"},
        {"stray ']' in a skipped object", "{\"x\":{\"a\":]},\"files\":[]}"},
        {"stray ':' after an empty value in a skipped array", "{\"x\":[,:],\"files\":[]}"},
        {"skipped array cut short after empty values", "{\"files\":[],\"x\":[1,,"},
        {"skipped object cut short after an empty value", "{\"x\":{\"a\":"},
        {"skipped array cut short", "{\"files\":[],\"x\":[1,2"},
        {"skipped array inside an element cut short", "{\"files\":[{\"x\":[[[\"a\""},
        {"skipped object cut short", "{\"x\":{\"a\":1"},
        {"513 levels of skipped nesting",
         "{\"deep\":" + std::string(513, '[') + std::string(513, ']') + ",\"files\":[]}"},
        {"100,000 unclosed '['", "{\"x\":" + std::string(100000, '[')},
        {"100,000 balanced '[' ']'", "{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "}"},
        {"100,000 nested objects inside an element",
         [] {
             std::string s = "{\"files\":[{\"x\":";
             for (int i = 0; i < 100000; ++i) s += "{\"k\":";
             return s;
         }()},
    };
    for (const Rejected& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(Read(row.body));
    }
}

// Launchers refuse a release numbered below the one they hold, so the number is read exactly
// or the manifest is not read at all.
TEST(JsonFiles, ReadsTheReleaseNumber) {
    const std::string kOne = "{\"path\":\"a\",\"size\":1}";
    struct Row {
        const char* name;
        std::string body;
        bool read;
        bool numbered;
        uint64_t release;
    } rows[] = {
        {"first member, as the publisher writes it", "{\"release\":1765200000,\"files\":[" + kOne + "]}", true,
         true, 1765200000},
        {"after the files, with blanks", "{\"files\":[" + kOne + "], \"release\" : 7 }", true, true, 7},
        {"the largest number", "{\"release\":18446744073709551615,\"files\":[" + kOne + "]}", true, true,
         UINT64_MAX},
        {"zero", "{\"release\":0,\"files\":[" + kOne + "]}", true, true, 0},
        {"no number", "{\"files\":[" + kOne + "]}", true, false, 0},
        {"a member of a file is no release", "{\"files\":[{\"path\":\"a\",\"release\":5}]}", true, false, 0},
        {"a nested one is no release", "{\"meta\":{\"release\":5},\"files\":[" + kOne + "]}", true, false, 0},
        {"one past 2^64 - 1 does not wrap", "{\"release\":18446744073709551616,\"files\":[" + kOne + "]}",
         false, false, 0},
        {"twice", "{\"release\":5,\"files\":[" + kOne + "],\"release\":6}", false, false, 0},
        {"quoted", "{\"release\":\"5\",\"files\":[" + kOne + "]}", false, false, 0},
        {"negative", "{\"release\":-5,\"files\":[" + kOne + "]}", false, false, 0},
        {"a fraction", "{\"release\":5.5,\"files\":[" + kOne + "]}", false, false, 0},
        {"null", "{\"release\":null,\"files\":[" + kOne + "]}", false, false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<Entry> entries;
        Json json(row.body);
        EXPECT_EQ(json.Files(entries), row.read);
        if (!row.read) continue;
        EXPECT_EQ(entries.size(), 1u);
        EXPECT_EQ(json.numbered, row.numbered);
        if (row.numbered) {
            EXPECT_EQ(json.release, row.release);
        }
    }
}

TEST(JsonFiles, AddsNothingNewWhenOtherKeysSurroundFiles) {
    std::string files = "[{\"path\":\"Main.exe\",\"size\":5,\"sha256\":\"" + kA + "\"},{\"path\":\"b\"}]";
    std::string alone, surrounded;
    ASSERT_TRUE(Read("{\"files\":" + files + "}", &alone));
    ASSERT_TRUE(Read("{\"a\":{\"files\":[{\"path\":\"no\"}]},\"b\":[\"files\",[]],\"files\":" + files +
                         ",\"c\":{\"d\":[true,false,null,-1.5e3]}}",
                     &surrounded));
    EXPECT_EQ(surrounded, alone);
}

TEST(JsonFiles, ResetsNestingAfterEverySkippedValue) {
    // Many deep siblings in a row: a depth count that leaked would refuse the later ones.
    std::string deep = std::string(500, '[') + std::string(500, ']');
    std::string body = "{";
    for (int i = 0; i < 50; ++i) body += "\"k\":" + deep + ",";
    body += "\"files\":[{\"path\":\"a\",\"x\":" + deep + "}]}";
    std::string got;
    EXPECT_TRUE(Read(body, &got));
    EXPECT_EQ(got, "a|0|||0|0\n");
}

TEST(JsonString, ReadsOneStringAndLeavesPosAfterIt) {
    std::string body = "  \"a\\\"b\" rest";
    Json json(body);
    std::string out = "old";
    ASSERT_TRUE(json.String(out));
    EXPECT_EQ(out, "a\"b");
    EXPECT_EQ(json.pos, 8u);
}

TEST(JsonString, LeavesOutUntouchedWithoutAnOpeningQuote) {
    for (const std::string body : {"", "   ", "x\"a\"", "'a'"}) {
        SCOPED_TRACE(body);
        Json json(body);
        std::string out = "old";
        EXPECT_FALSE(json.String(out));
        EXPECT_EQ(out, "old");
    }
}

TEST(JsonString, KeepsWhatWasGatheredOnFailure) {
    std::string body = "\"ab\\u0041\"";
    Json json(body);
    std::string out;
    EXPECT_FALSE(json.String(out));
    EXPECT_EQ(out, "ab");
    EXPECT_EQ(json.pos, 5u);  // just past the escape that failed
}

struct SkipRow {
    const char* name;
    std::string body;
    bool ok;
    size_t pos;  // where the skip stopped, when it succeeded
};

TEST(JsonSkip, ConsumesExactlyOneValue) {
    const SkipRow rows[] = {
        {"end of text", "   ", true, 3},
        {"number with fraction and exponent", "-12.5e10,", true, 8},
        {"'+' ends a scalar", "1e+5", true, 2},
        {"true", "true]", true, 4},
        {"null", " null ", true, 5},
        {"string", "\"a]b\"x", true, 5},
        {"empty array", "[ ]x", true, 3},
        {"array without commas", "[1 2 \"3\" [4]]x", true, 13},
        {"object with nested values", "{\"a\":{\"b\":[1,2]},\"c\":\"}\"}x", true, 25},
        {"stray byte is an empty scalar", ":", true, 0},
        {"empty value between commas", "[1,,2]x", true, 6},
        {"only a comma", "[,]x", true, 3},
        {"empty member value", "{\"a\":}x", true, 6},
        {"empty values before a stray byte", "[,,:]", false, 0},
        {"comma at end of text", "[,", false, 0},
        {"array at end of text", "[1,", false, 0},
        {"key without colon", "{\"a\" 1}", false, 0},
        {"object key not a string", "{a:1}", false, 0},
    };
    for (const SkipRow& row : rows) {
        SCOPED_TRACE(row.name);
        Json json(row.body);
        EXPECT_EQ(json.Skip(), row.ok);
        if (row.ok) {
            EXPECT_EQ(json.pos, row.pos);
        }
        EXPECT_LE(json.pos, row.body.size());
        EXPECT_EQ(json.depth, 0);
    }
}

}  // namespace
}  // namespace orvantis
