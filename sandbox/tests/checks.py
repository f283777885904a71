"""The sandbox's Python tests count their checks here and report them at the end."""

import sys

counts = {"passed": 0, "failed": 0}


def check(name, cond, detail=""):
    if cond:
        counts["passed"] += 1
    else:
        counts["failed"] += 1
        print("FAIL: %s %s" % (name, detail if detail else ""))


def run(part, *args):
    """Runs one part; a step that raises ends its part, not the run."""
    try:
        part(*args)
    except Exception as e:
        check(part.__name__, False, "raised %r" % e)


def report_and_exit():
    print("%d passed, %d failed" % (counts["passed"], counts["failed"]))
    sys.exit(1 if counts["failed"] else 0)
