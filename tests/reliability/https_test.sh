#!/usr/bin/env bash
# HTTPS end to end: nginx serves a signed release over TLS on 127.0.0.1:443 with a
# certificate from a test certificate authority made here; a Wine prefix of this test's own
# trusts that authority, and nothing else does.
#
#   https_test.sh SOURCE_DIR WINDOWS_BUILD_DIR probe
#       WinHTTP under Wine refuses the server while the CA is unknown and when the name
#       does not match, and accepts it once the prefix trusts the CA.
#   https_test.sh SOURCE_DIR WINDOWS_BUILD_DIR launcher
#       The launcher built with ORVANTIS_SITE_HOST = ORVANTIS_FILES_HOST = localhost
#       (build/windows-tls) ends "Sin conexión con la web..." without touching a file while
#       the certificate is not trusted, and installs the release once it is.
#
# Default endpoints have no port setting (443 unless --server, which forces plain HTTP), so
# the server must listen on 443; binding it needs root. Certificates are only ever checked
# against a host name: Wine 8 does not match IP addresses in the subject alternative name
# (an IP-only request fails with ERROR_WINHTTP_SECURE_CERT_CN_INVALID), hence "localhost".
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SOURCE_DIR="$(cd "$1" && pwd)"
source "$SOURCE_DIR/scripts/common.sh"
BUILD_DIR="$(cd "$2" && pwd)"
MODE="$3"
WORK="$BUILD_DIR/reliability/https-$MODE"
TLS_BUILD="$SOURCE_DIR/build/windows-tls"
TOOL="$BUILD_DIR/tools/tls_trust.exe"
NO_CONNECTION="Sin conexión con la web: se juega con los archivos que tienes."

for program in openssl nginx wine wineserver python3; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done
[ -f "$TOOL" ] || skip "$TOOL is not built"
[ "$(id -u)" -eq 0 ] || skip "listening on 127.0.0.1:443 needs root, and the launcher's HTTPS port cannot be changed"
first=$(getent ahosts localhost | awk 'NR==1 {print $1}')
[ "$first" == "127.0.0.1" ] || skip "localhost resolves to '$first' first, not 127.0.0.1"

rm -rf "$WORK"
mkdir -p "$WORK/pki" "$WORK/nginx"
cd "$WORK" || exit 1

# --- Certificates, all throwaway: made for this run, kept under the build folder. ---
make_ca() {  # NAME
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -keyout "pki/$1.key" -out "pki/$1.crt" -subj "/CN=Orvantis $1" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null &&
        openssl x509 -in "pki/$1.crt" -outform DER -out "pki/$1.der"
}
make_leaf() {  # NAME CA SAN
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "pki/$1.key" \
        -out "pki/$1.csr" -subj "/CN=$1" 2>/dev/null &&
        printf 'subjectAltName=%s\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n' \
            "$3" >"pki/$1.ext" &&
        openssl x509 -req -in "pki/$1.csr" -CA "pki/$2.crt" -CAkey "pki/$2.key" -CAcreateserial -days 2 \
            -extfile "pki/$1.ext" -out "pki/$1.crt" 2>/dev/null
}
make_ca test-ca && make_leaf localhost test-ca "DNS:localhost,IP:127.0.0.1" &&
    make_leaf wrong-name test-ca "DNS:other.invalid" || { fail "openssl could not make the certificates"; exit 1; }

# The server block for a certificate: the probe's own, or the production block of the
# publishing guide with its host name, certificate and folders pointed at this test's.
SERVER_BLOCK=own
server_block() {  # CERT
    if [ "$SERVER_BLOCK" == own ]; then
        cat <<EOF
server {
    listen 127.0.0.1:443 ssl;
    server_name localhost;
    ssl_certificate $WORK/pki/$1.crt;
    ssl_certificate_key $WORK/pki/$1.key;
    root $WORK/origin;
    location = /update/manifest.json {
        add_header x-orvantis-signature "$(cat origin/manifest.sig)" always;
    }
}
EOF
    else
        sed -e "s|listen 443 |listen 127.0.0.1:443 |" -e "s|server_name [^;]*;|server_name localhost;|" \
            -e "s|/etc/ssl/orvantis/fullchain.pem|$WORK/pki/$1.crt|" \
            -e "s|/etc/ssl/orvantis/privkey.pem|$WORK/pki/$1.key|" \
            -e "s|/etc/nginx/orvantis/manifest.conf|$WORK/nginx/manifest.conf|" \
            -e "s|/srv/orvantis/origin|$WORK/origin|" recipe/server.conf
    fi
}

