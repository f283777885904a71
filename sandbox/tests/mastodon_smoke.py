#!/usr/bin/python3
"""End-to-end check of the sandbox's Mastodon servers through the proxy entrance: registering an
app, the authorize pages to a code, tokens, the account, the instance, posting (idempotency,
counting), revocation, the modes, faults by host, state. Starts its own sandboxes."""

import datetime
import json
import os
import re
import socket
import sys
import tempfile
import time
from urllib.parse import urlencode

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, HERE)
from sandbox.harness import CREDS, approve_mastodon, between, tunnel  # noqa: E402
from checks import NetworkSandbox, check, report_and_exit, run, silent  # noqa: E402

SOCIAL, OLD = "mastodon.social", "mastodon.example.org"
M = CREDS["mastodon"]
FIXED = M["access_token"]
OOB = "urn:ietf:wg:oauth:2.0:oob"
ISO = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z$")
FORM = "application/x-www-form-urlencoded"


class Sandbox(NetworkSandbox):
    NETWORK = "mastodon"

    def call(self, host, method, path, form=None, token=None, headers=None, body=None,
             ctype=FORM):
        """A request with a form sent urlencoded, or a body sent as is."""
        h = dict(headers or {})
        if form is not None:
            body = urlencode(form)
        if body is not None:
            h["Content-Type"] = ctype
        return self.request(host, method, path, body, token, h)

    def post(self, host, text, token=FIXED, key=None, **more):
        return self.call(host, "POST", "/api/v1/statuses", dict(status=text, **more), token,
                         {"Idempotency-Key": key} if key else None)

    def statuses(self, host):
        return json.loads(self.admin("GET", "/__timeline?host=" + host)[1])

    def register(self, host, scopes="write:statuses profile"):
        a = self.call(host, "POST", "/api/v1/apps", {
            "client_name": "Trackpost", "redirect_uris": OOB, "scopes": scopes,
            "website": "https://trackpost.example"})
        return a.json if a.status == 200 else None

    def authorize_url(self, host, app, scope):
        return "https://%s/oauth/authorize?%s" % (host, urlencode({
            "response_type": "code", "client_id": app["client_id"], "redirect_uri": OOB,
            "scope": scope}))

    def exchange(self, host, app, code, redirect_uri=OOB, secret=None):
        return self.call(host, "POST", "/oauth/token", {
            "grant_type": "authorization_code", "code": code, "client_id": app["client_id"],
            "client_secret": secret or app["client_secret"], "redirect_uri": redirect_uri})

    def login(self, host, scopes):
        """A new app on host and a token for it through the browser's pages."""
        app = self.register(host, scopes)
        code = approve_mastodon(self.port, self.authorize_url(host, app, scopes))
        return app, self.exchange(host, app, code).json["access_token"]


def iso_seconds(text):
    return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(
        tzinfo=datetime.timezone.utc).timestamp()


def apps(sb):
    sb.admin("POST", "/__reset")
    app = sb.register(SOCIAL)
    check("app registered", app and set(app) >= {
        "id", "name", "website", "scopes", "redirect_uri", "redirect_uris", "client_id",
        "client_secret", "client_secret_expires_at"} and app["scopes"] == ["write:statuses",
                                                                          "profile"]
          and app["redirect_uris"] == [OOB] and app["client_secret_expires_at"] == 0, app)
    a = sb.call(SOCIAL, "POST", "/api/v1/apps", body=json.dumps({
        "client_name": "JSON app", "redirect_uris": [OOB, "https://app.example/cb"],
        "scopes": "read"}), ctype="application/json")
    check("app from a JSON body with two redirect URIs", a.status == 200 and
          a.json["redirect_uris"] == [OOB, "https://app.example/cb"], a)
    # (form, server, the words of the refusal)
    refused = (
        ({"redirect_uris": OOB, "scopes": "read"}, SOCIAL, "Name can't be blank"),
        ({"client_name": "x", "scopes": "read"}, SOCIAL, "Redirect URI can't be blank"),
        ({"client_name": "x", "redirect_uris": "not a uri"}, SOCIAL, "absolute URI"),
        ({"client_name": "x", "redirect_uris": OOB, "scopes": "read:everything"}, SOCIAL,
         "Scopes"),
        ({"client_name": "x", "redirect_uris": OOB, "scopes": "write:statuses profile"}, OLD,
         "Scopes"),
    )
    for form, host, words in refused:
        a = sb.call(host, "POST", "/api/v1/apps", form)
        check("app refused: %s" % words, a.status == 422 and
              a.json["error"].startswith("Validation failed: ") and words in a.json["error"], a)
    check("read:accounts on the older server", sb.register(OLD, "write:statuses read:accounts"))
    check("apps are per server", sb.exchange(OLD, app, "x").status == 401)


