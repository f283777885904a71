#!/usr/bin/python3
"""Plays a DJ set through spinforge-sim and the sandbox service, with this script as the DJ.

Starts the sandbox on a free loopback port, then runs spinforge-sim once per script given with
--run, with the plug-in's dialogs on the terminal: it answers the plug-in's questions on the
simulator's standard input, approves the application on the sandbox's authorize pages (X's and
Mastodon's) as a browser would, types the PIN or code they show, and gives Bluesky the test
account's handle and app password. Afterwards it prints the
sandbox's timelines and checks them against the expected posts. Exit status 0 only when exactly
the expected posts arrived on each network, in order, and every run went as its checks say.
"""

import argparse
import http.client
import json
import os
import queue
import re
import shlex
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SANDBOX = os.path.join(ROOT, "sandbox")
sys.path.insert(0, SANDBOX)

from sandbox.harness import CA_FILE, SandboxProcess, approve, approve_mastodon  # noqa: E402

PROMPT = "Trackpost: "
ASK_BROWSER = "Would you like to open your browser"
ASK_PIN = "Enter PIN"
ASK_TWEET = "Please enter your tweet"
ASK_SERVER = "Your Mastodon server"
ASK_CODE = "Paste the code that your Mastodon server shows"
ASK_HANDLE = "Your Bluesky handle"
ASK_APP_PASSWORD = "An app password for Trackpost"
X_PAGE = "https://api.twitter.com/"
MASTODON_SERVER = "mastodon.social"
with open(os.path.join(SANDBOX, "credentials.json"), encoding="utf-8") as f:
    BLUESKY = json.load(f)["bluesky"]
# The networks beside X: name, where its timeline is, its host variable.
OTHER_NETWORKS = (("Mastodon", MASTODON_SERVER, "$trackpost_mastodon"),
                  ("Bluesky", BLUESKY["entryway"], "$trackpost_bluesky"))
STATUS_LINE = re.compile(r"\] Status: '(.*)'$")
TITLE_READ = re.compile(r"plug-in reads the track's title: '(.*)'$")
HOST_VARIABLE = re.compile(r"\] host variable (\$trackpost_\w+) = (.*)$")
RUN_TIMEOUT = 120

# The demo's set: a first evening with the login by PIN, and a second that restores it.
DEMO_RUNS = [os.path.join(HERE, "demo.txt"), os.path.join(HERE, "demo-again.txt")]
DEMO_TYPED = ["Thanks for dancing with us tonight – see you next Friday!"]
DEMO_EXPECT = os.path.join(HERE, "demo-expected.txt")


def say(line):
    print(line, flush=True)


