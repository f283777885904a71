"""The sandbox's Python tests count their checks here and report them at the end; the network
tests share their way of calling a host here too."""

import json
import socket
import sys

# The importing test has put the sandbox's folder on sys.path.
from sandbox.harness import SandboxProcess, tunnel

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


class Answer:
    """A host's answer, read whole; header names in lower case, json None when it is not JSON."""

    def __init__(self, status, headers, text):
        self.status, self.headers, self.text = status, headers, text
        try:
            self.json = json.loads(text)
        except ValueError:
            self.json = None

    def header(self, name):
        return self.headers.get(name.lower())

    def __repr__(self):
        return "%d %s" % (self.status, self.text[:300])


class NetworkSandbox(SandboxProcess):
    """A sandbox seen as one network's hosts; NETWORK names that network's block of the mode."""

    NETWORK = None
    ANSWER = Answer

    def request(self, host, method, path, body=None, token=None, headers=None):
        """One request to host through its own tunnel, checked with the sandbox's CA."""
        h = dict(headers or {})
        if token:
            h["Authorization"] = "Bearer " + token
        c = tunnel(self.port, host)
        try:
            c.request(method, path, body=body.encode() if isinstance(body, str) else body,
                      headers=h)
            r = c.getresponse()
            text = r.read().decode("utf-8", "replace")
            return self.ANSWER(r.status, {k.lower(): v for k, v in r.getheaders()}, text)
        finally:
            c.close()

    def mode(self, **changes):
        return self.admin("POST", "/__mode", json.dumps({self.NETWORK: changes}))[0]

    def fault(self, **f):
        return self.admin("POST", "/__faults", json.dumps(f))[0]


def silent(sock, seconds):
    """Whether the socket stays without a byte to read for that long."""
    sock.settimeout(seconds)
    try:
        sock.recv(1)
        return False
    except socket.timeout:
        return True