def metadata_and_instance(sb):
    a = sb.call(SOCIAL, "GET", "/.well-known/oauth-authorization-server")
    check("metadata", a.status == 200 and "profile" in a.json["scopes_supported"] and
          a.json["authorization_endpoint"] == "https://%s/oauth/authorize" % SOCIAL and
          a.json["response_types_supported"] == ["code"] and
          a.json["grant_types_supported"] == ["authorization_code", "client_credentials"], a)
    a = sb.call(OLD, "GET", "/.well-known/oauth-authorization-server")
    check("no metadata on the older server", a.status == 404 and a.json == {"error": "Not Found"},
          a)
    for host, limit in ((SOCIAL, 500), (OLD, 1000)):
        a = sb.call(host, "GET", "/api/v2/instance")
        check("instance %s" % host, a.status == 200 and a.json["domain"] == host and
              a.json["version"] == "4.3.0" and a.json["configuration"]["statuses"] == {
                  "max_characters": limit, "max_media_attachments": 4,
                  "characters_reserved_per_url": 23}, a)
        check("rate-limit headers %s" % host, a.header("X-RateLimit-Limit") == "300" and
              a.header("X-RateLimit-Remaining").isdigit() and
              ISO.match(a.header("X-RateLimit-Reset") or ""), a.headers)


def authorize_flow(sb):
    sb.admin("POST", "/__reset")
    app = sb.register(SOCIAL)
    url = sb.authorize_url(SOCIAL, app, "write:statuses profile")
    code = approve_mastodon(sb.port, url)
    check("a code from the pages", re.fullmatch(r"[A-Za-z0-9_-]{43}", code), code)
    path = url.split(SOCIAL, 1)[1]

    # The pages refuse what the app did not register, before asking anyone to sign in.
    bad = (
        (path.replace(app["client_id"], "unknown"), "unknown client"),
        (path.replace("profile", "read"), "a scope the app did not register"),
        (path.replace("oob", "xyz"), "a redirect the app did not register"),
    )
    for p, what in bad:
        a = sb.call(SOCIAL, "GET", p)
        check("error page for %s" % what, a.status == 400 and "An error has occurred" in a.text
              and "set-cookie" not in a.headers, a)
    # Signing in needs the session cookie the form came with, and the right password.
    first = sb.call(SOCIAL, "GET", path)
    check("not signed in: to the sign-in form", first.status == 302 and
          first.header("Location") == "/auth/sign_in" and first.header("Set-Cookie"), first)
    cookie = first.header("Set-Cookie").split(";")[0]
    form = sb.call(SOCIAL, "GET", "/auth/sign_in", headers={"Cookie": cookie})
    at = between(form.text, 'name="authenticity_token" value="', '"')
    login = {"authenticity_token": at, "user[email]": M["email"], "user[password]": "wrong"}
    a = sb.call(SOCIAL, "POST", "/auth/sign_in", login)
    check("sign-in without the cookie refused", a.status == 422 and "oauth-code" not in a.text, a)
    a = sb.call(SOCIAL, "POST", "/auth/sign_in", login, headers={"Cookie": cookie})
    check("wrong password refused", a.status == 422 and "Invalid email or password" in a.text, a)

    # The code: once, by its own app, with its redirect.
    other = sb.register(SOCIAL)
    check("code of another app refused", sb.exchange(SOCIAL, other, code).json["error"]
          == "invalid_grant")
    a = sb.exchange(SOCIAL, app, code, secret="wrong")
    check("wrong secret", a.status == 401 and a.json["error"] == "invalid_client" and
          a.json["error_description"].startswith("Client authentication failed"), a)
    a = sb.exchange(SOCIAL, app, code, redirect_uri="https://elsewhere.example/")
    check("redirect mismatch", a.status == 400 and a.json["error"] == "invalid_grant", a)
    a = sb.exchange(SOCIAL, app, code)
    check("token", a.status == 200 and a.json["token_type"] == "Bearer" and
          a.json["scope"] == "write:statuses profile" and
          isinstance(a.json["created_at"], int) and a.json["access_token"], a)
    again = sb.exchange(SOCIAL, app, code)
    check("used code refused", again.status == 400 and again.json["error"] == "invalid_grant"
          and "does not match the redirection URI" in again.json["error_description"], again)
    a = sb.call(SOCIAL, "GET", "/api/v1/accounts/verify_credentials",
                token=a.json["access_token"])
    check("the new token works", a.status == 200, a)
    check("codes are per server", sb.exchange(OLD, app, code).status == 401)


