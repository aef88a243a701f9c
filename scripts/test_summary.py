#!/usr/bin/env python3
"""One line per suite (passed, failed, skipped) out of ctest's JUnit files, and a verdict on
every skip: a test may skip only for something this machine cannot do, and only for a reason
on the allow list below. Any other skip (a regression that a test mistook for a missing
feature, a build that left a program out) fails the run.

  test_summary.py NAME=JUNIT.xml [NAME=JUNIT.xml ...]

Exit status: 0 when no test failed and every skip is allowed, 1 otherwise, 2 when a JUnit file
is missing or unreadable (ctest did not get as far as writing it)."""
import re
import sys
import xml.etree.ElementTree as ET

# Named reasons a test may skip for. Each pattern matches the reason the test prints.
ALLOWED = [
    ("mounting not permitted", r"mounting a tmpfs is not permitted|a read-only bind mount is not permitted"),
    ("port 443 taken", r"nginx could not listen on 127\.0\.0\.1:443"),
    ("not root: port 443 cannot be bound", r"listening on 127\.0\.0\.1:443 needs root"),
    ("localhost is not 127.0.0.1", r"localhost resolves to '[^']*' first, not 127\.0\.0\.1"),
    ("no unprivileged user", r"a read-only file needs an unprivileged user"),
    ("no short names on this file system", r"this file system keeps no short names"),
    ("no links on this platform", r"this platform makes no links for a test"),
    # These two cases need a mount; Reliability.LocalDrives mounts it, runs them and fails when
    # they skip there.
    ("case run by Reliability.LocalDrives", r"Reliability\.LocalDrives (mounts one and )?runs this case"),
]


def skip_reason(output):
    """The reason a test printed for its skip: a shell test's "SKIPPED: ..." line, or the
    message GoogleTest prints between "Skipped" and "[  SKIPPED ]"."""
    m = re.search(r"^SKIPPED: (.*)$", output, re.M)
    if m:
        return m.group(1).strip()
    m = re.search(r"Skipped\s*\n(.*?)\n\[  SKIPPED \]", output, re.S)
    if m:
        return " ".join(m.group(1).split())
    return "(no reason printed)"


def allowed_as(reason):
    for name, pattern in ALLOWED:
        if re.search(pattern, reason):
            return name
    return None


def read(path):
    """(test name, "passed" | "failed" | "skipped", output) for each test case."""
    cases = []
    for case in ET.parse(path).getroot().iter("testcase"):
        name = case.get("name", "?")
        out = "".join(e.text or "" for e in case.iter("system-out"))
        skipped = case.find("skipped")
        if skipped is not None:
            out = out + "\n" + (skipped.get("message") or "")
            cases.append((name, "skipped", out))
        elif case.find("failure") is not None or case.find("error") is not None or case.get("status") == "fail":
            cases.append((name, "failed", out))
        elif re.search(r"^\[  SKIPPED \]", out, re.M):
            # A GoogleTest skip: ctest counts it through SKIP_REGULAR_EXPRESSION, which the
            # JUnit file does not show.
            cases.append((name, "skipped", out))
        else:
            cases.append((name, "passed", out))
    return cases


def main(args):
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    status = 0
    bad_skips = []
    for arg in args:
        label, _, path = arg.partition("=")
        try:
            cases = read(path)
        except (OSError, ET.ParseError) as e:
            print(f"error: {label}: no test results in {path} ({e})", file=sys.stderr)
            status = 2
            continue
        suites = {}
        for name, verdict, out in cases:
            suite = suites.setdefault(name.split(".")[0], {"passed": 0, "failed": 0, "skipped": 0})
            suite[verdict] += 1
            if verdict == "failed":
                status = max(status, 1)
            if verdict == "skipped":
                reason = skip_reason(out)
                allowed = allowed_as(reason)
                print(f"  skipped {name}: {reason}" + (f" [allowed: {allowed}]" if allowed else " [NOT ALLOWED]"))
                if not allowed:
                    bad_skips.append(name)
        print(f"== {label}: one line per suite ==")
        width = max((len(s) for s in suites), default=0)
        for suite in sorted(suites):
            c = suites[suite]
            print(f"{suite:<{width}}  {c['passed']:4d} passed  {c['failed']:3d} failed  {c['skipped']:3d} skipped")
    if bad_skips:
        print("error: these tests skipped for a reason that is not on the allow list in scripts/test_summary.py: "
              + ", ".join(bad_skips), file=sys.stderr)
        status = max(status, 1)
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
