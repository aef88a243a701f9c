#!/usr/bin/env python3
"""Where a launcher run spends its time, seen from outside the process.

  timeline.py FOLDER ACCESS_LOG -- COMMAND...

Runs COMMAND while watching FOLDER (not its subfolders) with inotify, and prints, in milliseconds
from the start, when each of the launcher's own files was opened, written and closed, and when the
server saw each request (from the nginx access log, whose lines end with the request's time).
Nothing inside the launcher is changed or instrumented."""
import ctypes
import os
import select
import struct
import subprocess
import sys
import time

IN_ACCESS, IN_MODIFY, IN_CLOSE_WRITE, IN_CLOSE_NOWRITE, IN_OPEN, IN_CREATE = 1, 2, 8, 16, 32, 256
NAMES = {IN_ACCESS: "read", IN_MODIFY: "write", IN_CLOSE_WRITE: "closed after writing",
         IN_CLOSE_NOWRITE: "closed", IN_OPEN: "opened", IN_CREATE: "created"}


def main():
    sep = sys.argv.index("--")
    folder, access_log = sys.argv[1], sys.argv[2]
    command = sys.argv[sep + 1:]
    libc = ctypes.CDLL(None, use_errno=True)
    fd = libc.inotify_init1(os.O_NONBLOCK)
    mask = IN_OPEN | IN_CREATE | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_MODIFY
    libc.inotify_add_watch(fd, folder.encode(), mask)
    log_size = os.path.getsize(access_log) if os.path.exists(access_log) else 0
    start_wall = time.time()
    start = time.monotonic()
    child = subprocess.Popen(command, stdin=subprocess.DEVNULL)
    events = []
    last = {}
    while True:
        done = child.poll() is not None
        ready, _, _ = select.select([fd], [], [], 0.002)
        if ready:
            now = (time.monotonic() - start) * 1000
            data = os.read(fd, 65536)
            pos = 0
            while pos < len(data):
                _, m, _, n = struct.unpack_from("iIII", data, pos)
                name = data[pos + 16: pos + 16 + n].rstrip(b"\0").decode(errors="replace")
                pos += 16 + n
                for bit, word in NAMES.items():
                    # Repeated writes of one file are shown once, as the first of the run.
                    if m & bit and not (bit == IN_MODIFY and last.get(name) == bit):
                        events.append((now, "%s %s" % (name, word)))
                        last[name] = bit
        elif done:
            break
    end = (time.monotonic() - start) * 1000
    events.append((end, "process ended (exit %d)" % child.returncode))
    if os.path.exists(access_log):
        with open(access_log) as f:
            f.seek(log_size)
            for line in f:
                parts = line.split()
                if len(parts) >= 4:
                    events.append(((float(parts[-1]) - start_wall) * 1000, "server: %s %s" % (parts[0], parts[1])))
    events.sort()
    requests = [e for e in events if e[1].startswith("server: /update/files/")]
    shown = [e for e in events if not e[1].startswith("server: /update/files/")]
    if requests:
        shown += [(requests[0][0], "server: first object request"), (requests[-1][0], "server: last object request")]
        shown.sort()
    for t, what in shown:
        print("%8.1f ms  %s" % (t, what))
    print("%d object requests" % len(requests))


if __name__ == "__main__":
    main()
