#include "update/name_clashes.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

#include "launcher/globals.h"
#include "launcher/text.h"
#include "manifest/safe_path.h"

namespace orvantis {
namespace {

constexpr size_t kDigestDigits = 64;

bool IsUpperHex(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'); }

// ".orvantis_pack_" + a pack's digest, and its ".part", right in the game folder: any such name
// is removed at the start of every run, and the pack named in the manifest is written there.
// Compared folded, since a digest in other letter case names the same file on Windows.
bool IsPackTemporary(const std::wstring& key, const std::wstring& folderKey) {
    static const std::wstring prefix = L".ORVANTIS_PACK_";
    if (key.compare(0, folderKey.size(), folderKey) != 0) return false;
    std::wstring_view name(key);
    name.remove_prefix(folderKey.size());
    if (name.substr(0, prefix.size()) != prefix) return false;
    name.remove_prefix(prefix.size());
    if (name.size() == kDigestDigits + 5 && name.substr(kDigestDigits) == L".PART") name.remove_suffix(5);
    return name.size() == kDigestDigits && std::all_of(name.begin(), name.end(), IsUpperHex);
}

}  // namespace

// Paths are mostly ASCII, and the platform's mapping costs a call per path: ASCII letters are
// folded here, and only a path with other letters is handed over whole.
std::wstring NameKey(const std::wstring& canonical) {
    std::wstring key = canonical;
    for (wchar_t& c : key) {
        if (c >= 0x80) return UpperCase(canonical);
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - (L'a' - L'A'));
    }
    return key;
}

// One hashed set of folded names: a manifest of tens of thousands of entries is judged with one
// look-up per entry and one per entry's ".part", with no comparison of every pair.
bool NamesClash(const std::vector<Entry>& entries) {
    const std::wstring folderKey = NameKey(gFolder);
    std::unordered_set<std::wstring> keys;
    keys.reserve(entries.size());
    std::wstring local;
    for (const Entry& entry : entries) {
        if (!SafePath(entry.path, local)) continue;
        std::wstring key = NameKey(local);
        if (IsPackTemporary(key, folderKey)) return true;
        // Every accepted path begins with the folder: only what follows it tells them apart.
        key.erase(0, folderKey.size());
        if (!keys.insert(std::move(key)).second) return true;
    }
    std::wstring part;
    for (const std::wstring& key : keys) {
        part = key;
        part += L".PART";
        if (keys.count(part) != 0) return true;
    }
    return false;
}

}  // namespace orvantis
