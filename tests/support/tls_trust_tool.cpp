// tls_trust.exe: makes the Wine prefix it runs in trust a test certificate authority, and
// fetches one HTTPS URL with WinHTTP the way the launcher does, so that a test can show
// both halves of certificate checking (trusted CA accepted, anything else refused).
//
//   tls_trust trust <ca.der>     add the CA to the LocalMachine "Root" store of this prefix
//   tls_trust untrust <ca.der>   remove it again
//   tls_trust get <host> <port> <path>
//                                exit 0 and "status N bytes M" on an answer; exit 3 and
//                                "error E" (the WinHTTP error) when the request failed
//
// crypt32 is loaded at run time so that the tool needs no link settings of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "launcher/owned.h"
#include "launcher/win.h"
#include <wincrypt.h>
#include <winhttp.h>

namespace {

using OpenStoreFn = HCERTSTORE(WINAPI*)(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*);
using AddEncodedFn = BOOL(WINAPI*)(HCERTSTORE, DWORD, const BYTE*, DWORD, DWORD, PCCERT_CONTEXT*);
using FindFn = PCCERT_CONTEXT(WINAPI*)(HCERTSTORE, DWORD, DWORD, DWORD, const void*, PCCERT_CONTEXT);
using DeleteFn = BOOL(WINAPI*)(PCCERT_CONTEXT);
using CloseStoreFn = BOOL(WINAPI*)(HCERTSTORE, DWORD);
using CreateContextFn = PCCERT_CONTEXT(WINAPI*)(DWORD, const BYTE*, DWORD);
using FreeContextFn = BOOL(WINAPI*)(PCCERT_CONTEXT);

std::vector<BYTE> ReadAll(const wchar_t* path) {
    std::vector<BYTE> bytes;
    FILE* f = _wfopen(path, L"rb");
    if (!f) return bytes;
    BYTE buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    fclose(f);
    return bytes;
}

void CloseInternet(HINTERNET h) { WinHttpCloseHandle(h); }
using OwnedInternet = orvantis::Owned<HINTERNET, CloseInternet>;

template <typename F>
F Proc(HMODULE module, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The machine-wide store is what WinHTTP's chain building consults for every user of the
// prefix; the prefix itself belongs to the test, so nothing outside it learns of the CA.
// The registry store is opened directly: through the system store's collection, Wine 8
// adds a certificate but silently keeps it on delete.
int ChangeTrust(const wchar_t* derPath, bool add) {
    std::vector<BYTE> der = ReadAll(derPath);
    if (der.empty()) {
        fwprintf(stderr, L"cannot read %ls\n", derPath);
        return 2;
    }
    HMODULE crypt = LoadLibraryW(L"crypt32.dll");
    if (!crypt) return 2;
    auto openStore = Proc<OpenStoreFn>(crypt, "CertOpenStore");
    auto addEncoded = Proc<AddEncodedFn>(crypt, "CertAddEncodedCertificateToStore");
    auto find = Proc<FindFn>(crypt, "CertFindCertificateInStore");
    auto remove = Proc<DeleteFn>(crypt, "CertDeleteCertificateFromStore");
    auto closeStore = Proc<CloseStoreFn>(crypt, "CertCloseStore");
    auto createContext = Proc<CreateContextFn>(crypt, "CertCreateCertificateContext");
    auto freeContext = Proc<FreeContextFn>(crypt, "CertFreeCertificateContext");
    if (!openStore || !addEncoded || !find || !remove || !closeStore || !createContext || !freeContext) return 2;

    HCERTSTORE store =
        openStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        fwprintf(stderr, L"cannot open the Root store: %lu\n", GetLastError());
        return 2;
    }
    bool ok = false;
    if (add) {
        ok = addEncoded(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    } else {
        PCCERT_CONTEXT wanted = createContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        if (wanted) {
            PCCERT_CONTEXT found =
                find(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
            ok = found && remove(found);  // deleting also frees the found context
            freeContext(wanted);
        }
    }
    closeStore(store, 0);
    if (!ok) fwprintf(stderr, L"changing the Root store failed: %lu\n", GetLastError());
    return ok ? 0 : 3;
}

int Get(const wchar_t* host, const wchar_t* port, const wchar_t* path) {
    OwnedInternet session(WinHttpOpen(L"OrvantisKesh-Launcher/1", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) return 2;
    OwnedInternet connect(WinHttpConnect(session.h, host, static_cast<INTERNET_PORT>(_wtoi(port)), 0));
    if (!connect) return 2;
    OwnedInternet request(WinHttpOpenRequest(connect.h, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                             WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!request) return 2;
    if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.h, nullptr)) {
        wprintf(L"error %lu\n", GetLastError());
        return 3;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    unsigned long long total = 0;
    char buffer[65536];
    DWORD n = 0;
    while (WinHttpReadData(request.h, buffer, sizeof buffer, &n) && n > 0) total += n;
    wprintf(L"status %lu bytes %llu\n", status, total);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"trust" && argc == 3) return ChangeTrust(argv[2], true);
    if (command == L"untrust" && argc == 3) return ChangeTrust(argv[2], false);
    if (command == L"get" && argc == 5) return Get(argv[2], argv[3], argv[4]);
    fwprintf(stderr, L"usage: tls_trust trust|untrust <ca.der> | get <host> <port> <path>\n");
    return 1;
}
