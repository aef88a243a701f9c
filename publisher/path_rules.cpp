#include "publisher/path_rules.h"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

#include "manifest/ascii.h"

namespace orvantis {
namespace {

// Decodes one code point at i; false for anything but a shortest-form scalar value.
bool NextCodePoint(const std::string& s, size_t& i, uint32_t& cp) {
    uint8_t b = uint8_t(s[i]);
    int extra;
    uint32_t min;
    if (b < 0x80) {
        cp = b;
        ++i;
        return true;
    } else if ((b & 0xE0) == 0xC0) {
        extra = 1, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3, cp = b & 0x07, min = 0x10000;
    } else {
        return false;
    }
    if (i + extra >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
        uint8_t c = uint8_t(s[i + k]);
        if ((c & 0xC0) != 0x80) return false;
        cp = cp << 6 | (c & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
    return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | (cp >> 12 & 0x3F));
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

uint32_t Upper(uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 32;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17E && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x178) {
        bool evenIsLower = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (evenIsLower ? (c % 2 == 0) : (c % 2 == 1)) return c - 1;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return c - 32;
    if (c >= 0x430 && c <= 0x44F) return c - 32;
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

// Windows opens a device, not a file, for these names, with any extension and in any folder.
bool IsDeviceName(const std::string& name) {
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* d : kDevices)
        if (SameIgnoringAsciiCase(base, d)) return true;
    if (base.size() >= 4 && (StartsWithIgnoringAsciiCase(base, "COM") || StartsWithIgnoringAsciiCase(base, "LPT"))) {
        std::string digit = base.substr(3);
        if (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') return true;
        // Superscript one, two and three count as digits to Windows.
        if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
    }
    return false;
}

std::string NameProblem(const std::string& name) {
    if (name.empty()) return "has an empty folder name";
    if (name == "." || name == "..") return "has a \".\" or \"..\" name";
    for (char ch : name) {
        unsigned char c = (unsigned char)ch;
        if (c == '\\') return "contains a backslash";
        if (c == ':') return "contains a colon";
        if (c == '"') return "contains a double quote, which the manifest cannot carry";
        if (c < 0x20 || c == 0x7F) return "contains a control character";
        if (c == '<' || c == '>' || c == '|' || c == '?' || c == '*')
            return std::string("contains '") + char(c) + "', which Windows does not allow in file names";
    }
    if (name.back() == '.' || name.back() == ' ')
        return "has a name ending in a dot or a blank, which Windows strips (the file would land elsewhere)";
    if (IsDeviceName(name)) return "uses a Windows device name (" + name + "), which cannot be a file";
    size_t units = 0;
    Utf8Units(name, units);
    if (units > kMaxNameUnits) return "has a name longer than " + std::to_string(kMaxNameUnits) + " characters";
    return "";
}

}  // namespace

bool Utf8Units(const std::string& text, size_t& units) {
    units = 0;
    size_t i = 0;
    uint32_t cp = 0;
    while (i < text.size()) {
        if (!NextCodePoint(text, i, cp)) return false;
        units += cp >= 0x10000 ? 2 : 1;
    }
    return true;
}

std::string PathProblem(const std::string& path) {
    if (path.empty()) return "is empty";
    size_t units = 0;
    if (!Utf8Units(path, units)) return "is not valid UTF-8";
    if (path[0] == '/') return "is not relative";
    size_t start = 0;
    while (true) {
        size_t slash = path.find('/', start);
        std::string problem = NameProblem(path.substr(start, slash == std::string::npos ? slash : slash - start));
        if (!problem.empty()) return problem;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (units > kMaxPathUnits)
        return "is " + std::to_string(units) + " characters long; a release takes at most " +
               std::to_string(kMaxPathUnits) + ", so that it fits game folders of up to " +
               std::to_string(FolderRoom(kMaxPathUnits)) + " characters";
    return "";
}

std::string LongestPathText(const std::vector<std::string>& paths) {
    const std::string* longest = nullptr;
    size_t most = 0;
    for (const std::string& p : paths) {
        size_t units = 0;
        Utf8Units(p, units);
        if (!longest || units > most) longest = &p, most = units;
    }
    if (!longest) return "";
    std::string text = "Longest path: " + std::to_string(most) + " characters (" + Printable(*longest) + ")";
    // The shortest game folder is a drive's root, "C:".
    if (most + 3 > kLauncherPathUnits) return text + ": too long for any game folder\n";
    return text + ": it fits game folders of up to " + std::to_string(FolderRoom(most)) + " characters\n";
}

std::string FoldCase(const std::string& path) {
    std::string out;
    size_t i = 0;
    uint32_t cp = 0;
    while (i < path.size()) {
        if (!NextCodePoint(path, i, cp)) {
            out += path[i++];
            continue;
        }
        AppendUtf8(out, Upper(cp));
    }
    return out;
}

const char* LeftOutReason(const std::string& path) {
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    bool top = slash == std::string::npos;
    if (name.size() >= 5 && SameIgnoringAsciiCase(std::string_view(name).substr(name.size() - 5), ".part"))
        return "a download in progress of the launcher";
    if (!top) return nullptr;
    if (StartsWithIgnoringAsciiCase(name, "orvantis_update.") || SameIgnoringAsciiCase(name, "orvantis_verify.result"))
        return "a file the launcher writes";
    if (StartsWithIgnoringAsciiCase(name, ".orvantis_pack_")) return "a pack the launcher is unpacking";
    if (SameIgnoringAsciiCase(name, "OrvantisKesh.exe"))
        return "the launcher itself, which never replaces its own executable; a new launcher reaches players "
               "as a full download from the site";
    if (SameIgnoringAsciiCase(name, "OrvantisKesh.old.exe")) return "an old launcher the launcher deletes";
    if (SameIgnoringAsciiCase(name, "config.ini"))
        return "the launcher writes each player's server setting into it; publishing it would overwrite the "
               "player's settings at every update";
    return nullptr;
}

std::string Printable(const std::string& path) {
    std::string out;
    size_t i = 0;
    uint32_t cp = 0;
    while (i < path.size()) {
        size_t at = i;
        if (NextCodePoint(path, i, cp) && cp >= 0x20 && cp != 0x7F) {
            out.append(path, at, i - at);
        } else {
            char buffer[8];
            snprintf(buffer, sizeof buffer, "\\x%02X", (unsigned char)path[at]);
            out += buffer;
            i = at + 1;
        }
    }
    return out;
}

}  // namespace orvantis
