#!/usr/bin/env bash
# scripts/sign-launcher.sh with throwaway certificates made here: a test certificate authority,
# a code-signing certificate it issued (as PKCS#12 and as PEM, both under a password), and a
# time-stamping authority answering RFC 3161 requests on loopback. The signed launcher must pass
# `osslsigncode verify`, keep its resources (version block, application manifest, icon) byte for
# byte, never see the password on a command line, and still install a published release under Wine.
#
#   signed_launcher_test.sh SOURCE_DIR WINDOWS_BUILD_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SOURCE_DIR="$(cd "$1" && pwd)"
source "$SOURCE_DIR/scripts/common.sh"
BUILD_DIR="$(cd "$2" && pwd)"
WORK="$BUILD_DIR/reliability/signed-launcher"
SIGN="$SOURCE_DIR/scripts/sign-launcher.sh"
LAUNCHER="$BUILD_DIR/OrvantisKesh.exe"
PUBLISH="$SOURCE_DIR/build/host/publisher/orvantis-publish"
OBJCOPY=x86_64-w64-mingw32-objcopy
export PASSWORD="correct horse $RANDOM battery"

for program in openssl osslsigncode python3 wine "$OBJCOPY"; do
    command -v "$program" >/dev/null || skip "$program is not installed"
done
[ -f "$LAUNCHER" ] || skip "$LAUNCHER is not built"
[ -x "$PUBLISH" ] || skip "$PUBLISH is not built (the host preset builds it)"
REAL_OSSLSIGNCODE=$(command -v osslsigncode)

rm -rf "$WORK"
mkdir -p "$WORK/pki" "$WORK/bin"
cd "$WORK" || exit 1

TSA_PID=""
WINE_STARTED=""
cleanup() {
    orvantis_stop_pids $TSA_PID
    serve_stop
    [ -n "$WINE_STARTED" ] && orvantis_stop_wine
    orvantis_stop_display
}
trap cleanup EXIT

# --- Throwaway certificates. ---
issue() {  # NAME EXTENSIONS...: a certificate for NAME issued by the test CA
    local name=$1
    shift
    openssl req -newkey rsa:2048 -nodes -keyout "pki/$name.key" -out "pki/$name.csr" -subj "/CN=Orvantis $name" \
        2>/dev/null && printf '%s\n' "$@" >"pki/$name.ext" &&
        openssl x509 -req -in "pki/$name.csr" -CA pki/ca.crt -CAkey pki/ca.key -CAcreateserial -days 2 \
            -extfile "pki/$name.ext" -out "pki/$name.crt" 2>/dev/null
}
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout pki/ca.key -out pki/ca.crt -subj "/CN=Orvantis test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null &&
    issue publisher basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning &&
    issue tsa basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=critical,timeStamping &&
    openssl pkcs12 -export -in pki/publisher.crt -inkey pki/publisher.key -certfile pki/ca.crt \
        -out pki/publisher.p12 -passout env:PASSWORD &&
    openssl pkey -in pki/publisher.key -aes256 -out pki/publisher-locked.key -passout env:PASSWORD ||
    { fail "openssl could not make the certificates"; exit 1; }

# --- A time-stamping authority on loopback: `openssl ts -reply` behind a small HTTP server. ---
echo 01 >pki/tsaserial
cat >pki/tsa.cnf <<EOF
[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = $WORK/pki/tsaserial
crypto_device = builtin
signer_cert = $WORK/pki/tsa.crt
certs = $WORK/pki/ca.crt
signer_key = $WORK/pki/tsa.key
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = yes
ess_cert_id_chain = no
ess_cert_id_alg = sha256
EOF
cat >tsa.py <<'EOF'
import http.server, os, subprocess, sys, tempfile

class Tsa(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as d:
            open(os.path.join(d, "q.tsq"), "wb").write(query)
            done = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile",
                                   os.path.join(d, "q.tsq"), "-out", os.path.join(d, "r.tsr")], capture_output=True)
            if done.returncode != 0:
                self.send_response(500)
                self.end_headers()
                return
            reply = open(os.path.join(d, "r.tsr"), "rb").read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
        with open(sys.argv[2], "a") as log:
            log.write("stamped\n")

server = http.server.HTTPServer(("127.0.0.1", 0), Tsa)
print(server.server_address[1], flush=True)
server.serve_forever()
EOF
python3 tsa.py "$WORK/pki/tsa.cnf" "$WORK/tsa-requests.log" >tsa.port 2>tsa.err &
TSA_PID=$!
for _ in $(seq 1 100); do [ -s tsa.port ] && break; sleep 0.05; done
TSA_PORT=$(cat tsa.port)
[ -n "$TSA_PORT" ] || { fail "the time-stamping authority did not start"; exit 1; }

# osslsigncode as the script calls it: every command line it gets is recorded.
cat >bin/osslsigncode <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$WORK/osslsigncode-args.log"
exec "$REAL_OSSLSIGNCODE" "\$@"
EOF
chmod +x bin/osslsigncode

sign() {  # OUT, with the ORVANTIS_SIGN_* variables of the caller's environment
    cp "$LAUNCHER" "$1" && PATH="$WORK/bin:$PATH" bash "$SIGN" "$1" >"$1.log" 2>&1
}

# 1. PKCS#12 with a time stamp.
ORVANTIS_SIGN_PKCS12=pki/publisher.p12 ORVANTIS_SIGN_PASSWORD=$PASSWORD \
    ORVANTIS_SIGN_TIMESTAMP="http://127.0.0.1:$TSA_PORT/" ORVANTIS_SIGN_CAFILE=pki/ca.crt sign p12.exe ||
    { cat p12.exe.log; fail "signing with the PKCS#12 file failed"; }
