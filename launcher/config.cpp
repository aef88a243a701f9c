#include "launcher/config.h"

#include <cstdio>
#include <cstring>

#include "launcher/constants.h"
#include "launcher/files.h"
#include "launcher/extended_path.h"
#include "launcher/globals.h"
#include "launcher/held_files.h"
#include "launcher/own_names.h"
#include "launcher/owned.h"
#include "launcher/text.h"

namespace orvantis {
namespace {

// Written in binary mode so the CR LF pairs reach the file exactly as they stand here.
const char kTemplate[] =
    "[LOGIN]\r\nRememberMe=0\r\nLanguage=Eng\r\n[Window]\r\nWidth=1024\r\nHeight=768\r\nWindowed=1\r\n"
    "HDTextures=1\r\n[Audio]\r\nSoundVolume=5\r\nMusicVolume=10\r\n[CONNECTION SETTINGS]\r\nServerIP=%s\r\n"
    "ServerPort=44405\r\n[UI]\r\nLocale=es\r\nFont=\r\n";

const wchar_t kSection[] = L"CONNECTION SETTINGS";

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsAsciiDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Both candidates are constants, so every call makes the same choice; a host name that
// fails the test must never end up in the game's settings.
std::wstring ServerName() { return IsHostName(kMigrationHostname) ? kMigrationHostname : kServerAddress; }

}  // namespace

bool IsHostName(const std::wstring& name) {
    if (name.empty() || name.size() > 63 || name.back() == L'.') return false;
    bool labelStart = true, dot = false, letter = false;
    wchar_t previous = 0;
    for (wchar_t c : name) {
        if (c == L'.') {
            if (labelStart || previous == L'-') return false;
            dot = true;
            labelStart = true;
        } else if (IsAsciiDigit(c) || IsAsciiLetter(c)) {
            if (IsAsciiLetter(c)) letter = true;
            labelStart = false;
        } else if (c == L'-') {
            if (labelStart) return false;
            labelStart = false;
        } else {
            return false;
        }
        previous = c;
    }
    return dot && letter && name.back() != L'-';
}

void WriteDefaultConfig() {
    std::wstring path = gFolder + kConfigName;
    if (!Exists(path)) {
        // A new file only: a link at the name (one that points nowhere looks missing) is not
        // written through, and whatever is there stays.
        OwnedHandle file = OpenHeld(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_NEW);
        if (!file) return;
        std::string server = Narrow(ServerName());
        std::string text(sizeof kTemplate + server.size(), '\0');
        text.resize(static_cast<size_t>(snprintf(text.data(), text.size(), kTemplate, server.c_str())));
        DWORD written = 0;
        WriteFile(file.h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }

    // The profile functions read a file they cannot open as empty, and an empty ServerIP would be
    // "repaired" over the player's own server: while a scanner holds the file, wait for it. The
    // file is the player's: a link at its name may be the player's own doing, so it is neither
    // removed nor written through, and the file is left as it is.
    OwnedHandle file = OpenHeld(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!file || !AtOwnName(file.h, path)) return;
    file.Reset();
    auto write = [&](const wchar_t* key, const wchar_t* value) {
        WhileHeld([&] { return WritePrivateProfileStringW(kSection, key, value, ExtendedPath(path).c_str()) != 0; });
    };

    wchar_t ip[64] = {};
    wchar_t port[16] = {};
    GetPrivateProfileStringW(kSection, L"ServerIP", L"", ip, 64, ExtendedPath(path).c_str());
    GetPrivateProfileStringW(kSection, L"ServerPort", L"", port, 16, ExtendedPath(path).c_str());

    // Only the two connection keys are ever written: the rest of the file is the player's.
    if (ip[0] == 0 || wcscmp(ip, kPlaceholderAddress) == 0) {
        write(L"ServerIP", ServerName().c_str());
        write(L"ServerPort", kServerPort);
    } else if (IsHostName(kMigrationHostname) && wcscmp(ip, kServerAddress) == 0 && wcscmp(port, kServerPort) == 0) {
        write(L"ServerIP", kMigrationHostname);
    }
}

}  // namespace orvantis
