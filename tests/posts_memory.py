#!/usr/bin/python3
"""The host simulator's memory over a long evening: 2,000 typed texts posted one after another
through the sandbox build of the plug-in to X, Mastodon and Bluesky, with the logins restored
from the host's kept values.

Prints the simulator's resident memory as the posts go by and fails when it keeps growing after
the first few hundred posts (caches and the allocator settle by then), or when a post is not
stored on every network."""

import argparse
import os
import queue
import re
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "sandbox"))

from sandbox.harness import CA_FILE, TIMELINES, SandboxProcess, write_kept_login  # noqa: E402

STATUS_LINE = re.compile(r"\] Status: '(.*)'$")
SETTLED_AFTER = 500       # posts before the baseline is taken
GROWTH_LIMIT_KB = 1024    # over the 1,500 later posts, a leak of 700 bytes a post shows
LINE_TIMEOUT = 60
BATCH = 100


def await_stored(sandbox, count):
    deadline = time.time() + LINE_TIMEOUT
    for host in TIMELINES:
        while len(sandbox.timeline(host=host)) < count:
            if time.time() > deadline:
                raise RuntimeError("fewer than %d posts stored at %s after %d s"
                                   % (count, host or "X", LINE_TIMEOUT))
            time.sleep(0.05)


def resident_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS for %d" % pid)


class Simulator:
    """spinforge-sim at its prompt, driven line by line; its status changes are collected."""

    def __init__(self, sim, plugin, state, port):
        env = dict(os.environ, TRACKPOST_DIALOGS="terminal",
                   TRACKPOST_SANDBOX_PROXY="127.0.0.1:%d" % port, TRACKPOST_SANDBOX_CA=CA_FILE)
        self.proc = subprocess.Popen([sim, "--state", state, plugin], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                                     text=True, encoding="utf-8", bufsize=1)
        self.statuses = queue.Queue()
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        for line in self.proc.stdout:
            m = STATUS_LINE.search(line.rstrip("\n"))
            if m:
                self.statuses.put(m.group(1))
        self.statuses.put(None)

    def send(self, *lines):
        self.proc.stdin.write("".join(l + "\n" for l in lines))
        self.proc.stdin.flush()

    def await_status(self, wanted, passing=()):
        """The next status that is not one of `passing`; it must be `wanted`."""
        while True:
            status = self.statuses.get(timeout=LINE_TIMEOUT)
            if status not in passing:
                if status != wanted:
                    raise RuntimeError("status %r where %r was expected" % (status, wanted))
                return

    def quit(self):
        self.send("quit")
        self.proc.stdin.close()
        try:
            return self.proc.wait(LINE_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--sim", required=True)
    ap.add_argument("--plugin", required=True, help="the sandbox build of the plug-in")
    ap.add_argument("--posts", type=int, default=2000)
    args = ap.parse_args()

    sandbox = SandboxProcess()
    samples = []
    try:
        with tempfile.TemporaryDirectory() as folder:
            state = os.path.join(folder, "state")
            write_kept_login(state, os.path.splitext(os.path.basename(args.plugin))[0],
                             mastodon=True, bluesky=True)
            sim = Simulator(args.sim, args.plugin, state, sandbox.port)
            try:
                sim.await_status("Logged In", passing=("Not Logged In",))
                started = time.time()
                # The simulator's status watch can't tell one quick post from the next, so
                # the sandbox's timeline says when a batch has been posted.
                for n in range(1, args.posts + 1):
                    sim.send("press Tweet Message", "Post %d of the evening" % n)
                    if n % BATCH == 0:
                        await_stored(sandbox, n)
                        samples.append((n, resident_kb(sim.proc.pid)))
                took = time.time() - started
            finally:
                code = sim.quit()
        stored = [len(sandbox.timeline(host=host)) for host in TIMELINES]
    finally:
        sandbox.stop()

    print("resident memory of spinforge-sim by posts: " +
          ", ".join("%d: %d KiB" % s for s in samples))
    baseline = max(kb for n, kb in samples if n <= SETTLED_AFTER)
    growth = samples[-1][1] - baseline
    print("%d posts on each network in %.1f s; after post %d: %+d KiB against the highest of the first %d"
          % (args.posts, took, samples[-1][0], growth, SETTLED_AFTER))
    problems = []
    if code != 0:
        problems.append("spinforge-sim exited with %s" % code)
    for host, count in zip(TIMELINES, stored):
        if count != args.posts:
            problems.append("%d posts stored at %s, not %d" % (count, host or "X", args.posts))
    if growth > GROWTH_LIMIT_KB:
        problems.append("memory grew by %d KiB after post %d" % (growth, SETTLED_AFTER))
    for p in problems:
        print("posts_memory: " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