serve() {  # CERT: (re)starts nginx on 127.0.0.1:443 with that certificate
    nginx_stop
    cat >nginx/nginx.conf <<EOF
worker_processes 1;
pid $WORK/nginx/nginx.pid;
error_log $WORK/nginx/error.log;
events { worker_connections 64; }
http {
    access_log $WORK/nginx/access.log;
    $(nginx_temp_paths "$WORK/nginx")
$(server_block "$1")
}
EOF
    nginx_start "$WORK/nginx/nginx.conf" "$WORK/nginx" 443 ||
        skip "nginx could not listen on 127.0.0.1:443 (taken by another program?): $(tail -1 nginx/nginx.out)"
}

# --- The Wine prefix of this test alone; only it ever learns of the test CA. ---
export WINEPREFIX="$BUILD_DIR/reliability/https-prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() {
    nginx_stop
    wine "$TOOL" untrust "$(winpath "$WORK/pki/test-ca.der")" >/dev/null 2>&1
    wine_prefix_stop
    orvantis_stop_display
}
trap cleanup EXIT
wine_prefix_start "$WINEPREFIX" ||
    { fail "the test's Wine prefix has no cryptographic providers even when made anew"; exit 1; }

probe() {  # prints the tool's answer line, returns its exit code
    wine "$TOOL" get localhost 443 /update/manifest.json 2>>"$WORK/wine-stderr.log" | tr -d '\r'
    return "${PIPESTATUS[0]}"
}
trust() { wine "$TOOL" trust "$(winpath "$WORK/pki/test-ca.der")" >/dev/null 2>&1; }

if [ "$MODE" == "probe" ]; then
    # A small release made with the development key, the signature served as a header.
    mkdir -p release/Data
    head -c 70000 /dev/urandom >release/Data/theme.ogg
    printf 'main' >release/Main.exe
    python3 "$SOURCE_DIR/tests/reliability/make_release.py" "$SOURCE_DIR/keys/dev-manifest.pem" release origin ||
        { fail "the release could not be built"; exit 1; }
    manifest_size=$(stat -c %s origin/update/manifest.json)
    serve localhost
    out=$(probe); rc=$?
    expect_eq "unknown CA: the request fails ($out)" 3 "$rc"
    trust || fail "the CA could not be added to the prefix's Root store"
    out=$(probe); rc=$?
    expect_eq "trusted CA: the request succeeds" "0:status 200 bytes $manifest_size" "$rc:$out"
    serve wrong-name
    out=$(probe); rc=$?
    expect_eq "trusted CA, certificate for another name: the request fails ($out)" 3 "$rc"
    wine "$TOOL" untrust "$(winpath "$WORK/pki/test-ca.der")" >/dev/null 2>&1 || fail "the CA could not be removed"
    serve localhost
    out=$(probe); rc=$?
    expect_eq "CA removed again: the request fails ($out)" 3 "$rc"
    [ "$RELIABILITY_FAILURES" -eq 0 ] || exit 1
    exit 0
fi

# --- Launcher mode. ---
[ "$MODE" == "launcher" ] || { echo "unknown mode $MODE" >&2; exit 2; }
LAUNCHER="$TLS_BUILD/OrvantisKesh.exe"
[ -f "$LAUNCHER" ] || skip "$LAUNCHER is not built (scripts/build-tls-launcher.sh builds it)"
grep -q '^ORVANTIS_SITE_HOST:STRING=localhost$' "$TLS_BUILD/CMakeCache.txt" &&
    grep -q '^ORVANTIS_FILES_HOST:STRING=localhost$' "$TLS_BUILD/CMakeCache.txt" ||
    skip "$LAUNCHER was not built with localhost as its hosts"
PUBLISH="$SOURCE_DIR/build/host/publisher/orvantis-publish"
[ -x "$PUBLISH" ] || skip "$PUBLISH is not built (the host preset builds it)"

# The release: the sample game built by the publisher, served by the production server block
# of the publishing guide with the include its publish-manifest.sh writes.
mkdir -p recipe
(cd recipe && recipe_from_doc "$SOURCE_DIR/docs/publishing.md") || { fail "no recipe in docs/publishing.md"; exit 1; }
for pattern in "listen 443 " "server_name " /etc/ssl/orvantis/fullchain.pem /etc/ssl/orvantis/privkey.pem \
    /etc/nginx/orvantis/manifest.conf /srv/orvantis/origin; do
    grep -qF "$pattern" recipe/server.conf || { fail "the production server block no longer has '$pattern'"; exit 1; }
done
MAIN="$BUILD_DIR/tools/fake_game.exe"
[ -f "$MAIN" ] || MAIN="$LAUNCHER"
python3 "$SOURCE_DIR/scripts/make-sample-game.py" release --main "$MAIN" --files 30 --seed 5 >/dev/null &&
    "$PUBLISH" build release origin --key "$SOURCE_DIR/keys/dev-manifest.pem" >publish.log 2>&1 ||
    { cat publish.log; fail "the release could not be built"; exit 1; }
