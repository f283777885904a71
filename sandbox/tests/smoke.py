#!/usr/bin/python3
"""End-to-end check of the sandbox service: PIN flow, refusals, tunnel reuse,
faults. Starts its own server on a free port and stops it afterwards."""

import base64
import hashlib
import hmac
import json
import os
import re
import signal
import sys
import time
from urllib.parse import parse_qsl, quote

from oauthlib import oauth1

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, HERE)
from sandbox import api2, textcount  # noqa: E402
from sandbox.harness import CREDS, SandboxProcess, between  # noqa: E402
from checks import check, report_and_exit, run  # noqa: E402

API = "https://api.twitter.com"
FORM_TYPE = "application/x-www-form-urlencoded"
FORM = {"Content-Type": FORM_TYPE}
FIXED = (CREDS["access_token"], CREDS["access_token_secret"])
ERR = '{"errors":[{'
MASTODON_NORMAL = {"black_hole": False, "rate_limit": None, "account": "ok"}
BLUESKY_NORMAL = {"black_hole": False, "rate_limit": None, "account": "ok", "access_ttl": 7200,
                  "did_doc": True}

class Sandbox(SandboxProcess):
    def call(self, method, path, body=None, headers=None, conn=None):
        c = conn or self.browser()
        if isinstance(body, str):
            body = body.encode("utf-8")
        c.request(method, path, body=body, headers=headers or {})
        r = c.getresponse()
        data = r.read().decode("utf-8", "replace")
        if conn is None:
            c.close()
        return r.status, r, data

    def signed(self, method, path, key=None, secret=None, body=None, conn=None,
               consumer_secret=None, verifier=None, timestamp=None, ctype=FORM_TYPE):
        client = oauth1.Client(CREDS["consumer_key"],
                               client_secret=consumer_secret or CREDS["consumer_secret"],
                               resource_owner_key=key, resource_owner_secret=secret,
                               verifier=verifier, timestamp=timestamp)
        uri, headers, body = client.sign(API + path, method, body,
                                         {"Content-Type": ctype} if body is not None else {})
        return self.call(method, path, body, headers, conn)



def code(st, body, want_status, want_code, name):
    check(name, st == want_status and body.startswith(ERR)
          and json.loads(body)["errors"][0]["code"] == want_code, "%d %s" % (st, body))


def rfc_header(method, url, key, secret, extra_params=()):
    """Signs by hand and writes the header the way our C++ client does:
    no spaces, raw values, the signature percent-encoded."""
    ts = str(int(time.time()))
    p = {"oauth_consumer_key": CREDS["consumer_key"], "oauth_nonce": ts + "1f3",
         "oauth_signature_method": "HMAC-SHA1", "oauth_timestamp": ts,
         "oauth_token": key, "oauth_version": "1.0"}
    enc = lambda s: quote(s, safe="-._~")
    items = sorted(list(p.items()) + list(extra_params))
    norm = "&".join("%s=%s" % (enc(k), enc(v)) for k, v in items)
    base = "&".join([method, enc(url), enc(norm)])
    skey = enc(CREDS["consumer_secret"]) + "&" + enc(secret)
    sig = base64.b64encode(hmac.new(skey.encode(), base.encode(), hashlib.sha1).digest())
    p["oauth_signature"] = enc(sig.decode())
    return "OAuth " + ",".join('%s="%s"' % kv for kv in sorted(p.items()))


