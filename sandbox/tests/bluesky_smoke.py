#!/usr/bin/python3
"""End-to-end check of the sandbox's Bluesky hosts through the proxy entrance: sessions at the
entryway naming the PDS, records written at the PDS (the same rkey twice is one post), token
rotation, expiry, revocation, takedown, the rate limit, the record's facet checks, the black hole,
faults by host, state. Starts its own sandboxes."""

import json
import os
import socket
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, HERE)
from sandbox.harness import CREDS, tunnel  # noqa: E402
from checks import Answer, NetworkSandbox, check, report_and_exit, run, silent  # noqa: E402

B = CREDS["bluesky"]
ENTRYWAY, PDS = B["entryway"], B["pds"]
DID, HANDLE = B["did"], B["handle"]
POST = "app.bsky.feed.post"
LINK = "app.bsky.richtext.facet#link"
TAG = "app.bsky.richtext.facet#tag"
MENTION = "app.bsky.richtext.facet#mention"
CREATED = "2026-12-11T07:05:00.123Z"


class XrpcAnswer(Answer):
    def error(self):
        """(status, error, message) of an XRPC error."""
        j = self.json if isinstance(self.json, dict) else {}
        return self.status, j.get("error"), j.get("message")


class Sandbox(NetworkSandbox):
    NETWORK = "bluesky"
    ANSWER = XrpcAnswer

    def xrpc(self, host, nsid, body=None, token=None, method="POST"):
        """One XRPC call; a dict body goes as JSON."""
        h = {}
        if isinstance(body, dict):
            body = json.dumps(body)
            h["Content-Type"] = "application/json"
        return self.request(host, method, "/xrpc/" + nsid, body, token, h)

    def login(self, host=ENTRYWAY, identifier=HANDLE, password=None):
        return self.xrpc(host, "com.atproto.server.createSession",
                         {"identifier": identifier, "password": password or B["app_password"]})

    def session(self):
        """(access, refresh) of a new session."""
        j = self.login().json
        return j["accessJwt"], j["refreshJwt"]

    def refresh(self, token, nsid="com.atproto.server.refreshSession"):
        return self.xrpc(ENTRYWAY, nsid, token=token)

    def put(self, token, rkey, record, host=PDS, repo=DID, nsid="com.atproto.repo.putRecord"):
        body = {"repo": repo, "collection": POST, "record": record}
        if rkey is not None:
            body["rkey"] = rkey
        return self.xrpc(host, nsid, body, token)

    def posts(self):
        return self.timeline(ENTRYWAY)


def record(text, facets=None, **more):
    r = {"$type": POST, "text": text, "createdAt": CREATED}
    if facets is not None:
        r["facets"] = facets
    r.update(more)
    return r


def span(text, part, start_shift=0, end_shift=0):
    """The index of part's first occurrence in text's UTF-8 bytes, its ends moved as asked."""
    data, marked = text.encode(), part.encode()
    at = data.index(marked)
    return {"byteStart": at + start_shift, "byteEnd": at + len(marked) + end_shift}


def facet(index, *features):
    return {"index": index, "features": list(features)}


def link(uri):
    return {"$type": LINK, "uri": uri}


def tag(name):
    return {"$type": TAG, "tag": name}


