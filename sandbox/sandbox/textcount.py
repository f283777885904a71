"""A text's length as the service counts it: its published text library (twitter-text) run by
node in a helper process kept for the sandbox's life. TRACKPOST_TWITTER_TEXT names the library's
folder; without it the sandbox counts code points and says so once."""

import json
import os
import subprocess
import sys
import threading

_HELPER = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                       "twitter_text_count.js")
_lock = threading.Lock()
_helper = None
_warned = False


def _start():
    folder = os.environ.get("TRACKPOST_TWITTER_TEXT", "")
    if not folder or not os.path.exists(os.path.join(folder, "package.json")):
        return None
    return subprocess.Popen(["node", _HELPER, folder], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, text=True, encoding="utf-8")


def weighted_length(text):
    global _helper, _warned
    with _lock:
        if _helper is None or _helper.poll() is not None:
            _helper = _start()
        if _helper is None:
            if not _warned:
                print("sandbox: TRACKPOST_TWITTER_TEXT not set: texts counted in code points",
                      file=sys.stderr)
                _warned = True
            return len(text)
        _helper.stdin.write(json.dumps(text) + "\n")
        _helper.stdin.flush()
        return int(_helper.stdout.readline())
