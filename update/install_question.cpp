#include "update/install_question.h"

#include <cwchar>

#include "launcher/constants.h"
#include "launcher/files.h"
#include "launcher/extended_path.h"
#include "launcher/globals.h"
#include "launcher/owned.h"
#include "launcher/status.h"
#include "manifest/ascii.h"

namespace orvantis {

bool NeedsInstall() { return !Exists(gFolder + kGameName) || !Exists(gFolder + L"Data"); }

uint64_t InstallBytes(const std::vector<Entry>& entries) {
    uint64_t total = 0;
    for (const Entry& e : entries)
        if (!StartsWithIgnoringAsciiCase(e.path, "DataUltra/")) total += e.size;
    return total;
}

int32_t CountOtherItems() {
    WIN32_FIND_DATAW data;
    OwnedFind find = FindFirst((ExtendedPath(gFolder) + L"*").c_str(), &data);
    if (!find) return 0;
    int32_t others = 0;
    do {
        const wchar_t* name = data.cFileName;
        if (wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0) continue;
        if (SameIgnoringAsciiCase(name, kSelfName)) continue;
        // Case-sensitive on purpose: only the names this launcher itself writes are ours.
        if (wcsncmp(name, L"orvantis_update", 15) == 0) continue;
        ++others;
    } while (FindNextFileW(find.h, &data));
    return others;
}

std::wstring InstallQuestion(const std::wstring& folder, uint64_t total, int32_t others) {
    wchar_t sizeText[32] = {};
    swprintf(sizeText, 32, L"%.1f GB", static_cast<double>(total) / 1000000000.0);
    std::wstring text = L"\u00bfInstalar Orvantis Kesh en esta carpeta?\n\n" + folder + L"\n\nSe descargar\u00e1n " +
                        sizeText + L".";
    if (others > 3)
        text += L"\n\nEsta carpeta ya tiene otros archivos. Es mejor crear una carpeta vac\u00eda (por ejemplo "
                L"C:\\OrvantisKesh), mover OrvantisKesh.exe ah\u00ed y abrirlo desde esa carpeta.";
    return text;
}

bool ConfirmInstall(const std::vector<Entry>& entries) {
    std::wstring question = InstallQuestion(gFolder, InstallBytes(entries), CountOtherItems());
    if (!gAssumeYes) {
        LRESULT answer = SendMessageW(gWindow, kMsgAsk, 0, reinterpret_cast<LPARAM>(question.c_str()));
        if (answer != IDYES) {
            PostMessageW(gWindow, kMsgFinished, 1, 0);
            return false;
        }
    }
    Status(L"Instalando Orvantis Kesh...", -1);
    return true;
}

}  // namespace orvantis
