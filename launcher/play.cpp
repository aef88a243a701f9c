#include "launcher/play.h"

#include <cwchar>

#include "launcher/constants.h"
#include "launcher/extended_path.h"
#include "launcher/globals.h"

namespace orvantis {
namespace {

constexpr const wchar_t* kLaunchedToken = L"/orvantis";

// A start refused because an antivirus flagged or removed the file.
constexpr DWORD kVirusInfected = 225;
constexpr DWORD kVirusDeleted = 226;

constexpr const wchar_t* kMainMissing =
    L"Falta Main.exe en la carpeta del juego.\n\n"
    L"Casi siempre es el antivirus, que lo borra o lo pone en cuarentena justo después de descargarlo. "
    L"En Windows: Seguridad de Windows > Protección contra virus y amenazas > Historial de protección, "
    L"busca Main.exe y elige Restaurar o Permitir en el dispositivo. Para que no vuelva a pasar, añade la "
    L"carpeta del juego en Exclusiones.\n\n"
    L"Luego vuelve a abrir OrvantisKesh.exe: descargará lo que falte.";

constexpr const wchar_t* kStartBlocked =
    L"Windows no dejó abrir Main.exe porque lo confunde con un virus.\n\n"
    L"En Seguridad de Windows > Protección contra virus y amenazas > Historial de protección, elige "
    L"Permitir en el dispositivo para Main.exe, y añade la carpeta del juego en Exclusiones.";

bool Missing(const std::wstring& path) { return GetFileAttributesW(ExtendedPath(path).c_str()) == INVALID_FILE_ATTRIBUTES; }

void ShowError(const std::wstring& text) { MessageBoxW(gWindow, text.c_str(), kCaption, MB_ICONERROR); }

}  // namespace

std::wstring PlayFailureText(DWORD code, bool mainMissing) {
    if (code == kVirusInfected || code == kVirusDeleted) return kStartBlocked;
    if (mainMissing) return kMainMissing;
    wchar_t number[16];
    swprintf(number, 16, L"%lu", static_cast<unsigned long>(code));
    return std::wstring(L"No se pudo abrir Main.exe (error ") + number + L").";
}

void Play() {
    std::wstring exe = gFolder + kGameName;
    if (Missing(exe)) {
        ShowError(kMainMissing);
        return;
    }
    // Quoted, so that a game folder with blanks in its path still names one program.
    std::wstring commandLine = L"\"" + exe + L"\" " + kLaunchedToken;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, gFolder.c_str(),
                       &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        PostQuitMessage(0);
        return;
    }
    DWORD code = GetLastError();
    ShowError(PlayFailureText(code, Missing(exe)));
}

}  // namespace orvantis