def sessions(sb):
    sb.admin("POST", "/__reset")
    a = sb.login(identifier=HANDLE.upper(), password=B["password"])
    pds = [s["serviceEndpoint"] for s in (a.json or {}).get("didDoc", {}).get("service", [])
           if s.get("id") == "#atproto_pds"]
    check("session at the entryway names the PDS", a.status == 200 and
          pds == ["https://" + PDS] and a.json["did"] == DID and a.json["handle"] == HANDLE and
          a.json["email"] == B["email"] and a.json["emailConfirmed"] is True and
          a.json["active"] is True and len(a.json["accessJwt"].split(".")) == 3 and
          a.json["accessJwt"] != a.json["refreshJwt"], a)
    check("rate-limit headers on an XRPC answer", a.header("RateLimit-Limit") == "5000" and
          a.header("RateLimit-Remaining").isdigit() and
          int(a.header("RateLimit-Reset")) > time.time() and
          a.header("RateLimit-Policy") == "5000;w=3600", a.headers)
    # (host, body, status, error): the identifier as the handle, the DID or the email.
    cases = (
        (PDS, {"identifier": DID, "password": B["app_password"]}, 200, None),
        (ENTRYWAY, {"identifier": B["email"].upper(), "password": B["password"]}, 200, None),
        (ENTRYWAY, {"identifier": "@" + HANDLE, "password": B["password"]}, 401,
         "AuthenticationRequired"),
        (ENTRYWAY, {"identifier": HANDLE, "password": "SBX2-DJ4K-7MFW-QP3N"}, 401,
         "AuthenticationRequired"),
        (ENTRYWAY, {"identifier": "someone.bsky.social", "password": B["password"]}, 401,
         "AuthenticationRequired"),
        (ENTRYWAY, {"identifier": HANDLE}, 400, "InvalidRequest"),
        (ENTRYWAY, {"password": B["password"]}, 400, "InvalidRequest"),
    )
    for n, (host, body, status, error) in enumerate(cases):
        a = sb.xrpc(host, "com.atproto.server.createSession", body)
        got = (a.status, a.json.get("error"))
        check("createSession case %d" % n, got == (status, error), "%s %s" % (got, body))
        if error == "AuthenticationRequired":
            check("createSession case %d message" % n,
                  a.json["message"] == "Invalid identifier or password", a)
    a = sb.xrpc(ENTRYWAY, "com.atproto.server.createSession", "identifier=x&password=y")
    check("a body that is not JSON", a.error()[:2] == (400, "InvalidRequest"), a)
    a = sb.xrpc(ENTRYWAY, "com.atproto.server.createSession", method="GET")
    check("a procedure by GET", a.error()[:2] == (400, "InvalidRequest"), a)
    a = sb.xrpc(ENTRYWAY, "com.atproto.server.noSuchMethod", {})
    check("an unknown method", a.error()[:2] == (501, "MethodNotImplemented"), a)


def records(sb):
    sb.admin("POST", "/__reset")
    access, _ = sb.session()
    first = record("Now playing A - B")
    a = sb.put(access, "3lbsmoke00001", first)
    check("putRecord at the PDS", a.status == 200 and
          a.json["uri"] == "at://%s/%s/3lbsmoke00001" % (DID, POST) and
          a.json["cid"].startswith("bafyrei") and a.json["validationStatus"] == "valid" and
          set(a.json["commit"]) == {"cid", "rev"}, a)
    stored_at = sb.posts()[0]["stored_at"]
    again = sb.put(access, "3lbsmoke00001", first, repo=HANDLE)
    posts = sb.posts()
    check("the same rkey again is one post, left as it was", again.status == 200 and
          again.json["uri"] == a.json["uri"] and again.json["cid"] == a.json["cid"] and
          again.json["commit"] == a.json["commit"] and len(posts) == 1 and
          posts[0]["writes"] == 2 and posts[0]["stored_at"] == stored_at, posts)
    check("timeline fields", set(posts[0]) == {"uri", "rkey", "text", "facets", "langs",
                                               "createdAt", "stored_at", "writes"} and
          posts[0]["text"] == "Now playing A - B" and posts[0]["createdAt"] == CREATED and
          posts[0]["uri"] == a.json["uri"], posts)
    other = sb.put(access, "3lbsmoke00001", record("Now playing C - D", langs=["en"]))
    posts = sb.posts()
    check("another record under the rkey replaces it", other.status == 200 and
          other.json["cid"] != a.json["cid"] and len(posts) == 1 and
          posts[0]["text"] == "Now playing C - D" and posts[0]["langs"] == ["en"] and
          posts[0]["writes"] == 3, posts)
    created = sb.put(access, None, record("created"), nsid="com.atproto.repo.createRecord")
    dup = sb.put(access, "3lbsmoke00001", record("x"), nsid="com.atproto.repo.createRecord")
    check("createRecord: a TID of its own; a taken rkey is a 500", created.status == 200 and
          len(created.json["uri"].rsplit("/", 1)[1]) == 13 and
          dup.error() == (500, "InternalServerError", "Internal Server Error") and
          len(sb.posts()) == 2, (created, dup))
    # (rkey, repo): each a refusal the request itself earns.
    for rkey, repo in (("bad/key", DID), ("..", DID), ("3lbsmoke00002", "did:plc:someoneelse"),
                       ("3lbsmoke00002", "someone.bsky.social")):
        a = sb.put(access, rkey, record("refused"), repo=repo)
        check("InvalidRequest for rkey %r repo %r" % (rkey, repo),
              a.error()[:2] == (400, "InvalidRequest"), a)
    check("nothing stored by the refusals", len(sb.posts()) == 2)

    a = sb.put(access, "3lbsmoke00003", record("at the entryway"), host=ENTRYWAY)
    check("the entryway refuses records while the didDoc names the PDS", a.error() == (
        400, "InvalidRequest", "Write records at the account's PDS"), a)
    check("no didDoc mode", sb.mode(did_doc=False) == 200)
    s = sb.login()
    a = sb.put(s.json["accessJwt"], "3lbsmoke00003", record("at the entryway"), host=ENTRYWAY)
    check("without a didDoc the entryway takes records", "didDoc" not in s.json and
          a.status == 200 and len(sb.posts()) == 3, (s, a))
    a = sb.refresh(s.json["refreshJwt"])
    check("refresh without a didDoc", a.status == 200 and "didDoc" not in a.json, a)

    page = tunnel(sb.port, ENTRYWAY)
    page.request("GET", "/profile/" + HANDLE)
    r = page.getresponse()
    html = r.read().decode()
    page.close()
    check("profile page, newest first", r.status == 200 and
          html.index("at the entryway") < html.index("created") <
          html.index("Now playing C - D"), r.status)