# 2. PEM certificate and password-protected PEM key, no time stamp.
ORVANTIS_SIGN_CERT=pki/publisher.crt ORVANTIS_SIGN_KEY=pki/publisher-locked.key ORVANTIS_SIGN_PASSWORD=$PASSWORD \
    ORVANTIS_SIGN_CAFILE=pki/ca.crt sign pem.exe || { cat pem.exe.log; fail "signing with PEM files failed"; }
# 3. A wrong password signs nothing and leaves the file alone.
cp "$LAUNCHER" wrong.exe
ORVANTIS_SIGN_PKCS12=pki/publisher.p12 ORVANTIS_SIGN_PASSWORD="not $PASSWORD" ORVANTIS_SIGN_CAFILE=pki/ca.crt \
    PATH="$WORK/bin:$PATH" bash "$SIGN" wrong.exe >wrong.log 2>&1 && fail "a wrong password was accepted"
cmp -s "$LAUNCHER" wrong.exe && pass "a wrong password leaves the file as it was" ||
    fail "a failed signing changed the file"

grep -qF "$PASSWORD" osslsigncode-args.log && fail "the password appeared on osslsigncode's command line" ||
    pass "the password never appears on a command line ($(wc -l <osslsigncode-args.log) calls recorded)"
grep -q -- '-h sha256' osslsigncode-args.log && pass "SHA-256 is asked for" || fail "no '-h sha256' in the calls"

section() {  # FILE NAME OUT: one section's bytes
    "$OBJCOPY" -O binary --only-section="$2" "$1" "$3" 2>/dev/null
}
has_utf16() {  # FILE TEXT: the file holds TEXT in UTF-16LE, as resource strings are stored
    python3 -c 'import sys; sys.exit(sys.argv[2].encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$1" "$2"
}
section "$LAUNCHER" .rsrc unsigned.rsrc || fail "no resource section in the built launcher"
has_utf16 unsigned.rsrc 'Orvantis Kesh - Actualizador del juego' && has_utf16 unsigned.rsrc 1.1.0.0 &&
    grep -qaF 'name="OrvantisKesh.Launcher"' unsigned.rsrc ||
    fail "the built launcher's resources lack the version block or the application manifest"
for exe in p12.exe pem.exe; do
    out=$(osslsigncode verify -CAfile pki/ca.crt -TSA-CAfile pki/ca.crt -in "$exe" 2>&1)
    grep -q '^Signature verification: ok' <<<"$out" && pass "$exe: osslsigncode verify accepts it" ||
        { echo "$out"; fail "$exe: the signature does not verify"; }
    grep -q 'Message digest algorithm *: SHA256' <<<"$out" && pass "$exe: signed with SHA-256" ||
        fail "$exe: not a SHA-256 signature"
    cmp -s "$LAUNCHER" "$exe" && fail "$exe: the file did not change"
    for name in .rsrc .text .rdata .data; do
        section "$exe" "$name" signed.section && section "$LAUNCHER" "$name" unsigned.section &&
            cmp -s signed.section unsigned.section && pass "$exe: $name unchanged" || fail "$exe: $name differs"
    done
done
out=$(osslsigncode verify -CAfile pki/ca.crt -TSA-CAfile pki/ca.crt -in p12.exe 2>&1)
grep -q 'Timestamp Server Signature verification: ok' <<<"$out" && [ -s tsa-requests.log ] &&
    pass "p12.exe carries a verified RFC 3161 time stamp" || fail "p12.exe has no verified time stamp"
out=$(osslsigncode verify -CAfile pki/ca.crt -in pem.exe 2>&1)
grep -q 'Timestamp is not available' <<<"$out" && pass "pem.exe: no time stamp was asked for" ||
    fail "pem.exe has a time stamp nobody asked for"
# Signing again replaces the signature instead of nesting a second one.
ORVANTIS_SIGN_CERT=pki/publisher.crt ORVANTIS_SIGN_KEY=pki/publisher-locked.key ORVANTIS_SIGN_PASSWORD=$PASSWORD \
    ORVANTIS_SIGN_CAFILE=pki/ca.crt bash "$SIGN" pem.exe >again.log 2>&1 || fail "signing a signed file failed"
expect_eq "a second signing leaves one signature" 1 \
    "$(osslsigncode verify -CAfile pki/ca.crt -in pem.exe 2>&1 | sed -n 's/^Number of verified signatures: //p')"

# --- The signed launcher installs a published release under Wine. ---
if [ -z "${WINEPREFIX:-}" ]; then
    orvantis_start_wine
    WINE_STARTED=1
fi
orvantis_start_display || skip "no X display for the launcher's window"
MAIN="$BUILD_DIR/tools/fake_game.exe"
[ -f "$MAIN" ] || MAIN="$LAUNCHER"
publish_sample "$PUBLISH" "$MAIN" release origin 30 3 || { fail "the sample release could not be published"; exit 1; }
serve_origin "$PUBLISH" origin serve.log || { fail "orvantis-publish serve did not start"; exit 1; }
mkdir game
cp p12.exe game/OrvantisKesh.exe
run_verify game
expect_eq "the signed launcher installs the release" "0:ready" "$RC:$RESULT"
same_as_release release game
expect_eq "files installed by the signed launcher equal the release (DataUltra aside)" \
    "$(cd release && find . -type f ! -path './DataUltra/*' | wc -l)" "$COMPARED"

[ "$RELIABILITY_FAILURES" -eq 0 ] || exit 1
exit 0
