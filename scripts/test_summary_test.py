#!/usr/bin/env python3
"""scripts/test_summary.py fed crafted JUnit files of ctest: a skip for a reason on the allow
list passes, a GoogleTest skip for any other reason (which ctest reports as passed) and a shell
test's skip for another reason fail the run, and so does a failed test. Run by ctest (host
preset) as TestSummary.SkipsAreJudged."""
import os
import subprocess
import sys
import tempfile

SUMMARY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "test_summary.py")


def case(name, out, skipped=None, failed=False):
    out = out.replace("&", "&amp;").replace("<", "&lt;").replace("\r", "&#13;")
    extra = '<skipped message="%s"/>' % skipped if skipped else ('<failure message=""/>' if failed else "")
    status = "notrun" if skipped else ("fail" if failed else "run")
    return '<testcase name="%s" status="%s">%s<system-out>%s</system-out></testcase>' % (name, status, extra, out)


def gtest_skip(name, reason):
    # As a test program under Wine prints it: CR LF line ends.
    return case(name, "[ RUN      ] %s\r\nZ:\\t.cpp(9): Skipped\r\n%s\r\n[  SKIPPED ] %s (0 ms)\r\n" % (name, reason, name))


def summary(cases):
    with tempfile.NamedTemporaryFile("w", suffix=".xml", delete=False) as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<testsuite name="t">%s</testsuite>\n' % "".join(cases))
        path = f.name
    try:
        run = subprocess.run([sys.executable, SUMMARY, "Windows tests=" + path], capture_output=True, text=True)
    finally:
        os.unlink(path)
    return run.returncode, run.stdout, run.stderr


def main():
    passed = case("FaultMatrix.EveryFault", "[       OK ] FaultMatrix.EveryFault\r\n")
    allowed_shell = case("Reliability.LocalDrives",
                         "SKIPPED: mounting a tmpfs is not permitted on this machine (mount: denied)\n",
                         skipped="SKIP_RETURN_CODE=77")
    allowed_gtest = gtest_skip("Names.ShortName", "this file system keeps no short names")
    rows = [
        ("passes and allowed skips", [passed, allowed_shell, allowed_gtest], 0, None),
        ("a GoogleTest skip for a missing feature", [passed, gtest_skip(
            "Kill.AnyMoment", "the launcher in this tree does not install yet")], 1, "Kill.AnyMoment"),
        ("a shell skip for a missing feature", [case(
            "Reliability.NginxRecipe", "SKIPPED: the download phase in this tree fetches nothing yet\n",
            skipped="SKIP_RETURN_CODE=77")], 1, "Reliability.NginxRecipe"),
        ("a failed test", [passed, case("Fetch.X", "boom", failed=True)], 1, None),
    ]
    failures = []
    for name, cases, code, named in rows:
        rc, out, err = summary(cases)
        if rc != code or (named and named not in err):
            failures.append("%s: exit %d (expected %d)\n%s%s" % (name, rc, code, out, err))
    rc, out, _ = summary([passed, allowed_shell, allowed_gtest])
    if "Reliability     0 passed    0 failed    1 skipped" not in out or "Names           0 passed" not in out:
        failures.append("the per-suite lines are wrong:\n" + out)
    for f in failures:
        print("FAIL: " + f)
    print("test summary: %d cases, %d failed" % (len(rows) + 1, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
