#!/usr/bin/env python3
"""bench/report.py fed crafted results: a sane run passes, and each broken premise (the window
start of a run whose virtual desktop did not hold, a negative time, a ratio off its scale)
fails the report with its reason. Run by ctest (host preset) as BenchReport.PremisesChecked."""
import os
import subprocess
import sys
import tempfile

REPORT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "report.py")

# One run of a healthy bench: Wine starts in 0.27 s, a window program 0.12 s later, the warm
# launcher takes 1.2 s against a 1.0 s floor, and the 512 MiB install 6 s against 5.5 s.
SANE = {
    "runs": 1, "empty_s": 0.27, "window_s": 0.39,
    "tree_files": 20000, "attr_s": 1.0, "attr_loop_s": 0.18, "warm_s": 1.2,
    "bytes_a": 536870912, "objects_a": 2000, "floor_a_s": 5.5, "launcher_a_s": 6.0,
}


def report(changes):
    values = dict(SANE, **changes)
    with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as f:
        for key, value in values.items():
            f.write("%s\t%s\n" % (key, value))
        path = f.name
    try:
        run = subprocess.run([sys.executable, REPORT, path], capture_output=True, text=True)
    finally:
        os.unlink(path)
    return run.returncode, run.stdout, run.stderr


def main():
    failures = []

    def expect(name, changes, code, reason):
        rc, out, err = report(changes)
        if rc != code or (reason and reason not in err) or (not reason and "error:" in err):
            failures.append("%s: exit %d (expected %d), stderr:\n%s" % (name, rc, code, err))
        if "launcher first install" not in out:
            failures.append("%s: the table was not printed:\n%s" % (name, out))

    expect("a sane run", {}, 0, None)
    # The run of the issue: 2.051 s for a window program, the 2 s wait of a bare X server.
    expect("the virtual desktop did not hold", {"window_s": 2.051}, 1, "the virtual desktop did not hold")
    # A warm launcher faster than the window start it has taken off.
    expect("window start above the launcher's time", {"window_s": 1.1, "warm_s": 0.9, "attr_s": 0.5}, 1,
           "taken off a time of 0.900 s")
    expect("a negative time", {"launcher_a_s": 0.2}, 1, "not above zero")
    # An install at 516% of its floor: the floor is the platform's own limit.
    expect("a ratio off its scale", {"floor_a_s": 0.27 + 5.16 * 1.0, "launcher_a_s": 1.27}, 1, "off its scale")

    for f in failures:
        print("FAIL: " + f)
    print("report premises: %d cases, %d failed" % (5, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
