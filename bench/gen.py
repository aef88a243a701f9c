#!/usr/bin/env python3
"""Data sets, signed releases and the nginx configuration of the benchmark.

  gen.py tree OUT --files N --folders F --min-size A --max-size B --seed S
      A release folder: Main.exe plus N files in F folders under Data/, of random sizes in
      [A, B] and distinct contents; writes OUT.list (one relative path a line).
  gen.py release TREE WWW KEY [--pack]
      Publishes TREE into WWW/update/: every file as an object named by its SHA-256,
      a manifest (with packs of up to 16 MiB when --pack) and its r||s signature in
      WWW/update/manifest.json.sig (the publisher's layout). Writes TREE.objects.
  gen.py objects TREE
      Writes TREE.objects: "sha256 size path" a line, every file of TREE.list as its own object.
  gen.py sign MANIFEST KEY
      Prints the r||s signature of MANIFEST by KEY as 128 hex digits.
  gen.py nginx PREFIX NAME=PORT:WWW ...
      Writes PREFIX/nginx.conf with one loopback server per release.
"""
import argparse
import hashlib
import json
import os
import random
import subprocess
import sys

POOL_SIZE = 80 << 20
PACK_LIMIT = 16 << 20


def make_tree(args):
    rng = random.Random(args.seed)
    pool = rng.randbytes(POOL_SIZE)
    out = args.out
    os.makedirs(out, exist_ok=True)
    paths = []
    with open(os.path.join(out, "Main.exe"), "wb") as f:
        f.write(b"MZ benchmark stand-in for the game " + str(args.seed).encode() + b"\n")
    paths.append("Main.exe")
    per_folder = -(-args.files // args.folders)
    total = 0
    for i in range(args.files):
        folder = "Data/f%03d" % (i // per_folder)
        os.makedirs(os.path.join(out, folder), exist_ok=True)
        size = rng.randint(args.min_size, args.max_size)
        # A unique head keeps every content (and so every object name) distinct.
        head = ("%d:%d:" % (args.seed, i)).encode().ljust(32, b".")[: min(32, size)]
        body_len = size - len(head)
        start = rng.randrange(0, POOL_SIZE - min(body_len, POOL_SIZE - 1))
        rel = "%s/file_%05d.bin" % (folder, i)
        with open(os.path.join(out, rel), "wb") as f:
            f.write(head)
            left = body_len
            while left > 0:
                n = min(left, POOL_SIZE - start)
                f.write(pool[start : start + n])
                left -= n
                start = 0
        paths.append(rel)
        total += size
    with open(out.rstrip("/") + ".list", "w") as f:
        f.write("\n".join(paths) + "\n")
    print("tree %s: %d files, %d bytes" % (out, len(paths), total))


def file_sha(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            b = f.read(1 << 20)
            if not b:
                break
            h.update(b)
    return h.hexdigest()


def link_object(src, dst):
    if os.path.exists(dst):
        return
    try:
        os.link(src, dst)
    except OSError:
        with open(src, "rb") as a, open(dst, "wb") as b:
            b.write(a.read())


def der_to_rs(der):
    # SEQUENCE { INTEGER r, INTEGER s }, each integer made 32 bytes big-endian.
    if der[0] != 0x30:
        raise ValueError("not a DER sequence")
    pos = 2 if der[1] < 0x80 else 2 + (der[1] & 0x7F)
    out = b""
    for _ in range(2):
        if der[pos] != 0x02:
            raise ValueError("not a DER integer")
        n = der[pos + 1]
        v = der[pos + 2 : pos + 2 + n].lstrip(b"\x00")
        out += v.rjust(32, b"\x00")
        pos += 2 + n
    return out


def sign(manifest, key):
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, manifest],
                         check=True, capture_output=True).stdout
    return der_to_rs(der).hex()


def list_objects(tree):
    with open(tree + ".list") as f:
        paths = [l.rstrip("\n") for l in f if l.strip()]
    entries = []
    for p in paths:
        src = os.path.join(tree, p)
        entries.append({"path": p, "size": os.path.getsize(src), "sha256": file_sha(src)})
    with open(tree + ".objects", "w") as f:
        for e in entries:
            f.write("%s %d %s\n" % (e["sha256"], e["size"], e["path"]))
    return entries


def make_release(args):
    tree = args.tree.rstrip("/")
    files_dir = os.path.join(args.www, "update", "files")
    os.makedirs(files_dir, exist_ok=True)
    entries = list_objects(tree)
    for e in entries:
        link_object(os.path.join(tree, e["path"]), os.path.join(files_dir, e["sha256"]))
    if args.pack:
        make_packs(tree, entries, files_dir)
    manifest = os.path.join(args.www, "update", "manifest.json")
    with open(manifest, "w") as f:
        f.write('{"files":[\n')
        f.write(",\n".join(json.dumps(e, separators=(",", ":")) for e in entries))
        f.write("\n]}\n")
    with open(manifest + ".sig", "w") as f:
        f.write(sign(manifest, args.key))
    packs = len({e.get("pack") for e in entries if e.get("pack")})
    print("release %s: %d entries, %d packs" % (args.www, len(entries), packs))


def make_packs(tree, entries, files_dir):
    """Packs runs of small files, in manifest order, into objects of at most 16 MiB.

    Stands in for the publisher's packing until the publisher is there to do it."""
    group = []
    size = 0

    def flush():
        nonlocal group, size
        if len(group) >= 8:
            data = b"".join(open(os.path.join(tree, e["path"]), "rb").read() for e in group)
            sha = hashlib.sha256(data).hexdigest()
            with open(os.path.join(files_dir, sha), "wb") as f:
                f.write(data)
            offset = 0
            for e in group:
                e.update({"pack": sha, "offset": offset, "packSize": len(data)})
                offset += e["size"]
        group, size = [], 0

    for e in entries:
        if e["size"] > PACK_LIMIT // 4 or e["path"] == "Main.exe":
            continue
        if size + e["size"] > PACK_LIMIT:
            flush()
        group.append(e)
        size += e["size"]
    flush()


NGINX = """worker_processes 2;
pid "{prefix}/nginx.pid";
error_log "{prefix}/error.log" warn;
user root;
events {{ worker_connections 1024; }}
http {{
    access_log off;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    keepalive_timeout 120s;
    types {{ }}
    default_type application/octet-stream;
    client_body_temp_path "{prefix}/tmp/body";
    proxy_temp_path "{prefix}/tmp/proxy";
    fastcgi_temp_path "{prefix}/tmp/fastcgi";
    uwsgi_temp_path "{prefix}/tmp/uwsgi";
    scgi_temp_path "{prefix}/tmp/scgi";
    log_format requests '$request_uri $status $body_bytes_sent $msec';
{servers}}}
"""

SERVER = """    server {{
        listen 127.0.0.1:{port};
        root "{www}";
        access_log "{prefix}/{name}.access.log" requests;
        location = /update/manifest.json {{
            add_header x-orvantis-signature {signature};
        }}
    }}
"""


def quoted(path):
    """A path for inside double quotes of nginx.conf: a checkout may sit below blanks."""
    return path.replace("\\", "\\\\").replace('"', '\\"')


def make_nginx(args):
    servers = ""
    for server in args.servers:
        name, rest = server.split("=", 1)
        port, www = rest.split(":", 1)
        with open(os.path.join(www, "update", "manifest.json.sig")) as f:
            signature = f.read().strip()
        servers += SERVER.format(port=port, www=quoted(www), prefix=quoted(args.prefix), name=name,
                                 signature=signature)
    for d in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(args.prefix, "tmp", d), exist_ok=True)
    with open(os.path.join(args.prefix, "nginx.conf"), "w") as f:
        f.write(NGINX.format(prefix=quoted(args.prefix), servers=servers))


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="cmd", required=True)
    t = sub.add_parser("tree")
    t.add_argument("out")
    t.add_argument("--files", type=int, required=True)
    t.add_argument("--folders", type=int, required=True)
    t.add_argument("--min-size", type=int, required=True)
    t.add_argument("--max-size", type=int, required=True)
    t.add_argument("--seed", type=int, default=1)
    r = sub.add_parser("release")
    r.add_argument("tree")
    r.add_argument("www")
    r.add_argument("key")
    r.add_argument("--pack", action="store_true")
    o = sub.add_parser("objects")
    o.add_argument("tree")
    s = sub.add_parser("sign")
    s.add_argument("manifest")
    s.add_argument("key")
    n = sub.add_parser("nginx")
    n.add_argument("prefix")
    n.add_argument("servers", nargs="+")
    args = p.parse_args()
    if args.cmd == "tree":
        make_tree(args)
    elif args.cmd == "release":
        make_release(args)
    elif args.cmd == "objects":
        list_objects(args.tree.rstrip("/"))
    elif args.cmd == "sign":
        print(sign(args.manifest, args.key))
    else:
        make_nginx(args)


if __name__ == "__main__":
    sys.exit(main())