def tokens(sb):
    sb.admin("POST", "/__reset")
    access, refresh = sb.session()
    put = lambda token, n: sb.put(token, "3lbtoken%05d" % n, record("token %d" % n))  # noqa
    r = sb.refresh(refresh)
    check("refresh rotates", r.status == 200 and r.json["refreshJwt"] != refresh and
          r.json["accessJwt"] != access and r.json["did"] == DID and
          put(r.json["accessJwt"], 1).status == 200, r)
    access2, refresh2 = r.json["accessJwt"], r.json["refreshJwt"]
    # (what, call, status, error, message)
    cases = (
        ("old refresh token dead", lambda: sb.refresh(refresh), 400, "ExpiredToken",
         "Token has been revoked"),
        ("unknown refresh token", lambda: sb.refresh("a.b.c"), 400, "ExpiredToken",
         "Token has been revoked"),
        ("access token as refresh", lambda: sb.refresh(access2), 400, "InvalidToken",
         "Invalid token type"),
        ("refresh token as access", lambda: put(refresh2, 2), 400, "InvalidToken",
         "Invalid token type"),
        ("no token", lambda: put(None, 2), 401, "AuthenticationRequired",
         "Authentication Required"),
        ("unknown access token", lambda: put("x.y.z", 2), 400, "InvalidToken",
         "Token could not be verified"),
    )
    for what, call, status, error, message in cases:
        a = call()
        check(what, a.error() == (status, error, message), a)
    check("the access token before the refresh still works", put(access, 3).status == 200)

    # Lifetimes run on the sandbox's clock: an hour ahead, a token living a minute is spent.
    sb.mode(access_ttl=60)
    short, short_refresh = sb.session()
    sb.admin("POST", "/__mode", json.dumps({"clock_offset": 61}))
    a = put(short, 4)
    r = sb.refresh(short_refresh)
    check("expired by access_ttl, then refreshed", a.error() == (
        400, "ExpiredToken", "Token has expired") and r.status == 200 and
          put(r.json["accessJwt"], 4).status == 200, (a, r))
    sb.admin("POST", "/__mode", json.dumps({"clock_offset": 0}))
    sb.mode(access_ttl=7200)

    access, refresh = sb.session()
    sb.fault(host=PDS, expire_token=True)
    a = put(access, 5)
    r = sb.refresh(refresh)
    check("expire_token fault: ExpiredToken, refresh works", a.error()[:2] == (
        400, "ExpiredToken") and r.status == 200 and
          put(r.json["accessJwt"], 5).status == 200, (a, r))
    check("expire_token is refused for X", sb.admin("POST", "/__faults", json.dumps(
        {"expire_token": True}))[0] == 400)

    access, refresh = sb.session()
    sb.fault(host=PDS, revoke_token=True)
    a = put(access, 6)
    r = sb.refresh(refresh)
    check("revoke_token fault: the session's tokens die", a.error()[:2] == (
        400, "InvalidToken") and r.error()[:2] == (400, "ExpiredToken"), (a, r))

    access, refresh = sb.session()
    d = sb.refresh(refresh, "com.atproto.server.deleteSession")
    a = put(access, 7)
    check("deleteSession: 200 empty, then InvalidToken", d.status == 200 and d.text == "" and
          a.error() == (400, "InvalidToken", "Token could not be verified") and
          sb.refresh(refresh).status == 400, (d, a))
    check("stored: only the posts of live tokens", sorted(p["rkey"] for p in sb.posts()) == [
        "3lbtoken00001", "3lbtoken00003", "3lbtoken00004", "3lbtoken00005"], sb.posts())