def flow(sb):

    # 1. request token, consumer only, no callback
    st, _, body = sb.signed("GET", "/oauth/request_token")
    rt = dict(parse_qsl(body))
    check("request_token", st == 200 and rt.get("oauth_token") and rt.get("oauth_token_secret")
          and body.index("oauth_token=") < body.index("oauth_token_secret="), body)

    # 2. authorize page, fields found with the client's own markers
    path = "/oauth/authorize?oauth_token=" + rt["oauth_token"]
    st, r, page = sb.call("GET", path)
    at = between(page, 'authenticity_token" type="hidden" value="', '">')
    ot = between(page, 'oauth_token" type="hidden" value="', '">')
    cookie = (r.getheader("Set-Cookie") or "").split(";")[0]
    check("authorize page", st == 200 and at and ot == rt["oauth_token"] and cookie
          and "Authorize app" in page, page[:200])

    form = ("oauth_token=%s&authenticity_token=%s&session[username_or_email]=%s"
            "&session[password]=%%s" % (ot, at, CREDS["screen_name"]))
    st, _, page = sb.call("POST", path, form % CREDS["password"], dict(FORM))
    check("login without cookie gives no PIN", 400 <= st < 500 and "code-desc" not in page)
    st, _, page = sb.call("POST", path, form % "wrong", dict(FORM, Cookie=cookie))
    check("wrong password gives no PIN", 400 <= st < 500 and "code-desc" not in page)

    # 3. login with the session cookie; raw, unencoded form like the C++ client
    st, _, page = sb.call("POST", path, form % CREDS["password"], dict(FORM, Cookie=cookie))
    pin = between(page, 'code-desc"><code>', "</code>")
    check("PIN page", st == 200 and pin and re.fullmatch(r"\d{7}", pin)
          and "Next, return to the app and enter this PIN" in page, page[:300])

    # 4. access token: wrong PIN refused, right PIN accepted, token consumed
    bad = "0000000" if pin != "0000000" else "1111111"
    st, _, body = sb.signed("GET", "/oauth/access_token", rt["oauth_token"],
                            rt["oauth_token_secret"], verifier=bad)
    check("wrong PIN", st == 401 and body.startswith(ERR) and '"code":32' in body, body)
    st, _, body = sb.signed("GET", "/oauth/access_token", rt["oauth_token"],
                            rt["oauth_token_secret"], verifier=pin)
    acc = dict(parse_qsl(body))
    check("access_token", st == 200 and acc.get("user_id") == CREDS["user_id"]
          and body.endswith("&screen_name=" + CREDS["screen_name"]), body)
    st, _, body = sb.signed("GET", "/oauth/access_token", rt["oauth_token"],
                            rt["oauth_token_secret"], verifier=pin)
    check("request token used up", st == 401 and '"code":89' in body, body)

    # 5. the new token works for REST calls
    tok = (acc["oauth_token"], acc["oauth_token_secret"])
    st, _, body = sb.signed("GET", "/1.1/account/verify_credentials.json", *tok)
    check("verify_credentials", st == 200 and json.loads(body)["screen_name"] == "djsandbox", body)
    text = "Now playing <Ärtist> & Co - Tïtle on #Spinforge"
    st, _, body = sb.signed("POST", "/1.1/statuses/update.json", *tok,
                            body="status=" + quote(text, safe="-._~"))
    tw = json.loads(body)
    check("statuses/update", st == 200 and tw["text"] == text and tw["id_str"] == str(tw["id"])
          and tw["user"]["screen_name"] == "djsandbox", body)
    st, _, home = sb.call("GET", "/")
    check("timeline page escapes text", st == 200 and "&lt;Ärtist&gt; &amp; Co" in home)

    # 6. header written exactly like the C++ client's, pre-issued token
    fixed = (CREDS["access_token"], CREDS["access_token_secret"])
    url = API + "/1.1/statuses/user_timeline.json"
    hdr = rfc_header("GET", url, *fixed, extra_params=[("count", "5")])
    st, _, body = sb.call("GET", "/1.1/statuses/user_timeline.json?count=5",
                          headers={"Authorization": hdr})
    check("C++-style header", st == 200 and json.loads(body)[0]["text"] == text, body)


