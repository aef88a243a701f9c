// Reading files for their SHA-256: the part of the local check that touches file contents.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace orvantis {

// SHA-256 of the file as 64 lowercase hex digits; "" when it cannot be opened. A read error
// ends the digest early, so it then matches nothing a manifest lists.
std::string HashFile(const std::wstring& path);

// The digest of every file of paths, as HashFile gives it, at the same index. reading(k) is
// called on the calling thread just before that thread reads paths[k], with k increasing.
std::vector<std::string> HashFiles(const std::vector<std::wstring>& paths,
                                   const std::function<void(size_t)>& reading);

}  // namespace orvantis