class SimRun:
    """One run of spinforge-sim, the user answering its dialogs."""

    def __init__(self, args, sandbox, script, typed):
        self.sandbox = sandbox
        self.typed = list(typed)
        self.pin = None
        self.pin_asked = False  # the PIN box is open, waiting for the browser's page
        self.code = None        # the same for Mastodon's code
        self.code_asked = False
        self.prompts = []
        self.statuses = []
        self.variables = {}     # host variable -> its values as the host was told them
        self.title_reads = []   # (epoch seconds, title): the plug-in began composing
        self.problems = []
        env = dict(os.environ, TRACKPOST_DIALOGS="terminal",
                   TRACKPOST_SANDBOX_PROXY="127.0.0.1:%d" % sandbox.port,
                   TRACKPOST_SANDBOX_CA=CA_FILE)
        self.proc = subprocess.Popen(
            [*shlex.split(args.wrap or ""), args.sim, "--state", args.state, "--script", script,
             args.plugin],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            env=env, text=True, encoding="utf-8", bufsize=1)
        self.lines = queue.Queue()
        for stream, name in ((self.proc.stdout, "out"), (self.proc.stderr, "err")):
            threading.Thread(target=self.read, args=(stream, name), daemon=True).start()

    def read(self, stream, name):
        for line in stream:
            self.lines.put((time.time(), name, line.rstrip("\n")))
        self.lines.put((time.time(), name, None))

    def answer(self, text, shown=None):
        say("  (the DJ types %s)" % (shown or repr(text)))
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()

    def on_line(self, when, name, line):
        say(("sim  | " if name == "out" else "sim! | ") + line)
        m = STATUS_LINE.search(line)
        if m:
            self.statuses.append(m.group(1))
        m = HOST_VARIABLE.search(line)
        if m:
            self.variables.setdefault(m.group(1), []).append(m.group(2))
        m = TITLE_READ.search(line)
        if m:
            self.title_reads.append((when, m.group(1)))
        if name != "err" or not line.startswith(PROMPT):
            return
        text = line[len(PROMPT):]
        self.prompts.append(text)
        if text.startswith(ASK_BROWSER):
            self.answer("y")
        elif text.startswith("open ") and not text.startswith("open " + X_PAGE):
            self.code = approve_mastodon(self.sandbox.port, text[len("open "):])
            say("  (the DJ signs in on the Mastodon server's page and reads the code %s)"
                % self.code)
            if self.code_asked:
                self.code_asked = False
                self.answer(self.code)
        elif text.startswith(ASK_SERVER):
            self.answer(MASTODON_SERVER)
        elif text.startswith(ASK_HANDLE):
            self.answer("@" + BLUESKY["handle"])
        elif text.startswith(ASK_APP_PASSWORD):
            self.answer(BLUESKY["app_password"], shown="the app password made for Trackpost")
        elif text.startswith(ASK_CODE):
            if self.code is None:
                say("  (the DJ waits for the server's page to show the code)")
                self.code_asked = True
            else:
                self.answer(self.code)
        elif text.startswith("open "):
            self.pin = approve(self.sandbox, text[len("open "):])
            say("  (the DJ approves the app in the browser and reads the PIN %s)" % self.pin)
            if self.pin_asked:
                self.pin_asked = False
                self.answer(self.pin)
        elif text.startswith(ASK_PIN):
            # The plug-in fetches the address while the box waits; the DJ types the PIN once
            # the browser shows it.
            if self.pin is None:
                say("  (the DJ waits for the browser to show the PIN)")
                self.pin_asked = True
            else:
                self.answer(self.pin)
        elif text.startswith(ASK_TWEET):
            self.answer(self.typed.pop(0) if self.typed else "")

    def finish(self):
        ended = 0
        deadline = time.time() + RUN_TIMEOUT
        while ended < 2:
            try:
                when, name, line = self.lines.get(timeout=max(0.1, deadline - time.time()))
            except queue.Empty:
                self.problems.append("the simulator did not finish in %d s" % RUN_TIMEOUT)
                self.proc.kill()
                break
            if line is None:
                ended += 1
                continue
            try:
                self.on_line(when, name, line)
            except (RuntimeError, OSError, http.client.HTTPException) as e:
                self.problems.append("the browser failed: %s" % e)
                self.answer("")
        if self.pin_asked:
            self.problems.append("asked for a PIN the browser never showed")
        if self.code_asked:
            self.problems.append("asked for a code the Mastodon page never showed")
        self.proc.stdin.close()
        code = self.proc.wait()
        if code != 0:
            self.problems.append("spinforge-sim exited with %d" % code)
        return self


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return [l.rstrip("\n") for l in f if l.strip() and not l.startswith("#")]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--sim", required=True, help="the spinforge-sim program")
    ap.add_argument("--plugin", required=True, help="the sandbox build of the plug-in library")
    ap.add_argument("--state", required=True, help="the host's state file (removed first)")
    ap.add_argument("--run", action="append", metavar="SCRIPT",
                    help="a simulator script; give it more than once for more runs "
                         "(default: the demo's set, with the options below set for it)")
    ap.add_argument("--typed", action="append", metavar="TEXT",
                    help="what the DJ types when asked for a tweet, in order")
    ap.add_argument("--expect", help="the expected tweets, one per line, in order")
    for name, host, _ in OTHER_NETWORKS:
        ap.add_argument("--%s-expect" % name.lower(), metavar="FILE",
                        help="the expected posts at %s, as --expect (default: not checked, but "
                             "for the demo's set, which posts --expect's texts there too)" % host)
    ap.add_argument("--restored", action="store_true",
                    help="runs after the first must restore the login without any question")
    ap.add_argument("--wrap", metavar="COMMAND",
                    help="a command to run the simulator under, such as valgrind and its options")
    ap.add_argument("--access", choices=("full", "v2-only"), default="full",
                    help="the account's access at the sandbox: v2-only refuses every v1.1 call")
    args = ap.parse_args()
    if args.run is None:
        args.run, args.restored = DEMO_RUNS, True
        args.typed = args.typed or DEMO_TYPED
        args.expect = args.expect or DEMO_EXPECT
        for name, _, _ in OTHER_NETWORKS:
            key = "%s_expect" % name.lower()
            setattr(args, key, getattr(args, key) or args.expect)
    if args.expect is None:
        ap.error("--expect is needed with --run")

    if os.path.exists(args.state):
        os.remove(args.state)
    expected = read_lines(args.expect)
    try:
        sandbox = SandboxProcess("--access", args.access)
    except RuntimeError as e:
        raise SystemExit("play_set: %s" % e)
    say("=== the sandbox serves an account with %s access" % args.access)
    problems = []
    delays = []
    try:
        typed = list(args.typed or [])
        for n, script in enumerate(args.run, 1):
            say("=== run %d: %s" % (n, os.path.basename(script)))
            before = len(sandbox.timeline())
            run = SimRun(args, sandbox, script, typed).finish()
            typed = run.typed
            problems += ["run %d: %s" % (n, p) for p in run.problems]
            if n > 1 and args.restored:
                if run.prompts:
                    problems.append("run %d asked the DJ: %s" % (n, run.prompts))
                # What proves it is the host's variable: a status such as "Logged In" may be
                # replaced by the post's before anyone sees it.
                for name in ["$trackpost_auth"] + [v for _, _, v in OTHER_NETWORKS]:
                    values = run.variables.get(name, [])
                    if "1" not in values:
                        problems.append("run %d did not restore a login (%s: %s)"
                                        % (n, name, " -> ".join(values)))
            say("--- status changes in run %d: %s" % (n, " -> ".join(run.statuses)))
            # From the start of each composition to its tweet stored at the sandbox.
            for t in sandbox.timeline()[before:]:
                starts = [w for w, title in run.title_reads
                          if w <= t["stored_at"] and title and title in t["text"]]
                if starts:
                    delays.append((t["stored_at"] - starts[-1]) * 1000)
    finally:
        tweets = sandbox.timeline()
        others = {name: sandbox.timeline(host=host) for name, host, _ in OTHER_NETWORKS}
        calls = [e for e in sandbox.log() if e["method"] != "CONNECT"]
        sandbox.stop()

    say("=== the requests the sandbox answered")
    for e in calls:
        say("  %s %s -> %s %s" % (e["method"], e["path"].split("?")[0], e["status"], e["verdict"]))
    refused_v1 = sum(1 for e in calls if e["verdict"] == "error 453")
    v2_calls = sum(1 for e in calls if e["path"].startswith("/2/"))
    if args.access == "v2-only" and refused_v1 != len(args.run):
        problems.append("%d v1.1 requests were refused for want of access, not one per run"
                        % refused_v1)
    if args.access == "full" and v2_calls:
        problems.append("%d v2 requests where v1.1 is served" % v2_calls)

    say("=== the sandbox's timeline")
    for t in tweets:
        say("  %s  %s" % (time.strftime("%H:%M:%S", time.localtime(t["stored_at"])), t["text"]))
    got = [t["text"] for t in tweets]
    if got != expected:
        problems.append("the timeline differs from the expected tweets:\n    expected %r\n    got      %r"
                        % (expected, got))
    for name, host, _ in OTHER_NETWORKS:
        say("=== the %s timeline at %s" % (name, host))
        for t in others[name]:
            say("  %s  %s" % (time.strftime("%H:%M:%S", time.localtime(t["stored_at"])), t["text"]))
        got = [t["text"] for t in others[name]]
        expect = getattr(args, "%s_expect" % name.lower())
        if expect and got != read_lines(expect):
            problems.append("the %s timeline differs from the expected posts:\n"
                            "    expected %r\n    got      %r" % (name, read_lines(expect), got))
    if delays:
        say("composition to tweet stored: median %.1f ms, max %.1f ms over %d tweets"
            % (statistics.median(delays), max(delays), len(delays)))
    for p in problems:
        say("PROBLEM: " + p)
    say("=== %s" % ("every expected tweet arrived, in order" if not problems else "FAILED"))
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