ORIGIN="$WORK/origin" STORE="$WORK/manifests" CONF="$WORK/nginx/manifest.conf" NGINX_CMD=true \
    PIDFILE="$WORK/nginx/none.pid" sh -e recipe/publish-manifest.sh >/dev/null ||
    { fail "the guide's publish-manifest.sh failed"; exit 1; }
SERVER_BLOCK=doc

# Reuses a working display; orvantis_stop_display stops only a server started here.
orvantis_start_display || skip "no X display for the launcher's window"

GAME="$WORK/game"
run_launcher() {  # runs a verify-only update in $GAME; sets RC, RESULT
    (cd "$GAME" && timeout 300 wine OrvantisKesh.exe --yes --verify-only </dev/null >/dev/null 2>&1)
    RC=$?
    RESULT=$(cat "$GAME/orvantis_verify.result" 2>/dev/null || echo "(no result file)")
}
last_status() { tail -1 "$GAME/orvantis_update.log" 2>/dev/null | tr -d '\r' | cut -d' ' -f3-; }

# An installed older version: the untrusted runs must leave every byte and time as it is.
OLDER=$(cd release && find Data -type f | LC_ALL=C sort | head -1)
mkdir -p "$GAME/$(dirname "$OLDER")"
printf 'old main' >"$GAME/Main.exe"
head -c 1000 /dev/urandom >"$GAME/$OLDER"
printf 'keep me' >"$GAME/Data/notes.txt"
touch -d '2020-01-01 00:00:00' "$GAME/Main.exe" "$GAME/$OLDER" "$GAME/Data/notes.txt"
cp "$LAUNCHER" "$GAME/OrvantisKesh.exe"
before=$(snapshot "$GAME")

for cert in localhost wrong-name; do
    serve "$cert"
    rm -f "$GAME/orvantis_update.log" "$GAME/orvantis_verify.result"
    run_launcher
    if [ ! -f "$GAME/orvantis_update.log" ] && [ "$RESULT" == "(no result file)" ]; then
        skip "the launcher in this tree does not run an update yet (no log, no result file)"
    fi
    what="untrusted certificate ($cert, CA $( [ "$cert" == localhost ] && echo unknown || echo trusted))"
    expect_eq "$what: closing status" "$NO_CONNECTION" "$(last_status)"
    expect_eq "$what: Main.exe present, so ready and exit 0" "0:ready" "$RC:$RESULT"
    after=$(snapshot "$GAME" | grep -v -e ' ./orvantis_update.log$' -e ' ./orvantis_verify.result$')
    expect_eq "$what: no file touched" "$before" "$after"
    if [ "$cert" == localhost ]; then
        trust || fail "the CA could not be added to the prefix's Root store"
    fi
done

serve localhost
rm -f "$GAME/orvantis_update.log" "$GAME/orvantis_verify.result"
run_launcher
if [ "$(last_status)" == "No hay actualización publicada: se juega con los archivos que tienes." ] &&
    grep -q '"GET /update/manifest.json HTTP/1.1" 200 ' "$WORK/nginx/access.log"; then
    # A complete driver says this only for statuses other than 200.
    skip "the update driver in this tree does not apply a manifest yet (TLS itself worked: the manifest was served with 200)"
fi
if [ "$RESULT" == failed ] && ! grep '"GET /update/files/' "$WORK/nginx/access.log" | grep -q 'OrvantisKesh-Launcher'; then
    skip "the download phase in this tree fetches nothing yet (TLS itself worked; it ended: $(last_status))"
fi
expect_eq "trusted certificate: verify-only run" "0:ready" "$RC:$RESULT"
compared=0
while read -r path; do
    case "$path" in DataUltra/*) continue ;; esac  # taken only by folders that already have it
    if cmp -s "release/$path" "$GAME/$path"; then
        compared=$((compared + 1))
    else
        fail "$path differs from the release"
    fi
done < <(cd release && find . -type f | sed 's|^\./||')
expect_eq "files installed over HTTPS equal the release (DataUltra aside)" \
    "$(cd release && find . -type f ! -path './DataUltra/*' | wc -l)" "$compared"
expect_eq "a file the release does not list is kept" "keep me" "$(cat "$GAME/Data/notes.txt")"
expect_eq "the launcher's own hosts fetched the manifest over TLS" 1 \
    "$(grep -c 'GET /update/manifest.json ' "$WORK/nginx/access.log")"
[ -z "$(find "$GAME" -name '*.part' -o -name '.orvantis_pack_*')" ] || fail "temporary files were left behind"
echo "https: files compared $compared"
[ "$RELIABILITY_FAILURES" -eq 0 ] || exit 1
exit 0