def takedown(sb):
    sb.admin("POST", "/__reset")
    access, refresh = sb.session()
    check("takendown", sb.mode(account="takendown") == 200)
    a = sb.login()
    p = sb.put(access, "3lbtakedown01", record("taken down"))
    r = sb.refresh(refresh)
    check("takedown: createSession 401", a.error() == (
        401, "AccountTakedown", "Account has been taken down"), a)
    check("takedown: writes and refresh 400", p.error() == (
        400, "AccountTakedown", "Account has been taken down") and
          r.error()[:2] == (400, "AccountTakedown") and sb.posts() == [], (p, r))
    sb.mode(account="ok")
    check("takedown lifted", sb.put(access, "3lbtakedown01", record("back")).status == 200)
    check("bad bluesky modes refused", [sb.mode(**bad) for bad in (
        {"account": "suspended"}, {"access_ttl": 0}, {"did_doc": "no"}, {"speed": 1},
        {"rate_limit": {"posts": 1}})] == [400] * 5)
    sb.mode(account="takendown", did_doc=False)
    sb.admin("POST", "/__reset")
    mode = json.loads(sb.admin("GET", "/__mode")[1])["bluesky"]
    check("reset: normal bluesky mode", mode == {"black_hole": False, "rate_limit": None,
                                                 "account": "ok", "access_ttl": 7200,
                                                 "did_doc": True}, mode)


def rate_limit(sb):
    sb.admin("POST", "/__reset")
    access, _ = sb.session()
    check("rate limit", sb.mode(rate_limit={"posts": 2, "window": 30}) == 200)
    start = time.time()
    answers = [sb.put(access, "3lblimit%05d" % i, record("limited %d" % i)) for i in range(3)]
    check("two writes, then 429", [a.status for a in answers] == [200, 200, 429] and
          answers[2].error() == (429, "RateLimitExceeded", "Rate Limit Exceeded") and
          len(sb.posts()) == 2, answers)
    for i, a in enumerate(answers):
        reset = int(a.header("RateLimit-Reset") or 0)
        check("limit headers %d" % i, a.header("RateLimit-Limit") == "2" and
              a.header("RateLimit-Remaining") == str(max(0, 1 - i)) and
              a.header("RateLimit-Policy") == "2;w=30" and
              start + 29 <= reset <= time.time() + 32, a.headers)
    retry = answers[2].header("Retry-After") or ""
    check("429 with Retry-After", retry.isdigit() and 28 <= int(retry) <= 31, retry)
    logged = [e for e in sb.log() if e["status"] == 429]
    check("429 logged with its reset", len(logged) == 1 and
          logged[0]["limit_reset"] == int(answers[2].header("RateLimit-Reset")) and
          logged[0]["url"] == "https://%s/xrpc/com.atproto.repo.putRecord" % PDS, logged)
    check("rate limit off", sb.mode(rate_limit=None) == 200 and
          sb.put(access, "3lblimit00009", record("unlimited")).status == 200)

    sb.fault(host=PDS, path="putRecord", status=429, reset_in=40,
             body='{"error":"RateLimitExceeded","message":"Rate Limit Exceeded"}')
    a = sb.put(access, "3lblimit00010", record("limited by a fault"))
    reset = int(a.header("RateLimit-Reset") or 0)
    check("429 fault with RateLimit-Reset and Retry-After", a.status == 429 and
          abs(reset - time.time() - 40) < 3 and a.header("RateLimit-Remaining") == "0" and
          a.header("Retry-After") in ("40", "41"), a.headers)