def account(sb):
    sb.admin("POST", "/__reset")
    vc = "/api/v1/accounts/verify_credentials"
    a = sb.call(SOCIAL, "GET", vc, token=FIXED)
    check("verify_credentials", a.status == 200 and a.json["id"] == M["account_id"] and
          a.json["username"] == "djsandbox" and a.json["acct"] == "djsandbox" and
          a.json["display_name"] == "DJ Sandbox" and
          a.json["url"] == "https://mastodon.social/@djsandbox", a)
    _, old_token = sb.login(OLD, "write:statuses read:accounts")
    a = sb.call(OLD, "GET", vc, token=old_token)
    check("verify_credentials on the older server with read:accounts", a.status == 200 and
          a.json["url"] == "https://mastodon.example.org/@djsandbox", a)
    _, write_only = sb.login(SOCIAL, "write:statuses")
    # (token, server, status, error)
    refused = (
        (None, SOCIAL, 401, "The access token is invalid"),
        ("unknown", SOCIAL, 401, "The access token is invalid"),
        (FIXED, OLD, 401, "The access token is invalid"),
        (write_only, SOCIAL, 403, "This action is outside the authorized scopes"),
    )
    for token, host, status, error in refused:
        a = sb.call(host, "GET", vc, token=token)
        check("verify_credentials refused: %s" % error, a.status == status and
              a.json == {"error": error} and a.header("X-RateLimit-Limit"), a)
    check("a write-only token posts", sb.post(SOCIAL, "write only", write_only).status == 200)


def posting(sb):
    sb.admin("POST", "/__reset")
    a = sb.post(SOCIAL, "Now playing <A> & B\n\nhttps://example.com/x", key="k-1",
                language="de", visibility="unlisted")
    b = sb.post(SOCIAL, "Something else entirely", key="k-1")
    check("status", a.status == 200 and a.json["visibility"] == "unlisted" and
          a.json["language"] == "de" and a.json["url"].startswith("https://mastodon.social/@")
          and a.json["content"].startswith("<p>Now playing &lt;A&gt; &amp; B</p><p><a href=")
          and a.json["account"]["username"] == "djsandbox", a)
    check("same key, same status", b.status == 200 and b.json["id"] == a.json["id"], b)
    _, other = sb.login(SOCIAL, "write:statuses")
    c = sb.post(SOCIAL, "Another token, same key", other, key="k-1")
    d = sb.post(SOCIAL, "No key")
    tl = sb.statuses(SOCIAL)
    check("one status per key and token", [s["text"] for s in tl] == [
        "Now playing <A> & B\n\nhttps://example.com/x", "Another token, same key", "No key"]
          and c.json["id"] != a.json["id"] and tl[0]["id"] == a.json["id"], tl)
    check("timeline fields", set(tl[0]) == {"id", "text", "stored_at", "idempotency_key",
                                            "visibility", "language"} and
          tl[0]["idempotency_key"] == "k-1" and tl[2]["idempotency_key"] is None and
          tl[0]["language"] == "de" and d.json["language"] == "en", tl)
    check("servers keep their own statuses", sb.statuses(OLD) == [])
    check("X's timeline apart", sb.timeline() == [])
    page = sb.call(SOCIAL, "GET", "/@djsandbox")
    check("timeline page, newest first, escaped", page.status == 200 and
          page.text.index("No key") < page.text.index("Now playing &lt;A&gt; &amp; B"), page)


