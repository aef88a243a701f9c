#include "launcher/globals.h"

#include "launcher/constants.h"

namespace orvantis {

std::wstring& gFolder = *new std::wstring();
Endpoint& gSite = *new Endpoint{kHost, 443, true};
Endpoint& gFiles = *new Endpoint{kFilesHost, 443, true};

bool gAssumeYes = false;
bool gVerifyOnly = false;
bool gReady = false;

HWND gWindow = nullptr;
HWND gStatus = nullptr;
HWND gProgress = nullptr;
HWND gPlay = nullptr;

}  // namespace orvantis
