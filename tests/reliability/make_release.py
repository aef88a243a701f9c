#!/usr/bin/env python3
"""Builds a small signed release for the shell-driven reliability tests.

make_release.py KEY.pem SOURCE_DIR ORIGIN_DIR

Every file below SOURCE_DIR becomes a stand-alone object ORIGIN_DIR/update/files/<sha256>;
ORIGIN_DIR/update/manifest.json lists them, and ORIGIN_DIR/manifest.sig holds the
signature header value (r||s as 128 hex digits) made with openssl from KEY.pem.
"""
import hashlib
import json
import os
import subprocess
import sys


def der_to_raw(der: bytes) -> bytes:
    # SEQUENCE { INTEGER r, INTEGER s }, each at most 33 bytes for P-256.
    assert der[0] == 0x30
    pos = 2 if der[1] < 0x80 else 2 + (der[1] & 0x7F)
    out = b""
    for _ in range(2):
        assert der[pos] == 0x02
        length = der[pos + 1]
        value = der[pos + 2:pos + 2 + length].lstrip(b"\x00")
        out += value.rjust(32, b"\x00")
        pos += 2 + length
    return out


def main() -> int:
    key, source, origin = sys.argv[1:4]
    files_dir = os.path.join(origin, "update", "files")
    os.makedirs(files_dir, exist_ok=True)
    entries = []
    for root, _dirs, names in os.walk(source):
        for name in sorted(names):
            full = os.path.join(root, name)
            data = open(full, "rb").read()
            digest = hashlib.sha256(data).hexdigest()
            with open(os.path.join(files_dir, digest), "wb") as f:
                f.write(data)
            rel = os.path.relpath(full, source).replace(os.sep, "/")
            entries.append({"path": rel, "size": len(data), "sha256": digest})
    entries.sort(key=lambda e: e["path"])
    body = json.dumps({"files": entries}, indent=1).encode() + b"\n"
    manifest = os.path.join(origin, "update", "manifest.json")
    with open(manifest, "wb") as f:
        f.write(body)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, manifest],
                         check=True, capture_output=True).stdout
    with open(os.path.join(origin, "manifest.sig"), "w") as f:
        f.write(der_to_raw(der).hex())
    return 0


if __name__ == "__main__":
    sys.exit(main())
