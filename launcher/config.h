// The game's "config.ini": created from a template, repaired, migrated to the host name.
#pragma once

#include <string>

namespace orvantis {

void WriteDefaultConfig();
bool IsHostName(const std::wstring& name);

}  // namespace orvantis