def facets(sb):
    sb.admin("POST", "/__reset")
    access, _ = sb.session()
    text = "Now playing Café – Ünder 🎧 https://example.com/track example.org #nowplaying"
    url = span(text, "https://example.com/track")
    bare = span(text, "example.org")
    hashtag = span(text, "#nowplaying")
    family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"   # 25 bytes, 1 cluster
    accent = "e\u0301"                                                     # 3 bytes, 1 cluster
    # (what, record, the words of the refusal or None when it is taken)
    cases = (
        ("link, bare domain and tag", record(text, [
            facet(url, link("https://example.com/track")),
            facet(bare, link("https://example.org")),
            facet(hashtag, tag("nowplaying"))], langs=["en", "es"]), None),
        ("a mention", record("hi @dj", [facet(span("hi @dj", "@dj"),
                                              {"$type": MENTION, "did": DID})]), None),
        ("off a code-point boundary", record(text, [
            facet(span(text, "é", 1, 1), link("https://example.com/"))]), "split a character"),
        ("ending inside the headphones", record(text, [
            facet(span(text, "🎧", 0, -2), link("https://example.com/"))]), "split"),
        ("past the end", record(text, [
            facet(span(text, "#nowplaying", 0, 1), tag("nowplaying"))]), "past the end"),
        ("start equal to end", record(text, [
            facet(span(text, "#nowplaying", 11), tag("x"))]), "less than byteEnd"),
        ("link not its text", record(text, [
            facet(url, link("https://example.com/other"))]), "uri must be the text"),
        ("bare domain with another scheme", record(text, [
            facet(bare, link("ftp://example.org"))]), "uri must be the text"),
        ("tag not its text", record(text, [facet(hashtag, tag("nowplay"))]), "tag must be"),
        ("tag with its #", record(text, [facet(hashtag, tag("#nowplaying"))]), "without its #"),
        ("tag of 65 graphemes", record("#" + "t" * 65, [
            facet(span("#" + "t" * 65, "#" + "t" * 65), tag("t" * 65))]), "64 graphemes"),
        ("unknown feature", record(text, [facet(url, {"$type": "app.example#x"})]),
         "link, tag or mention"),
        ("300 graphemes", record(accent * 300), None),
        ("301 graphemes", record(accent * 301),
         "Record/text must not be longer than 300 graphemes"),
        ("3000 bytes", record(family * 120), None),
        ("3025 bytes", record(family * 121), "longer than 3000"),
        ("four languages", record("x", langs=["en", "de", "fr", "es"]), "langs"),
        ("no createdAt", {"$type": POST, "text": "x"}, "createdAt"),
        ("createdAt not RFC 3339", record("x", createdAt="2026-12-11 07:05:00"), "createdAt"),
        ("another $type", record("x", **{"$type": "app.bsky.feed.like"}), "$type"),
    )
    stored = 0
    for n, (what, rec, words) in enumerate(cases):
        a = sb.put(access, "3lbfacet%05d" % n, rec)
        if words is None:
            stored += 1
            check("taken: " + what, a.status == 200, a)
        else:
            status, error, message = a.error()
            check("refused: " + what, status == 400 and error == "InvalidRecord" and
                  message.startswith("Invalid app.bsky.feed.post record: ") and
                  words in message, a)
    check("only the good records stored", len(sb.posts()) == stored,
          [p["rkey"] for p in sb.posts()])
    page = tunnel(sb.port, ENTRYWAY)
    page.request("GET", "/profile/" + HANDLE)
    html = page.getresponse().read().decode()
    page.close()
    check("facets shown as links", '<a href="https://example.org" rel="nofollow">example.org</a>'
          in html and '<a href="/hashtag/nowplaying" rel="nofollow">#nowplaying</a>' in html,
          html[-2000:])


