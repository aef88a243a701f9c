// Process-wide state shared by the window, the update thread and the workers.
#pragma once

#include <cstdint>
#include <string>

#include "launcher/win.h"

namespace orvantis {

// Where a server is reached: host name only (no scheme, port or path).
struct Endpoint {
    std::wstring host;
    uint16_t port = 443;
    bool secure = true;
};

// These are references to heap objects that are never freed: when the window is
// closed mid-update, wWinMain returns and the runtime runs static destructors while
// the update and download threads are still reading them.
extern std::wstring& gFolder;  // the game folder, absolute, ending with a backslash
extern Endpoint& gSite;
extern Endpoint& gFiles;

// Written only before the update thread starts.
extern bool gAssumeYes;
extern bool gVerifyOnly;

// Written by the update thread before it posts kMsgFinished; read by the window.
extern bool gReady;

extern HWND gWindow;
extern HWND gStatus;
extern HWND gProgress;
extern HWND gPlay;

}  // namespace orvantis