def refusals(sb):
    fixed = (CREDS["access_token"], CREDS["access_token_secret"])
    vc = "/1.1/account/verify_credentials.json"
    up = "/1.1/statuses/update.json"

    code(*sb.signed("GET", vc, *fixed, consumer_secret="nope")[::2], 401, 32, "bad signature")
    code(*sb.signed("GET", vc, "100001-unknown", "x")[::2], 401, 89, "unknown token")
    code(*sb.signed("GET", vc, *fixed, timestamp=str(int(time.time()) - 1000))[::2],
         401, 135, "timestamp")
    code(*sb.call("GET", vc)[::2], 401, 32, "unsigned")

    client = oauth1.Client(CREDS["consumer_key"], client_secret=CREDS["consumer_secret"],
                           resource_owner_key=fixed[0], resource_owner_secret=fixed[1])
    _, headers, _ = client.sign(API + vc)
    first = sb.call("GET", vc, headers=headers)[0]
    st, _, body = sb.call("GET", vc, headers=headers)
    check("replayed nonce", first == 200, first)
    code(st, body, 401, 32, "replayed nonce refused")

    code(*sb.signed("POST", up, *fixed, body="status=")[::2], 403, 170, "empty status")
    code(*sb.signed("POST", up, *fixed, body="status=" + quote("é" * 281))[::2],
         403, 186, "too long")
    st, _, body = sb.signed("POST", up, *fixed, body="status=" + quote("é" * 280))
    check("280 code points accepted", st == 200, body)
    code(*sb.signed("POST", up, *fixed, body="status=" + quote("é" * 280))[::2],
         403, 187, "duplicate")
    code(*sb.signed("GET", "/1.1/no/such/thing.json", *fixed)[::2], 404, 34, "unknown path")


def weighted_count(sb):
    """The length as the service counts it, when the sandbox has its library (scripts/setup)."""
    if textcount.missing():
        print("skipped weighted_count: %s" % textcount.missing())
        return
    up = "/1.1/statuses/update.json"
    post = lambda text: sb.signed("POST", up, *FIXED, body="status=" + quote(text, safe=""))
    code(*post("\u6771" * 141)[::2], 403, 186, "141 CJK characters weigh 282")
    check("140 CJK characters weigh 280", post("\u6771" * 140)[0] == 200)
    link = "https://example.com/" + "x" * 300
    st, _, body = post("Mix " + link)
    check("a link of 320 characters weighs 23", st == 200, body)
    code(*post("\U0001f600" * 141)[::2], 403, 186, "141 emoji weigh 282")


def transport(sb):
    fixed = (CREDS["access_token"], CREDS["access_token_secret"])
    vc = "/1.1/account/verify_credentials.json"
    sb.admin("POST", "/__reset")
    conn = sb.browser()
    a = sb.signed("GET", vc, *fixed, conn=conn)[0]
    b = sb.signed("GET", "/1.1/statuses/home_timeline.json", *fixed, conn=conn)[0]
    conn.close()
    sb.signed("GET", vc, *fixed)
    log = json.loads(sb.admin("GET", "/__log")[1])
    reqs = [e for e in log if e["method"] != "CONNECT"]
    ids = [e["connection"] for e in reqs]
    check("one tunnel, many requests", a == b == 200 and len(reqs) == 3
          and ids[0] == ids[1] != ids[2] and reqs[1]["url"] == API + reqs[1]["path"]
          and reqs[0]["verdict"] == "ok", json.dumps(reqs)[:400])

    st, body = sb.admin("POST", "/__faults", json.dumps({"status": 503, "body": "down"}))
    check("fault queued", st == 200 and json.loads(body) == {"ok": True, "queued": 1}, body)
    st, _, body = sb.signed("GET", vc, *fixed)
    check("fault 503", st == 503 and body == "down", "%d %s" % (st, body))
    check("fault used once", sb.signed("GET", vc, *fixed)[0] == 200)

    sb.admin("POST", "/__faults", json.dumps([{"revoke_token": True, "path": "verify"}]))
    st, _, body = sb.signed("GET", vc, *fixed)
    later = sb.signed("GET", vc, *fixed)[0]
    sb.admin("POST", "/__reset")
    check("revoked until reset", st == 401 and '"code":89' in body and later == 401
          and sb.signed("GET", vc, *fixed)[0] == 200, body)


