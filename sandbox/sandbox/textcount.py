"""A text's length as the service counts it: its published text library (twitter-text, installed
into sandbox/node_modules by scripts/setup from sandbox/package-lock.json) run by node in a helper
process kept for the sandbox's life. Without node or the library the sandbox counts code points
and says so once."""

import json
import os
import shutil
import subprocess
import sys
import threading

_SANDBOX = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_HELPER = os.path.join(_SANDBOX, "twitter_text_count.js")
LIBRARY = os.path.join(_SANDBOX, "node_modules", "twitter-text")
_lock = threading.Lock()
_helper = None
_warned = False


def missing():
    """Why the library can't count, or None when it can."""
    if not os.path.exists(os.path.join(LIBRARY, "package.json")):
        return "twitter-text is not installed in %s (scripts/setup installs it)" % LIBRARY
    if shutil.which("node") is None:
        return "node is not installed (scripts/setup installs it)"
    return None


def warn_once():
    """Says once, on stderr, when texts are counted in code points instead."""
    global _warned
    why = missing()
    if why and not _warned:
        print("sandbox: %s: texts counted in code points, not as the service counts them" % why,
              file=sys.stderr, flush=True)
        _warned = True


def _count(text):
    global _helper
    if _helper is None or _helper.poll() is not None:
        _helper = subprocess.Popen(["node", _HELPER], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, text=True, encoding="utf-8")
    _helper.stdin.write(json.dumps(text) + "\n")
    _helper.stdin.flush()
    return int(_helper.stdout.readline())


def weighted_length(text):
    with _lock:
        if (_helper is not None and _helper.poll() is None) or missing() is None:
            return _count(text)
        warn_once()
        return len(text)
