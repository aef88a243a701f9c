// TEMPORARY stand-in so the update code links before the launcher shell's status line
// lands; the shell's version replaces this file.
#include "launcher/status.h"

#include "launcher/constants.h"
#include "launcher/globals.h"

namespace orvantis {

void Log(const std::wstring&) {}

void Status(const std::wstring& text, int32_t percent) {
    Log(text);
    auto* copy = new std::wstring(text);
    if (!PostMessageW(gWindow, kMsgStatus, static_cast<WPARAM>(static_cast<intptr_t>(percent)),
                      reinterpret_cast<LPARAM>(copy)))
        delete copy;
}

}  // namespace orvantis