def black_hole(sb):
    sb.admin("POST", "/__reset")
    open_tunnel = tunnel(sb.port, PDS)
    open_tunnel.request("POST", "/xrpc/com.atproto.server.createSession", body="{}",
                        headers={"Content-Type": "application/json"})
    first = open_tunnel.getresponse()
    first.read()
    check("black hole on", sb.mode(black_hole=True) == 200)
    with socket.create_connection(("127.0.0.1", sb.port), timeout=5) as raw:
        raw.sendall(b"CONNECT bsky.social:443 HTTP/1.1\r\nHost: bsky.social:443\r\n\r\n")
        check("black hole: CONNECT unanswered", silent(raw, 1.0))
        open_tunnel.sock.settimeout(1.0)
        open_tunnel.request("POST", "/xrpc/com.atproto.server.createSession", body="{}",
                            headers={"Content-Type": "application/json"})
        try:
            open_tunnel.getresponse()
            held = False
        except socket.timeout:
            held = True
        check("black hole: request in an open tunnel unanswered", first.status == 400 and held)
        for host, path in (("api.twitter.com", "/"), ("mastodon.social", "/api/v2/instance")):
            c = tunnel(sb.port, host)
            c.request("GET", path)
            check("black hole: %s answers" % host, c.getresponse().status == 200)
            c.close()
        check("black hole off", sb.mode(black_hole=False) == 200)
        raw.settimeout(2.0)
        check("black hole: held connection closed", raw.recv(1) == b"")
    open_tunnel.close()
    check("answered again", sb.login().status == 200)
    check("black hole logged", sum(e["verdict"] == "fault black-hole" for e in sb.log()) == 2)


def faults(sb):
    sb.admin("POST", "/__reset")
    access, _ = sb.session()
    sb.fault(host=ENTRYWAY, status=503, body='{"error":"down"}')
    pds = sb.login(host=PDS)
    entry = sb.login()
    check("faults by host", pds.status == 200 and entry.status == 503, (pds, entry))
    # The write is stored and its answer lost; the retry with the same rkey finds it.
    sb.fault(host=PDS, path="putRecord", stall=1, stored=True)
    c = tunnel(sb.port, PDS)
    c.request("POST", "/xrpc/com.atproto.repo.putRecord", body=json.dumps({
        "repo": DID, "collection": POST, "rkey": "3lbstall00001", "record": record("stalled")}),
        headers={"Authorization": "Bearer " + access, "Content-Type": "application/json"})
    try:
        c.getresponse().read()
        complete = True
    except Exception:
        complete = False
    c.close()
    retry = sb.put(access, "3lbstall00001", record("stalled"))
    posts = sb.posts()
    check("stall+stored, then a retry with the rkey", not complete and retry.status == 200 and
          len(posts) == 1 and posts[0]["writes"] == 2, posts)
    check("either host's timeline", sb.timeline(PDS) == posts)


def state_and_command_line():
    with tempfile.TemporaryDirectory() as state:
        sb = Sandbox("--state", state)
        try:
            access, _ = sb.session()
            sb.put(access, "3lbkept000001", record("kept"))
        finally:
            check("state: clean exit", sb.stop() == 0)
        sb = Sandbox("--state", state, "--bluesky-account", "takendown", "--bluesky-black-hole",
                     "--bluesky-rate-limit", "3/60", "--bluesky-access-ttl", "90",
                     "--bluesky-no-did-doc")
        try:
            mode = json.loads(sb.admin("GET", "/__mode")[1])["bluesky"]
            check("command-line bluesky mode", mode == {
                "black_hole": True, "rate_limit": {"posts": 3, "window": 60},
                "account": "takendown", "access_ttl": 90, "did_doc": False}, mode)
            sb.mode(black_hole=False, account="ok")
            again = sb.put(access, "3lbkept000001", record("kept"))
            check("state: session and post kept", again.status == 200 and
                  [(p["text"], p["writes"]) for p in sb.posts()] == [("kept", 2)], again)
            sb.admin("POST", "/__reset")
            sb.mode(black_hole=False, account="ok")
            check("state: reset forgets", sb.posts() == [] and
                  sb.put(access, "3lbkept000002", record("x")).status == 400 and
                  not os.path.exists(os.path.join(state, "bluesky.json")))
        finally:
            sb.stop()


def main():
    import signal
    signal.alarm(90)   # never hang a test run
    sb = Sandbox()
    try:
        for part in (sessions, records, tokens, takedown, rate_limit, facets, black_hole,
                     faults):
            run(part, sb)
    finally:
        rc = sb.stop()
    check("clean exit on SIGTERM", rc == 0, rc)
    run(state_and_command_line)
    report_and_exit()


if __name__ == "__main__":
    main()
