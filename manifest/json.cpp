#include "manifest/json.h"

#include <cstdint>

namespace orvantis {
namespace {

// Deep enough for any real document, shallow enough that the recursion cannot
// exhaust a thread's stack on a hostile body of nothing but '['.
constexpr int kMaxDepth = 512;

// Only these six bytes: isspace would follow the user's locale.
bool IsSpace(char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

bool IsScalarByte(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.';
}

void SkipSpace(Json& json) {
    while (json.pos < json.text.size() && IsSpace(json.text[json.pos])) ++json.pos;
}

bool AtByte(const Json& json, char c) { return json.pos < json.text.size() && json.text[json.pos] == c; }

bool Expect(Json& json, char c) {
    SkipSpace(json);
    if (!AtByte(json, c)) return false;
    ++json.pos;
    return true;
}

// Decimal digits only: no sign, fraction, exponent or quotes. Wraps modulo 2^64,
// which unsigned arithmetic makes well defined.
bool Number(Json& json, uint64_t& out) {
    SkipSpace(json);
    out = 0;
    size_t start = json.pos;
    while (json.pos < json.text.size() && json.text[json.pos] >= '0' && json.text[json.pos] <= '9') {
        out = out * 10 + static_cast<uint64_t>(json.text[json.pos] - '0');
        ++json.pos;
    }
    return json.pos > start;
}

// The release number orders releases, so a value that wrapped would order them wrongly:
// unlike the file fields, it must fit in 64 bits.
bool ReleaseNumber(Json& json, uint64_t& out) {
    SkipSpace(json);
    out = 0;
    size_t start = json.pos;
    while (json.pos < json.text.size() && json.text[json.pos] >= '0' && json.text[json.pos] <= '9') {
        uint64_t digit = static_cast<uint64_t>(json.text[json.pos] - '0');
        if (out > (UINT64_MAX - digit) / 10) return false;
        out = out * 10 + digit;
        ++json.pos;
    }
    return json.pos > start;
}

// Members of one file object after its '{'; the closing '}' is consumed on success.
bool FileMembers(Json& json, Entry& entry, std::string& key) {
    for (;;) {
        if (!json.String(key) || !Expect(json, ':')) return false;
        bool ok;
        if (key == "path")
            ok = json.String(entry.path);
        else if (key == "sha256")
            ok = json.String(entry.sha256);
        else if (key == "pack")
            ok = json.String(entry.pack);
        else if (key == "size")
            ok = Number(json, entry.size);
        else if (key == "offset")
            ok = Number(json, entry.offset);
        else if (key == "packSize")
            ok = Number(json, entry.packSize);
        else
            ok = json.Skip();
        if (!ok) return false;
        SkipSpace(json);
        if (json.pos >= json.text.size()) return false;
        if (json.text[json.pos] == ',') {
            ++json.pos;
            continue;
        }
        return Expect(json, '}');
    }
}

// Elements of the "files" array after its '['; commas between elements are optional.
bool FileArray(Json& json, std::vector<Entry>& out, std::string& key) {
    for (;;) {
        SkipSpace(json);
        if (AtByte(json, ']')) {
            ++json.pos;
            return true;
        }
        Entry entry;
        if (!Expect(json, '{') || !FileMembers(json, entry, key)) return false;
        out.push_back(entry);
        SkipSpace(json);
        if (AtByte(json, ',')) ++json.pos;
    }
}

}  // namespace

bool Json::String(std::string& out) {
    SkipSpace(*this);
    if (!AtByte(*this, '"')) return false;
    ++pos;
    out.clear();
    for (;;) {
        if (pos >= text.size()) return false;
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < text.size()) {
            char escape = text[pos + 1];
            pos += 2;
            if (escape == 'u') return false;
            out += escape == 'n' ? '\n' : escape == 't' ? '\t' : escape;
            continue;
        }
        out += c;
        ++pos;
    }
}

bool Json::Skip() {
    SkipSpace(*this);
    if (pos >= text.size()) return true;
    char c = text[pos];
    if (c == '"') {
        std::string scratch;
        return String(scratch);
    }
    if (c == '[' || c == '{') {
        if (depth >= kMaxDepth) return false;
        char closer = c == '[' ? ']' : '}';
        ++pos;
        ++depth;
        bool ok = false;
        std::string key;
        for (;;) {
            SkipSpace(*this);
            if (AtByte(*this, closer)) {
                ++pos;
                ok = true;
                break;
            }
            size_t passStart = pos;
            if (closer == '}' && (!String(key) || !Expect(*this, ':'))) break;
            if (!Skip()) break;
            SkipSpace(*this);
            if (AtByte(*this, ',')) ++pos;
            // A pass that consumed nothing (the end of the text, a stray ':' or a mismatched
            // closer) would meet the same byte again and spin for ever. An empty value
            // followed by a comma, as in [1,,2], moves on.
            if (pos == passStart) break;
        }
        --depth;
        return ok;
    }
    while (pos < text.size() && IsScalarByte(text[pos])) ++pos;
    return true;
}

bool Json::Files(std::vector<Entry>& out) {
    if (!Expect(*this, '{')) return false;
    std::string key;
    for (;;) {
        if (!String(key) || !Expect(*this, ':')) return false;
        if (key == "files") {
            if (!Expect(*this, '[') || !FileArray(*this, out, key)) return false;
        } else if (key == "release") {
            // Two numbers would leave it to the reader which release this is.
            if (numbered || !ReleaseNumber(*this, release)) return false;
            numbered = true;
        } else if (!Skip()) {
            return false;
        }
        SkipSpace(*this);
        if (pos >= text.size()) return false;
        if (text[pos] == ',') {
            ++pos;
            continue;
        }
        if (text[pos] != '}') return false;
        ++pos;
        return true;
    }
}

}  // namespace orvantis
