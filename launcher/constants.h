// Fixed names, paths and identifiers of the launcher.
#pragma once

#include "deployment.h"
#include "launcher/win.h"

namespace orvantis {

// Deployment settings, chosen when the launcher is built.
inline constexpr const wchar_t* kHost = ORVANTIS_SITE_HOST;
inline constexpr const wchar_t* kFilesHost = ORVANTIS_FILES_HOST;
inline constexpr const wchar_t* kMigrationHostname = ORVANTIS_GAME_HOST;
inline constexpr const wchar_t* kServerAddress = ORVANTIS_GAME_ADDRESS;

inline constexpr const wchar_t* kServerPort = L"44405";
inline constexpr const wchar_t* kPlaceholderAddress = L"127.127.127.127";

inline constexpr const wchar_t* kManifestPath = L"/update/manifest.json";
inline constexpr const wchar_t* kFilesPath = L"/update/files/";
inline constexpr const wchar_t* kUserAgent = L"OrvantisKesh-Launcher/1";
inline constexpr const char* kSignatureHeader = "x-orvantis-signature";

inline constexpr const wchar_t* kSelfName = L"OrvantisKesh.exe";
inline constexpr const wchar_t* kOldSelfName = L"OrvantisKesh.old.exe";
inline constexpr const wchar_t* kGameName = L"Main.exe";
inline constexpr const wchar_t* kCacheName = L"orvantis_update.cache";
inline constexpr const wchar_t* kLogName = L"orvantis_update.log";
inline constexpr const wchar_t* kResultName = L"orvantis_verify.result";
inline constexpr const wchar_t* kReleaseName = L"orvantis_update.release";
inline constexpr const wchar_t* kConfigName = L"config.ini";
inline constexpr const wchar_t* kCaption = L"Orvantis Kesh";
inline constexpr const wchar_t* kClassName = L"OrvantisLauncher";

inline constexpr UINT kMsgStatus = WM_APP + 1;
inline constexpr UINT kMsgFinished = WM_APP + 2;
inline constexpr UINT kMsgAsk = WM_APP + 3;
inline constexpr int kPlayId = 100;
inline constexpr UINT_PTR kPlayTimer = 7;

}  // namespace orvantis
