#!/usr/bin/env bash
# Signs a few manifest bodies with the development key through the openssl CLI and
# writes them as test vectors: the body, its r||s signature (what the launcher takes)
# and the DER signature openssl gives (what the launcher must refuse).
# Run from anywhere; rewrites tests/manifest/signature_vectors.inc.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
key="$root/keys/dev-manifest.pem"
out="$root/tests/manifest/signature_vectors.inc"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The vectors are only worth anything if the key is the one the launcher trusts.
point=$(openssl pkey -in "$key" -pubout -outform DER | tail -c 65 | xxd -p -c 65)
default=$(sed -n 's/.*"\(04[0-9a-fA-F]\{128\}\)".*/\1/p' "$root/cmake/settings.cmake" | tr 'A-F' 'a-f')
if [ "$point" != "$default" ]; then
    echo "error: keys/dev-manifest.pem does not match the default ORVANTIS_MANIFEST_KEY" >&2
    exit 1
fi

hex() { xxd -p -c 1000000 "$1" | tr -d '\n'; }

# DER SEQUENCE { INTEGER r, INTEGER s } -> 32-byte big-endian r then s.
der_to_rs() {
    local ints
    ints=$(openssl asn1parse -inform DER -in "$1" | sed -n 's/.*INTEGER *://p')
    local rs=""
    for v in $ints; do
        v=$(echo "$v" | tr 'A-F' 'a-f')
        while [ ${#v} -lt 64 ]; do v="0$v"; done
        rs="$rs$v"
    done
    [ ${#rs} -eq 128 ] || { echo "error: unexpected DER signature" >&2; exit 1; }
    echo "$rs"
}

# sign NAME BODYFILE [short]: with "short", signs again until r or s has a leading
# zero byte, so that the padding of the conversion is exercised too.
sign() {
    local name=$1 body=$2 want=${3:-}
    local rs
    for _ in $(seq 1 4000); do
        openssl dgst -sha256 -sign "$key" -out "$work/sig.der" "$body"
        rs=$(der_to_rs "$work/sig.der")
        if [ -z "$want" ] || [ "${rs:0:2}" = "00" ] || [ "${rs:64:2}" = "00" ]; then
            openssl dgst -sha256 -verify <(openssl pkey -in "$key" -pubout) -signature "$work/sig.der" "$body" >/dev/null
            printf '    {"%s",\n     "%s",\n     "%s",\n     "%s"},\n' \
                "$name" "$(hex "$body")" "$rs" "$(hex "$work/sig.der")" >>"$out.tmp"
            return
        fi
    done
    echo "error: no signature with a leading zero byte" >&2
    exit 1
}

printf '{"version":7,"files":[\n{"path":"Main.exe","size":5,"sha256":"%s"},\n{"path":"Data/Player/hero.bmd","size":0,"sha256":"%s"}\n]}\n' \
    "$(printf 'hello' | sha256sum | cut -c1-64)" "$(printf '' | sha256sum | cut -c1-64)" >"$work/manifest"
printf '' >"$work/empty"
printf '{"files":[{"path":"Datos/ca\xc3\xb1\xc3\xb3n.txt","size":3}]}\r\n\x00\xff' >"$work/binary"

{
    echo "// Written by tests/manifest/make_signature_vectors.sh with keys/dev-manifest.pem; do not edit."
    echo "// Each row: name, body (hex), r||s signature (hex), openssl's DER signature (hex)."
} >"$out.tmp"
sign "manifest" "$work/manifest"
sign "empty body" "$work/empty"
sign "non-ASCII, CR LF, zero byte" "$work/binary"
sign "leading zero byte in r or s" "$work/manifest" short
mv "$out.tmp" "$out"
echo "wrote $out"
