// The one question of a first install: may the game go into this folder?
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "manifest/entry.h"

namespace orvantis {

// True when gFolder lacks Main.exe, or has it but lacks the Data folder.
bool NeedsInstall();

// Bytes a first install downloads: every entry except those under "DataUltra/" (any case).
uint64_t InstallBytes(const std::vector<Entry>& entries);

// Items of gFolder other than the launcher and its own "orvantis_update*" files; 0 when
// the folder cannot be listed.
int32_t CountOtherItems();

// The question as shown, warning included when others > 3.
std::wstring InstallQuestion(const std::wstring& folder, uint64_t total, int32_t others);

// Asks (unless gAssumeYes) and announces the install. False when the user refused: then
// kMsgFinished with flag 1 has been posted and nothing may be written to the folder.
bool ConfirmInstall(const std::vector<Entry>& entries);

}  // namespace orvantis
