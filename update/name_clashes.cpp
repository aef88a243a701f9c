#include "update/name_clashes.h"

#include <algorithm>
#include <string_view>

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

std::wstring NameKey(const std::wstring& canonical) { return UpperCase(canonical); }

// One sorted list of folded names: a manifest of tens of thousands of entries is judged in one
// sort and a binary search per entry, with no comparison of every pair.
bool NamesClash(const std::vector<Entry>& entries) {
    const std::wstring folderKey = NameKey(gFolder);
    std::vector<std::wstring> keys;
    keys.reserve(entries.size());
    std::wstring local;
    for (const Entry& entry : entries) {
        if (!SafePath(entry.path, local)) continue;
        keys.push_back(NameKey(local));
        if (IsPackTemporary(keys.back(), folderKey)) return true;
    }
    std::sort(keys.begin(), keys.end());
    if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return true;
    std::wstring part;
    for (const std::wstring& key : keys) {
        part = key;
        part += L".PART";
        if (std::binary_search(keys.begin(), keys.end(), part)) return true;
    }
    return false;
}

}  // namespace orvantis
