#include "launcher/config.h"

#include <cstdio>
#include <cstring>

#include "launcher/constants.h"
#include "launcher/files.h"
#include "launcher/globals.h"
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
        FILE* f = _wfopen(path.c_str(), L"wb");
        if (!f) return;
        fprintf(f, kTemplate, Narrow(ServerName()).c_str());
        fclose(f);
        return;
    }

    wchar_t ip[64] = {};
    wchar_t port[16] = {};
    GetPrivateProfileStringW(kSection, L"ServerIP", L"", ip, 64, path.c_str());
    GetPrivateProfileStringW(kSection, L"ServerPort", L"", port, 16, path.c_str());

    // Only the two connection keys are ever written: the rest of the file is the player's.
    if (ip[0] == 0 || wcscmp(ip, kPlaceholderAddress) == 0) {
        WritePrivateProfileStringW(kSection, L"ServerIP", ServerName().c_str(), path.c_str());
        WritePrivateProfileStringW(kSection, L"ServerPort", kServerPort, path.c_str());
    } else if (IsHostName(kMigrationHostname) && wcscmp(ip, kServerAddress) == 0 && wcscmp(port, kServerPort) == 0) {
        WritePrivateProfileStringW(kSection, L"ServerIP", kMigrationHostname, path.c_str());
    }
}

}  // namespace orvantis