def counting(sb):
    sb.admin("POST", "/__reset")
    _, old_token = sb.login(OLD, "write:statuses read:accounts")
    dev = "\U0001F469\U0001F3FD\u200D\U0001F4BB"   # woman technologist, medium skin tone
    family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466"
    link = "https://example.com/" + "a" * 200
    mention = "@djsandbox@mastodon.example.org"        # counts as @djsandbox, 10
    # (server, text, accepted): each a step either side of the limit.
    cases = [
        (SOCIAL, dev * 500, True), (SOCIAL, dev * 501, False),
        (SOCIAL, family * 250 + "e\u0301" * 250, True),
        (SOCIAL, family * 250 + "e\u0301" * 251, False),
        (SOCIAL, "x" * 476 + " " + link, True), (SOCIAL, "x" * 477 + " " + link, False),
        (SOCIAL, "y" * 489 + " " + mention, True), (SOCIAL, "y" * 490 + " " + mention, False),
        (SOCIAL, "y" * 490 + mention, False),   # no mention straight after a letter
        (SOCIAL, "z" * 501, False),
        (OLD, "z" * 1000, True), (OLD, "w" * 1001, False),
        (OLD, "q" * 976 + " " + link, True),
    ]
    for n, (host, text, accepted) in enumerate(cases):
        a = sb.post(host, text, old_token if host == OLD else FIXED)
        limit = 500 if host == SOCIAL else 1000
        want = (200,) if accepted else (422, "Validation failed: Text character limit of "
                                             "%d exceeded" % limit)
        got = (a.status,) if a.status == 200 else (a.status, a.json.get("error"))
        check("counting case %d" % n, got == want, "%s %r" % (got, text[:40]))
    for blank in ("", "   \n"):
        a = sb.post(SOCIAL, blank)
        check("blank %r" % blank, a.status == 422 and a.json == {
            "error": "Validation failed: Text can't be blank"}, a)


def revocation(sb):
    sb.admin("POST", "/__reset")
    app, token = sb.login(SOCIAL, "write:statuses profile")
    vc = "/api/v1/accounts/verify_credentials"
    other = sb.register(SOCIAL)
    a = sb.call(SOCIAL, "POST", "/oauth/revoke", {
        "client_id": other["client_id"], "client_secret": other["client_secret"],
        "token": token})
    check("revoke by another app refused", a.status == 403 and
          a.json["error"] == "unauthorized_client", a)
    a = sb.call(SOCIAL, "POST", "/oauth/revoke", {
        "client_id": app["client_id"], "client_secret": app["client_secret"],
        "token": "no-such-token"})
    check("revoking an unknown token", a.status == 200 and a.json == {}, a)
    check("still valid", sb.call(SOCIAL, "GET", vc, token=token).status == 200)
    a = sb.call(SOCIAL, "POST", "/oauth/revoke", {
        "client_id": app["client_id"], "client_secret": app["client_secret"], "token": token})
    b = sb.call(SOCIAL, "GET", vc, token=token)
    check("401 after revoke", a.status == 200 and b.status == 401 and
          b.json == {"error": "The access token is invalid"}, b)

    # The fault revokes the pre-issued token until a reset brings it back.
    sb.fault(host=SOCIAL, revoke_token=True)
    a = sb.post(SOCIAL, "with a token revoked on the way")
    check("revoke_token fault", a.status == 401 and
          sb.call(SOCIAL, "GET", vc, token=FIXED).status == 401 and sb.statuses(SOCIAL) == [], a)
    sb.admin("POST", "/__reset")
    check("pre-issued token back after reset",
          sb.call(SOCIAL, "GET", vc, token=FIXED).status == 200)