def duplicates(sb):
    fixed = (CREDS["access_token"], CREDS["access_token_secret"])

    def post(text):
        st, _, body = sb.signed("POST", "/1.1/statuses/update.json", *fixed,
                                body="status=" + quote(text, safe=""))
        return st, json.loads(body)

    def refused(res):
        return res[0] == 403 and res[1]["errors"][0]["code"] == 187

    def timeline():
        st, body = sb.admin("GET", "/__timeline")
        return st, json.loads(body)

    sb.admin("POST", "/__reset")
    texts = ["Now playing A - One", "Now playing B - Two", "Now playing C - Three"]
    start = time.time()
    posted = [post(t) for t in texts]
    end = time.time()
    check("posts accepted", all(st == 200 for st, _ in posted), posted)

    st, tl = timeline()
    stamps = [e["stored_at"] for e in tl]
    check("timeline oldest first", st == 200
          and [(e["id"], e["text"]) for e in tl] == [(tw["id_str"], tw["text"]) for _, tw in posted]
          and all(set(e) == {"id", "text", "stored_at"} for e in tl), tl)
    check("stored_at increasing, sub-ms", all(isinstance(x, float) for x in stamps)
          and start <= stamps[0] < stamps[1] < stamps[2] <= end
          and any(round(x, 3) != x for x in stamps), stamps)

    older = post(texts[0])
    check("duplicate of an older tweet refused", refused(older), older)
    check("refused post not stored", len(timeline()[1]) == 3)

    mid = posted[1][1]["id_str"]
    st, _, body = sb.signed("DELETE", "/1.1/statuses/destroy/%s.json" % mid, *fixed)
    again = post(texts[1])
    check("destroyed text may be posted again", st == 200 and again[0] == 200, again)
    check("reposted text refused once stored again", refused(post(texts[1])))
    check("timeline follows destroy and repost",
          [e["text"] for e in timeline()[1]] == [texts[0], texts[2], texts[1]])

    sb.admin("POST", "/__reset")
    check("reset empties timeline", timeline() == (200, []))
    check("text may be posted again after reset", post(texts[0])[0] == 200)


def v2(sb):
    me, tweets = "/2/users/me", "/2/tweets"
    JSON_TYPE = "application/json"

    def create(obj, raw=None, ctype=JSON_TYPE, key=FIXED):
        body = raw if raw is not None else json.dumps(obj, ensure_ascii=False)
        st, _, data = sb.signed("POST", tweets, *key, body=body, ctype=ctype)
        return st, json.loads(data)

    def problem(res, status, name, detail=None):
        st, obj = res
        check(name, st == status and obj.get("status", status) == status and "title" in obj
              and "type" in obj and (detail is None or obj.get("detail") == detail),
              "%d %s" % (st, obj))

    sb.admin("POST", "/__reset")
    st, _, body = sb.signed("GET", me, *FIXED)
    check("users/me", st == 200 and json.loads(body) == {"data": {
        "id": CREDS["user_id"], "name": CREDS["name"], "username": CREDS["screen_name"]}}, body)

    text = 'Now playing "Ärtist" \\ Co – Tïtle\n#Spinforge'
    st, obj = create({"text": text, "reply": {"in_reply_to_tweet_id": "1"}})
    check("tweet created", st == 201 and obj["data"]["text"] == text
          and obj["data"]["id"] == sb.timeline()[-1]["id"], obj)
    problem(create({"text": text}), 403, "v2 duplicate",
            "You are not allowed to create a Tweet with duplicate content.")
    st, _, body = sb.signed("POST", "/1.1/statuses/update.json", *FIXED,
                            body="status=" + quote(text, safe=""))
    check("one timeline for v1.1 and v2", st == 403 and '"code":187' in body, body)
    problem(create({"text": ""}), 400, "v2 empty text")
    problem(create({"text": "é" * 281}), 403, "v2 too long", api2.TOO_LONG_DETAIL)
    check("v2 280 code points", create({"text": "é" * 280})[0] == 201)
    problem(create(None, raw="{not json"), 400, "v2 body not JSON")
    problem(create(None, raw="text=hello", ctype=FORM_TYPE), 400, "v2 form body")
    problem(create({"text": 5}), 400, "v2 text not a string")
    problem(create({"text": "x"}, key=("100001-unknown", "x")), 401, "v2 unknown token",
            "Unauthorized")
    st, _, body = sb.call("GET", me)
    problem((st, json.loads(body)), 401, "v2 unsigned")
    st, _, body = sb.signed("GET", "/2/no/such", *FIXED)
    problem((st, json.loads(body)), 404, "v2 unknown path")

    sb.admin("POST", "/__faults", json.dumps({"path": tweets, "status": 503, "body": "down"}))
    st, obj = sb.signed("POST", tweets, *FIXED, body='{"text":"during a fault"}',
                        ctype=JSON_TYPE)[::2]
    check("faults apply to v2", st == 503 and obj == "down", obj)


