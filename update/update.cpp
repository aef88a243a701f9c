// Stand-in for the update run until the real driver lands: it asks the site host for the
// manifest the way the driver will (so a refused or silent server behaves alike), applies
// nothing, and lets the game be played with the files present.
#include "update/update.h"

#include <winhttp.h>

#include "launcher/constants.h"
#include "launcher/globals.h"
#include "launcher/status.h"

namespace orvantis {
namespace {

void CloseInternet(HINTERNET h) { WinHttpCloseHandle(h); }

// HTTP status of GET kManifestPath on gSite, 0 when there was no answer.
DWORD AskForManifest() {
    HINTERNET session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return 0;
    WinHttpSetTimeouts(session, 15000, 15000, 30000, 30000);
    DWORD status = 0;
    HINTERNET connection = WinHttpConnect(session, gSite.host.c_str(), gSite.port, 0);
    HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", kManifestPath, nullptr,
                                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                        gSite.secure ? WINHTTP_FLAG_SECURE : 0)
                                   : nullptr;
    if (request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            status = 0;
    }
    if (request) CloseInternet(request);
    if (connection) CloseInternet(connection);
    CloseInternet(session);
    return status;
}

}  // namespace

DWORD WINAPI Update(void*) {
    Status(L"Buscando actualizaciones...", -1);
    DWORD status = AskForManifest();
    Status(status == 0 ? L"Sin conexión con la web: se juega con los archivos que tienes."
                       : L"No hay actualización publicada: se juega con los archivos que tienes.",
           100);
    gReady = GetFileAttributesW((gFolder + kGameName).c_str()) != INVALID_FILE_ATTRIBUTES;
    PostMessageW(gWindow, kMsgFinished, 0, 0);
    return 0;
}

}  // namespace orvantis
