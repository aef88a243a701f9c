// TEMPORARY stand-in so the download code links before the launcher shell lands;
// the shell's own status.cpp replaces this file.
#include "launcher/status.h"

#include "launcher/constants.h"
#include "launcher/globals.h"

namespace orvantis {

void Status(const std::wstring& text, int32_t percent) {
    Log(text);
    auto* copy = new std::wstring(text);
    if (!PostMessageW(gWindow, kMsgStatus, static_cast<WPARAM>(static_cast<INT_PTR>(percent)),
                      reinterpret_cast<LPARAM>(copy)))
        delete copy;
}

void Log(const std::wstring&) {}

}  // namespace orvantis