def modes(sb):
    """The account's states and limits, the clock offset and the black hole, switched on and off
    through /__mode; /__reset goes back to normal."""
    from email.utils import parsedate_to_datetime
    import socket
    update = "/1.1/statuses/update.json"

    def post(text, v2=False):
        if v2:
            return sb.signed("POST", "/2/tweets", *FIXED, body=json.dumps({"text": text}),
                             ctype="application/json")
        return sb.signed("POST", update, *FIXED, body="status=" + quote(text))

    def mode(**changes):
        return sb.admin("POST", "/__mode", json.dumps(changes))[0]

    sb.admin("POST", "/__reset")
    # Each account state, v1.1 and v2: status, the code or title, and the service's words.
    cases = (
        ("credits-depleted", False, 402, "CreditsDepleted", "does not have any credits"),
        ("credits-depleted", True, 402, "CreditsDepleted", "does not have any credits"),
        ("suspended", False, 403, 64, "account is suspended"),
        ("suspended", True, 403, "Forbidden", "authentication is suspended"),
    )
    for n, (state, v2, status, mark, words) in enumerate(cases):
        check("mode account %s" % state, mode(account=state) == 200)
        st, _, body = post("refused %d" % n, v2)
        obj = json.loads(body)
        got = obj.get("title") if isinstance(mark, str) else obj["errors"][0]["code"]
        check("account %s v2=%s" % (state, v2), st == status and got == mark and words in body,
              "%d %s" % (st, body))
    check("refused posts not stored", sb.timeline() == [])
    check("verification still served", mode(account="ok") == 200
          and sb.signed("GET", "/1.1/account/verify_credentials.json", *FIXED)[0] == 200)

    # A limit of 2 posts in 30 s: headers on every post, then 429 until the window's reset.
    check("mode rate_limit", mode(rate_limit={"posts": 2, "window": 30}) == 200)
    answers = [post("limited %d" % i, v2=i == 2) for i in range(4)]
    statuses = [a[0] for a in answers]
    check("rate limit statuses", statuses == [200, 200, 429, 429], statuses)
    now = time.time()
    for i, (st, r, body) in enumerate(answers):
        reset = int(r.getheader("x-rate-limit-reset", "0"))
        check("rate limit headers %d" % i, r.getheader("x-rate-limit-limit") == "2"
              and now < reset <= now + 32
              and r.getheader("x-rate-limit-remaining") == str(max(0, 1 - i)),
              dict(r.getheaders()))
    check("v2 429 body", json.loads(answers[2][2]).get("title") == "Too Many Requests",
          answers[2][2])
    check("v1.1 429 body", '"code":88' in answers[3][2], answers[3][2])
    sb.admin("POST", "/__faults", json.dumps(
        {"path": "update", "status": 429, "body": "{}", "reset_in": 7}))
    mode(rate_limit=None)
    st, r, _ = post("one-shot limit")
    check("429 fault with its reset", st == 429 and
          abs(int(r.getheader("x-rate-limit-reset", "0")) - (time.time() + 7)) <= 2,
          dict(r.getheaders()))

    # The service's clock 10 minutes ahead: its Date says so, and our time stamps are refused.
    check("mode clock_offset", mode(clock_offset=600) == 200)
    st, r, body = sb.signed("GET", "/1.1/account/verify_credentials.json", *FIXED)
    shown = parsedate_to_datetime(r.getheader("Date")).timestamp()
    check("Date shifted", abs(shown - (time.time() + 600)) <= 3, r.getheader("Date"))
    check("time stamp refused", st == 401 and '"code":135' in body, body)
    st, _, body = sb.signed("GET", "/1.1/account/verify_credentials.json", *FIXED,
                            timestamp=str(int(time.time() + 600)))
    check("shifted time stamp accepted", st == 200, body)

    # The black hole: connections are taken and never answered; the control endpoint still is.
    check("mode black_hole", mode(black_hole=True, clock_offset=0) == 200)
    with socket.create_connection(("127.0.0.1", sb.port), timeout=5) as raw:
        raw.sendall(b"CONNECT api.twitter.com:443 HTTP/1.1\r\nHost: api.twitter.com\r\n\r\n")
        raw.settimeout(1.0)
        try:
            raw.recv(1)  # an answer or a close: not silent
            silent = False
        except socket.timeout:
            silent = True
        check("black hole: no answer", silent)
        check("black hole: control still answers", sb.admin("GET", "/__mode")[0] == 200)
        check("black hole off", mode(black_hole=False) == 200)
        raw.settimeout(2.0)
        try:
            closed = raw.recv(1) == b""
        except (socket.timeout, ConnectionError):
            closed = False
        check("black hole: held connection closed when it ends", closed)
    check("answered again", sb.signed("GET", "/1.1/account/verify_credentials.json", *FIXED)[0]
          == 200)

    check("bad mode refused", mode(account="asleep") == 400 and mode(speed=1) == 400)
    sb.admin("POST", "/__reset")
    check("reset: normal mode", json.loads(sb.admin("GET", "/__mode")[1]) == {
        "black_hole": False, "clock_offset": 0, "rate_limit": None, "account": "ok",
        "mastodon": MASTODON_NORMAL, "bluesky": BLUESKY_NORMAL})


