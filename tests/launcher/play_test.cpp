#include "launcher/play.h"

#include <gtest/gtest.h>

namespace orvantis {
namespace {

const std::wstring kMissingText =
    L"Falta Main.exe en la carpeta del juego.\n\nCasi siempre es el antivirus, que lo borra o lo pone en "
    L"cuarentena justo después de descargarlo. En Windows: Seguridad de Windows > Protección contra virus y "
    L"amenazas > Historial de protección, busca Main.exe y elige Restaurar o Permitir en el dispositivo. Para "
    L"que no vuelva a pasar, añade la carpeta del juego en Exclusiones.\n\nLuego vuelve a abrir "
    L"OrvantisKesh.exe: descargará lo que falte.";
const std::wstring kBlockedText =
    L"Windows no dejó abrir Main.exe porque lo confunde con un virus.\n\nEn Seguridad de Windows > Protección "
    L"contra virus y amenazas > Historial de protección, elige Permitir en el dispositivo para Main.exe, y añade "
    L"la carpeta del juego en Exclusiones.";

TEST(PlayFailureText, ChoosesTheMessageByCodeThenByMissingFile) {
    struct Row {
        const char* name;
        DWORD code;
        bool missing;
        std::wstring text;
    } rows[] = {
        {"virus infected", 225, false, kBlockedText},
        {"virus deleted", 226, false, kBlockedText},
        {"antivirus code wins over a missing file", 226, true, kBlockedText},
        {"file vanished", ERROR_FILE_NOT_FOUND, true, kMissingText},
        {"other code, file vanished", ERROR_ACCESS_DENIED, true, kMissingText},
        {"access denied", ERROR_ACCESS_DENIED, false, L"No se pudo abrir Main.exe (error 5)."},
        {"bad exe format", ERROR_BAD_EXE_FORMAT, false, L"No se pudo abrir Main.exe (error 193)."},
        {"neighbour of 225", 224, false, L"No se pudo abrir Main.exe (error 224)."},
        {"neighbour of 226", 227, false, L"No se pudo abrir Main.exe (error 227)."},
        {"zero", 0, false, L"No se pudo abrir Main.exe (error 0)."},
        {"unsigned", 0xFFFFFFFFu, false, L"No se pudo abrir Main.exe (error 4294967295)."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(PlayFailureText(row.code, row.missing), row.text);
    }
}

}  // namespace
}  // namespace orvantis
