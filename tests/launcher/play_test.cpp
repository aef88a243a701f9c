#include "launcher/play.h"

#include <gtest/gtest.h>

#include "tests/support/play_texts.h"

namespace orvantis {
namespace {

using test::kMissingGameText;

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
        {"file vanished", ERROR_FILE_NOT_FOUND, true, kMissingGameText},
        {"other code, file vanished", ERROR_ACCESS_DENIED, true, kMissingGameText},
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