def started_in_a_mode():
    """The same modes from the command line, kept over a reset."""
    sb = Sandbox("--clock-offset", "-900", "--account", "suspended", "--rate-limit", "3/60")
    try:
        sb.admin("POST", "/__reset")
        mode = json.loads(sb.admin("GET", "/__mode")[1])
        check("command-line mode", mode == {"black_hole": False, "clock_offset": -900,
                                             "rate_limit": {"posts": 3, "window": 60},
                                             "account": "suspended",
                                             "mastodon": MASTODON_NORMAL,
                                             "bluesky": BLUESKY_NORMAL}, mode)
    finally:
        check("command-line mode: clean exit", sb.stop() == 0)


def v2_only():
    """A sandbox for an account without v1.1 access: v1.1 refused with 453, OAuth and v2 work."""
    sb = Sandbox("--access", "v2-only")
    try:
        st, _, body = sb.signed("GET", "/oauth/request_token")
        check("v2-only: request token", st == 200 and "oauth_token=" in body, body)
        for method, path, form in (("GET", "/1.1/account/verify_credentials.json", None),
                                   ("POST", "/1.1/statuses/update.json", "status=hello")):
            st, _, body = sb.signed(method, path, *FIXED, body=form)
            errors = json.loads(body).get("errors", [{}])
            check("v2-only: %s refused" % path, st == 403 and body.startswith(ERR)
                  and errors[0].get("code") == 453
                  and "limited v1.1 endpoints" in errors[0].get("message", ""), body)
        st, _, body = sb.signed("GET", "/1.1/account/verify_credentials.json", *FIXED,
                                consumer_secret="nope")
        check("v2-only: signature still checked first", st == 401 and '"code":32' in body, body)
        st, _, body = sb.signed("GET", "/2/users/me", *FIXED)
        check("v2-only: users/me", st == 200, body)
        st, _, body = sb.signed("POST", "/2/tweets", *FIXED, body='{"text":"hello"}',
                                ctype="application/json")
        check("v2-only: tweet", st == 201 and [t["text"] for t in sb.timeline()] == ["hello"],
              body)
    finally:
        check("v2-only: clean exit", sb.stop() == 0)


def main():
    signal.alarm(60)   # never hang a test run
    sb = Sandbox()
    try:
        for part in (flow, refusals, weighted_count, transport, duplicates, v2, modes):
            run(part, sb)
    finally:
        rc = sb.stop()
    check("clean exit on SIGTERM", rc == 0, rc)
    for part in (v2_only, started_in_a_mode):
        run(part)
    report_and_exit()


if __name__ == "__main__":
    main()