def modes(sb):
    sb.admin("POST", "/__reset")
    vc = "/api/v1/accounts/verify_credentials"
    check("account disabled", sb.mode(account="disabled") == 200)
    for what, a in (("verify", sb.call(SOCIAL, "GET", vc, token=FIXED)),
                    ("post", sb.post(SOCIAL, "while disabled"))):
        check("disabled: %s 403" % what, a.status == 403 and
              a.json == {"error": "Your login is currently disabled"}, a)
    check("disabled: nothing stored", sb.statuses(SOCIAL) == [])
    check("bad token still 401 first", sb.call(SOCIAL, "GET", vc, token="x").status == 401)
    check("account ok", sb.mode(account="ok") == 200)

    _, old_token = sb.login(OLD, "write:statuses read:accounts")
    check("rate limit", sb.mode(rate_limit={"posts": 2, "window": 30}) == 200)
    start = time.time()
    answers = [sb.post(SOCIAL, "limited %d" % i, key="lim-%d" % i) for i in range(3)]
    repeat = sb.post(SOCIAL, "limited 0", key="lim-0")
    check("rate limit: two then 429", [a.status for a in answers] == [200, 200, 429] and
          answers[2].json == {"error": "Too many requests"}, answers)
    check("rate limit: a repeated key is no new post", repeat.status == 200 and
          repeat.json["id"] == answers[0].json["id"], repeat)
    for i, a in enumerate(answers):
        reset = a.header("X-RateLimit-Reset") or ""
        check("rate limit headers %d" % i, a.header("X-RateLimit-Limit") == "2" and
              a.header("X-RateLimit-Remaining") == str(max(0, 1 - i)) and ISO.match(reset) and
              start + 29 <= iso_seconds(reset) <= time.time() + 31, a.headers)
    logged = [e for e in sb.log() if e["status"] == 429]
    check("429 logged with its reset in epoch seconds", len(logged) == 1 and
          abs(logged[0]["limit_reset"] - iso_seconds(answers[2].header("X-RateLimit-Reset")))
          < 1e-3 and
          logged[0]["url"] == "https://mastodon.social/api/v1/statuses", logged)
    check("each server counts its own posts", sb.post(OLD, "elsewhere", old_token).status
          == 200)
    check("rate limit off", sb.mode(rate_limit=None) == 200 and
          sb.post(SOCIAL, "unlimited").status == 200)

    check("bad mastodon mode refused", sb.mode(account="suspended") == 400 and
          sb.mode(speed=1) == 400)
    sb.admin("POST", "/__reset")
    mode = json.loads(sb.admin("GET", "/__mode")[1])
    check("reset: normal mastodon mode", mode["mastodon"] == {
        "black_hole": False, "rate_limit": None, "account": "ok"}, mode)


def black_hole(sb):
    sb.admin("POST", "/__reset")
    open_tunnel = tunnel(sb.port, SOCIAL)
    open_tunnel.request("GET", "/api/v2/instance")
    first = open_tunnel.getresponse()
    first.read()
    check("black hole on", sb.mode(black_hole=True) == 200)
    with socket.create_connection(("127.0.0.1", sb.port), timeout=5) as raw:
        raw.sendall(b"CONNECT mastodon.example.org:443 HTTP/1.1\r\n"
                    b"Host: mastodon.example.org:443\r\n\r\n")
        check("black hole: CONNECT unanswered", silent(raw, 1.0))
        open_tunnel.sock.settimeout(1.0)
        open_tunnel.request("GET", "/api/v2/instance")
        try:
            open_tunnel.getresponse()
            held = False
        except socket.timeout:
            held = True
        check("black hole: request in an open tunnel unanswered", first.status == 200 and held)
        x = tunnel(sb.port, "api.twitter.com")
        x.request("GET", "/")
        check("black hole: X answers", x.getresponse().status == 200)
        x.close()
        check("black hole off", sb.mode(black_hole=False) == 200)
        raw.settimeout(2.0)
        check("black hole: held connection closed", raw.recv(1) == b"")
    open_tunnel.close()
    check("answered again", sb.call(SOCIAL, "GET", "/api/v2/instance").status == 200)
    log = sb.log()
    check("black hole logged", sum(e["verdict"] == "fault black-hole" for e in log) == 2, log)


