#!/usr/bin/env bash
# Signs OrvantisKesh.exe with the operator's code-signing certificate (Authenticode, SHA-256),
# so that SmartScreen and virus scanners see who made the program that writes the game's files.
#
#   scripts/sign-launcher.sh IN.exe [OUT.exe]       (without OUT.exe, IN.exe is signed in place)
#
# Everything secret comes from the environment, never from the command line, where any user of
# the machine could read it in the process list:
#   ORVANTIS_SIGN_PKCS12     a PKCS#12 file (.p12/.pfx) holding the certificate chain and the key, or
#   ORVANTIS_SIGN_CERT       the certificate chain (PEM, the signing certificate first) and
#   ORVANTIS_SIGN_KEY        its private key (PEM)
#   ORVANTIS_SIGN_PASSWORD   the password of the PKCS#12 file or of the key (unset: none)
#   ORVANTIS_SIGN_TIMESTAMP  an RFC 3161 time-stamping URL (optional; with it the signature stays
#                            valid after the certificate expires)
#   ORVANTIS_SIGN_CAFILE     certificates to check the result against (optional; default: the
#                            system's list), for a private or test certificate authority
# The signed file is checked before it replaces anything; a failed step leaves OUT.exe as it was.
set -euo pipefail

usage() {
    sed -n '2,19p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}
[ $# -ge 1 ] && [ $# -le 2 ] || usage
in=$1
out=${2:-$1}
[ -f "$in" ] || { echo "error: $in is not a file" >&2; exit 1; }
command -v osslsigncode >/dev/null || { echo "error: osslsigncode is not installed" >&2; exit 1; }

credentials=()
if [ -n "${ORVANTIS_SIGN_PKCS12:-}" ]; then
    [ -z "${ORVANTIS_SIGN_CERT:-}${ORVANTIS_SIGN_KEY:-}" ] ||
        { echo "error: set ORVANTIS_SIGN_PKCS12 or ORVANTIS_SIGN_CERT and ORVANTIS_SIGN_KEY, not both" >&2; exit 1; }
    [ -f "$ORVANTIS_SIGN_PKCS12" ] || { echo "error: $ORVANTIS_SIGN_PKCS12 is not a file" >&2; exit 1; }
    credentials=(-pkcs12 "$ORVANTIS_SIGN_PKCS12")
elif [ -n "${ORVANTIS_SIGN_CERT:-}" ] && [ -n "${ORVANTIS_SIGN_KEY:-}" ]; then
    for f in "$ORVANTIS_SIGN_CERT" "$ORVANTIS_SIGN_KEY"; do
        [ -f "$f" ] || { echo "error: $f is not a file" >&2; exit 1; }
    done
    credentials=(-certs "$ORVANTIS_SIGN_CERT" -key "$ORVANTIS_SIGN_KEY")
else
    echo "error: no certificate: set ORVANTIS_SIGN_PKCS12, or ORVANTIS_SIGN_CERT and ORVANTIS_SIGN_KEY" >&2
    exit 1
fi

options=(-h sha256 -n "Orvantis Kesh")
# The password travels on a pipe to osslsigncode's standard input.
[ -n "${ORVANTIS_SIGN_PASSWORD+set}" ] && options+=(-readpass -)
[ -n "${ORVANTIS_SIGN_TIMESTAMP:-}" ] && options+=(-ts "$ORVANTIS_SIGN_TIMESTAMP")
checks=()
[ -n "${ORVANTIS_SIGN_CAFILE:-}" ] && checks=(-CAfile "$ORVANTIS_SIGN_CAFILE" -TSA-CAfile "$ORVANTIS_SIGN_CAFILE")

work=$(mktemp -d "${TMPDIR:-/tmp}/orvantis-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT
# An already signed input (a second run) is signed afresh rather than given a second signature.
unsigned="$work/unsigned.exe"
if ! osslsigncode remove-signature -in "$in" -out "$unsigned" >/dev/null 2>&1; then
    cp "$in" "$unsigned"
fi

printf '%s' "${ORVANTIS_SIGN_PASSWORD:-}" |
    osslsigncode sign "${credentials[@]}" "${options[@]}" -in "$unsigned" -out "$work/signed.exe" >"$work/sign.log" 2>&1 ||
    { cat "$work/sign.log" >&2; echo "error: signing failed" >&2; exit 1; }
osslsigncode verify "${checks[@]}" -in "$work/signed.exe" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; echo "error: the signed file does not verify" >&2; exit 1; }
# Copied beside the destination first, so that the destination is replaced in one rename.
cp "$work/signed.exe" "$out.signing"
mv -f "$out.signing" "$out"
echo "Signed $out"
grep -m1 -A1 'Signer #0:' "$work/verify.log" | sed -n 's/^[[:space:]]*Subject: */  signer: /p' || true
grep -E '^[[:space:]]*(Timestamp time|Timestamp Server Signature verification|Signature verification):' "$work/verify.log" |
    sed 's/^[[:space:]]*/  /' || true
