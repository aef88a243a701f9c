// What the player reads when Main.exe is missing, as the launcher must show it word for word.
#pragma once

#include <string>

namespace orvantis::test {

inline const std::wstring kMissingGameText =
    L"Falta Main.exe en la carpeta del juego.\n\nCasi siempre es el antivirus, que lo borra o lo pone en "
    L"cuarentena justo después de descargarlo. En Windows: Seguridad de Windows > Protección contra virus y "
    L"amenazas > Historial de protección, busca Main.exe y elige Restaurar o Permitir en el dispositivo. Para "
    L"que no vuelva a pasar, añade la carpeta del juego en Exclusiones.\n\nLuego vuelve a abrir "
    L"OrvantisKesh.exe: descargará lo que falte.";

}  // namespace orvantis::test