def faults(sb):
    sb.admin("POST", "/__reset")
    # A fault without a host is X's; one with a host is that server's.
    sb.fault(status=503, body="X is down")
    sb.fault(host=OLD, status=503, body='{"error":"old is down"}')
    social = sb.call(SOCIAL, "GET", "/api/v2/instance")
    old = sb.call(OLD, "GET", "/api/v2/instance")
    x = tunnel(sb.port, "api.twitter.com")
    x.request("GET", "/")
    r = x.getresponse()
    x_body = r.read().decode()
    x.close()
    check("faults by host", social.status == 200 and old.status == 503 and
          old.json == {"error": "old is down"} and r.status == 503 and x_body == "X is down",
          (social, old, r.status))
    check("queue used up", json.loads(sb.admin("GET", "/__faults")[1]) == [])

    sb.fault(host=SOCIAL, path="/api/v1/statuses", status=429, body='{"error":"Too many '
             'requests"}', reset_in=40)
    a = sb.post(SOCIAL, "limited by a fault")
    reset = a.header("X-RateLimit-Reset") or ""
    check("429 fault with an ISO reset", a.status == 429 and ISO.match(reset) and
          abs(iso_seconds(reset) - time.time() - 40) < 3 and
          a.header("X-RateLimit-Remaining") == "0", a.headers)

    # The post is stored and its answer lost; its retry with the same key finds it.
    sb.fault(host=SOCIAL, path="/api/v1/statuses", stall=1, stored=True)
    c = tunnel(sb.port, SOCIAL)
    c.request("POST", "/api/v1/statuses", body=urlencode({"status": "stalled"}), headers={
        "Authorization": "Bearer " + FIXED, "Idempotency-Key": "stall-1",
        "Content-Type": FORM})
    r = c.getresponse()
    try:
        r.read()
        complete = True
    except Exception:
        complete = False
    c.close()
    retry = sb.post(SOCIAL, "stalled", key="stall-1")
    tl = sb.statuses(SOCIAL)
    check("stall+stored, then a retry with the key", not complete and retry.status == 200 and
          [s["text"] for s in tl] == ["stalled"] and retry.json["id"] == tl[0]["id"], tl)

    sb.fault(host=SOCIAL, garbage=True)
    a = sb.call(SOCIAL, "GET", "/api/v2/instance")
    check("garbage fault", a.status == 200 and a.json is None, a)
    entries = [e for e in sb.log() if e["method"] != "CONNECT"]
    check("log names the server", entries[-1]["url"] == "https://mastodon.social/api/v2/instance"
          and entries[-1]["headers"]["Host"] == SOCIAL and
          entries[-1]["verdict"] == "fault garbage", entries[-1])
    check("bad host on a timeline", sb.admin("GET", "/__timeline?host=example.com")[0] == 404)


def state_and_command_line():
    """The Mastodon data kept in --state over a restart; the modes from the command line."""
    with tempfile.TemporaryDirectory() as state:
        sb = Sandbox("--state", state)
        try:
            _, token = sb.login(OLD, "write:statuses read:accounts")
            first = sb.post(OLD, "kept", token, key="kept-1")
        finally:
            check("state: clean exit", sb.stop() == 0)
        sb = Sandbox("--state", state, "--mastodon-account", "disabled",
                     "--mastodon-rate-limit", "3/60", "--mastodon-black-hole")
        try:
            mode = json.loads(sb.admin("GET", "/__mode")[1])["mastodon"]
            check("command-line mastodon mode", mode == {
                "black_hole": True, "rate_limit": {"posts": 3, "window": 60},
                "account": "disabled"}, mode)
            sb.mode(black_hole=False, account="ok")
            again = sb.post(OLD, "kept", token, key="kept-1")
            check("state: token, status and key kept", again.status == 200 and
                  again.json["id"] == first.json["id"] and
                  [s["text"] for s in sb.statuses(OLD)] == ["kept"], again)
            sb.admin("POST", "/__reset")   # back to the command line's mode
            sb.mode(black_hole=False, account="ok")
            check("state: reset forgets", sb.statuses(OLD) == [] and
                  sb.post(OLD, "x", token).status == 401 and
                  not os.path.exists(os.path.join(state, "mastodon.json")))
        finally:
            sb.stop()


def main():
    import signal
    signal.alarm(90)   # never hang a test run
    sb = Sandbox()
    try:
        for part in (apps, metadata_and_instance, authorize_flow, account, posting, counting,
                     revocation, modes, black_hole, faults):
            run(part, sb)
    finally:
        rc = sb.stop()
    check("clean exit on SIGTERM", rc == 0, rc)
    run(state_and_command_line)
    report_and_exit()


if __name__ == "__main__":
    main()
