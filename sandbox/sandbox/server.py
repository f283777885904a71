"""Sandbox stand-in for the remote tweet service, over real HTTPS."""

import argparse
import json
import os
import secrets
import selectors
import signal
import socket
import ssl
import sys
import threading
import time
import traceback
from urllib.parse import parse_qsl

from . import api, api2, bluesky, clock, mastodon, modes, oauth, pages, textcount
from .answers import Answer, html_answer, json_answer, json_bytes
from .httpio import BadRequest, ClientGone, Conn, head_bytes
from .store import Store, rand_alnum

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CERTS = os.path.join(HERE, "certs")
X_HOST = "api.twitter.com"
TUNNEL_TARGETS = {(h, "443") for h in (X_HOST,) + mastodon.HOSTS + bluesky.HOSTS}
TEST_PATHS = ("/__log", "/__reset", "/__faults", "/__timeline", "/__mode")
IDLE_TIMEOUT = 75
COOKIE = "_sandbox_sess"
LOG_CAP = 100000

FAULT_KEYS = {"host": str, "path": str, "status": int, "body": str, "delay": (int, float),
              "stall": (int, float), "reset": bool, "truncate": bool,
              "garbage": bool, "large": int, "revoke_token": bool, "reset_in": (int, float),
              "stored": bool, "expire_token": bool}

# How the service treats this account until told otherwise: the `mode` of /__mode and of the
# command line. /__reset goes back to the mode the sandbox was started with.
MODE_DEFAULTS = {"black_hole": False, "clock_offset": 0, "rate_limit": None, "account": "ok",
                 "mastodon": mastodon.MODE_DEFAULTS, "bluesky": bluesky.MODE_DEFAULTS}
# The services whose mode is an object of its own under their key, changed key by key.
SERVICE_MODES = {"mastodon": mastodon.MODE_DEFAULTS, "bluesky": bluesky.MODE_DEFAULTS}
ACCOUNT_STATES = ("ok", "credits-depleted", "suspended")
POST_ROUTES = {("POST", "/1.1/statuses/update.json"), ("POST", "/2/tweets")}

# The service's answers for the account states and limits, v1.1 and v2.
V1_RATE_LIMITED = {"errors": [{"message": "Rate limit exceeded", "code": 88}]}
V2_RATE_LIMITED = {"title": "Too Many Requests", "detail": "Too Many Requests",
                   "type": "about:blank", "status": 429}
# As users quote it: no "status" member. The account id is the sandbox's own.
CREDITS_DEPLETED = {
    "account_id": 1900000000000100001, "title": "CreditsDepleted",
    "detail": "Your enrolled account [1900000000000100001] does not have any credits to fulfill "
              "this request.",
    "type": "https://api.twitter.com/2/problems/credits"}
SUSPENDED_MESSAGE = "Your account is suspended and is not permitted to access this feature."
V1_SUSPENDED = {"errors": [{"message": SUSPENDED_MESSAGE, "code": 64}]}
V2_SUSPENDED = {"detail": "The user used for authentication is suspended", "title": "Forbidden",
                "status": 403, "type": "https://api.twitter.com/2/problems/user-suspended"}


ACCESS_LEVELS = ("full", "v2-only")
# What the service answers every v1.1 REST call of an account without v1.1 access.
V1_DENIED = {"errors": [{"message": (
    "You currently have access to a subset of X API V2 endpoints and limited v1.1 endpoints "
    "(e.g. media post, oauth) only. If you need access to this endpoint, you may need a "
    "different access level. You can learn more here: "
    "https://developer.x.com/en/portal/product"), "code": 453}]}


def error_body(code, message):
    return json_bytes({"errors": [{"code": code, "message": message}]})


def refusal(status, code, message):
    return Answer(status, error_body(code, message), verdict="error %d" % code)


class Sandbox:
    def __init__(self, creds, state_dir=None, quiet=False, access="full", mode=None):
        self.creds = creds
        self.access = access
        self.start_mode = check_mode(merge_mode(MODE_DEFAULTS, mode or {}))
        self.post_times = []  # sandbox clock times of the posts in the limit's window
        self.store = Store(creds, state_dir)
        self.mastodon = mastodon.Mastodon(creds, state_dir)
        self.bluesky = bluesky.Bluesky(creds, state_dir)
        self.apply_mode(self.start_mode)
        self.quiet = quiet
        self.port = 0
        self.stop = threading.Event()
        self.log_lock = threading.Lock()
        self.log = []
        self.faults = []
        self.conn_counter = 0
        self.tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.tls.load_cert_chain(os.path.join(CERTS, "server.pem"),
                                 os.path.join(CERTS, "server.key"))
        self.tls.set_alpn_protocols(["http/1.1"])

    # -- plumbing ------------------------------------------------------------

    def say(self, line):
        if not self.quiet:
            try:
                sys.stderr.write(line + "\n")
                sys.stderr.flush()
            except (OSError, ValueError):
                pass

    def listen(self, host, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind((host, port))
        self.sock.listen(128)
        self.port = self.sock.getsockname()[1]

    def serve_forever(self):
        sel = selectors.DefaultSelector()
        sel.register(self.sock, selectors.EVENT_READ)
        while not self.stop.is_set():
            if not sel.select(timeout=0.25):
                continue
            try:
                sock, peer = self.sock.accept()
            except OSError:
                continue
            with self.log_lock:
                self.conn_counter += 1
                cid = self.conn_counter
            threading.Thread(target=self.handle_conn, args=(sock, cid, peer),
                             daemon=True).start()
        sel.close()
        self.sock.close()

    def handle_conn(self, sock, cid, peer):
        sock.settimeout(IDLE_TIMEOUT)
        conn = Conn(sock, cid, peer)
        try:
            if conn.peek_first() == 0x16:
                if self.mode["black_hole"]:
                    return self.hold(conn)
                conn.start_tls(self.tls)
                self.serve_tls(conn)
            else:
                self.serve_plain(conn)
        except (ClientGone, ssl.SSLError, ConnectionError, socket.timeout):
            pass
        except BadRequest as e:
            self.send_quietly(conn, Answer(400, error_body(400, "Bad request: %s" % e)), True)
        except Exception:
            self.say("internal error on connection %d:\n%s" % (cid, traceback.format_exc()))
        finally:
            conn.close()

    def send(self, conn, ans, close):
        head = [("Content-Type", ans.ctype)] + ans.headers
        conn.send_raw(head_bytes(ans.status, head, len(ans.body), close) + ans.body)

    def send_quietly(self, conn, ans, close):
        try:
            self.send(conn, ans, close)
        except ClientGone:
            pass

    def record(self, conn, req):
        entry = {
            "method": req.method, "path": req.target,
            "url": (req.target if req.method == "CONNECT" else
                    "https://%s%s" % (service_of(req), req.path)),
            "headers": req.header_dict(),
            "body": req.body.decode("utf-8", "surrogateescape"),
            "connection": conn.cid, "status": None, "verdict": None,
            "time": round(time.time(), 3),
        }
        with self.log_lock:
            self.log.append(entry)
            if len(self.log) > LOG_CAP:
                del self.log[:len(self.log) - LOG_CAP]
        return entry

    def finish(self, entry, req, status, verdict):
        entry["status"] = status
        entry["verdict"] = verdict
        self.say("[%d] %s %s -> %d %s" % (entry["connection"], req.method,
                                          req.target, status, verdict))

    # -- the two entrances ---------------------------------------------------

    def serve_plain(self, conn):
        while True:
            req = conn.read_request()
            close = req.wants_close()
            if req.method == "CONNECT":
                entry = self.record(conn, req)
                host, _, port = req.target.rpartition(":")
                host = host.lower()
                if self.black_hole_for(host):
                    self.finish(entry, req, 0, "fault black-hole")
                    return self.hold(conn, host)
                if (host, port) not in TUNNEL_TARGETS:
                    self.finish(entry, req, 403, "error tunnel")
                    self.send(conn, Answer(403, ("CONNECT is only served for %s\n" % ", ".join(
                        sorted("%s:%s" % t for t in TUNNEL_TARGETS))).encode(),
                        "text/plain", "error tunnel"), True)
                    return
                self.finish(entry, req, 200, "ok")
                # A field of its own, so clients can show they never take it for the service's.
                conn.send_raw(b"HTTP/1.1 200 Connection established\r\n"
                              b"Proxy-Agent: trackpost-sandbox\r\n\r\n")
                conn.start_tls(self.tls)
                self.serve_tls(conn)
                return
            if req.route in TEST_PATHS:
                self.send(conn, self.test_endpoint(req), close)
            else:
                entry = self.record(conn, req)
                self.finish(entry, req, 400, "error plain-http")
                html = pages.message(
                    "Use HTTPS", "This sandbox serves the service over HTTPS only: "
                    "open https://localhost:%d%s instead, or reach "
                    "api.twitter.com through this port as a proxy." % (self.port, req.path))
                self.send(conn, html_answer(400, html, "error plain-http"), close)
            if close:
                return

    def serve_tls(self, conn):
        while True:
            req = conn.read_request()
            close = req.wants_close()
            if req.method == "CONNECT":
                self.send(conn, Answer(400, b"no CONNECT inside a tunnel\n", "text/plain"), True)
                return
            if req.route in TEST_PATHS:
                self.send(conn, self.test_endpoint(req), close)
            elif not self.serve_service(conn, req, close):
                return
            if close:
                return

    # -- faults and the service ----------------------------------------------

    def take_fault(self, req, host):
        """The first queued fault for this request: for its service's host (X's when the fault
        names none) and, when it names one, a path containing its "path"."""
        with self.log_lock:
            for i, f in enumerate(self.faults):
                if (f.get("host", X_HOST).lower() == host and
                        (f.get("path") is None or f["path"] in req.path)):
                    return self.faults.pop(i)
        return None

    def mode_of(self, host):
        """The mode of the service at host: X's for any name not another service's."""
        if host in mastodon.HOSTS:
            return self.mode["mastodon"]
        if host in bluesky.HOSTS:
            return self.mode["bluesky"]
        return self.mode

    def black_hole_for(self, host):
        return self.mode_of(host)["black_hole"]

    def hold(self, conn, host=X_HOST):
        """The black hole: the connection stays open and silent until the mode ends (then it
        is closed) or the sandbox stops."""
        while self.black_hole_for(host) and not self.stop.is_set():
            self.stop.wait(0.1)
        return False

    def serve_service(self, conn, req, close):
        """Answers one request; False when the connection must end."""
        entry = self.record(conn, req)
        host = service_of(req)
        if self.black_hole_for(host):
            self.finish(entry, req, 0, "fault black-hole")
            return self.hold(conn, host)
        fault = self.take_fault(req, host)
        if fault:
            if fault.get("revoke_token"):
                self.revoke_token_of(req, host)
            if fault.get("expire_token"):
                self.bluesky.expire(req)
            if fault.get("delay"):
                self.stop.wait(fault["delay"])
            outcome = self.misbehave(conn, req, entry, fault)
            if outcome is not None:
                return outcome
            if "status" in fault:
                body = fault.get("body", "")
                ctype = ("application/json; charset=utf-8" if body.lstrip()[:1] in ("{", "[")
                         else "text/plain; charset=utf-8")
                headers = []
                if fault.get("reset_in") is not None:
                    reset = clock.now() + fault["reset_in"]
                    headers = fault_limit_headers(host, reset)
                ans = Answer(fault["status"], body, ctype, "fault status", headers)
                note_limit(entry, ans)
                self.finish(entry, req, ans.status, ans.verdict)
                self.send(conn, ans, close)
                return True
        try:
            ans = self.dispatch(req, host)
        except Exception:
            self.say("internal error:\n" + traceback.format_exc())
            ans = internal_error(host)
        note_limit(entry, ans)
        self.finish(entry, req, ans.status, ans.verdict)
        self.send(conn, ans, close)
        return True

    def revoke_token_of(self, req, host):
        if host in mastodon.HOSTS:
            self.mastodon.revoke(host, req)
            return
        if host in bluesky.HOSTS:
            self.bluesky.revoke(req)
            return
        params = oauth.header_params(req) or {}
        if params.get("oauth_token"):
            self.store.revoke(params["oauth_token"])

    def misbehave(self, conn, req, entry, fault):
        """Carries out the faults that replace the answer. None when none
        applies, else whether the connection may stay open."""
        if fault.get("reset"):
            self.finish(entry, req, 0, "fault reset")
            conn.close(rst=True)
            return False
        if fault.get("stall") is not None:
            body = b'{"id":1,"text":"stalled answer"}'
            if fault.get("stored"):
                # The service acted on the request; only its answer is lost.
                self.dispatch(req, service_of(req))
            self.finish(entry, req, 200, "fault stall")
            conn.send_raw(head_bytes(200, [("Content-Type", "application/json")],
                                     len(body), False) + body[:6])
            self.stop.wait(fault["stall"])
            return False
        if fault.get("truncate"):
            body = b'{"created_at":"Mon Jan 05 12:00:00 +0000 2015","id":1,'
            self.finish(entry, req, 200, "fault truncate")
            conn.send_raw(head_bytes(200, [("Content-Type", "application/json")],
                                     len(body) + 1000, False) + body)
            return False
        if fault.get("garbage"):
            body = b"\xff\xfe" + os.urandom(254)
            self.finish(entry, req, 200, "fault garbage")
            conn.send_raw(head_bytes(200, [("Content-Type", "application/json")],
                                     len(body), req.wants_close()) + body)
            return not req.wants_close()
        if fault.get("large") is not None:
            total = fault["large"]
            self.finish(entry, req, 200, "fault large")
            conn.send_raw(head_bytes(200, [("Content-Type", "application/octet-stream")],
                                     total, req.wants_close()))
            chunk = b"0123456789abcdef" * 4096
            sent = 0
            while sent < total:
                n = min(len(chunk), total - sent)
                conn.send_raw(chunk[:n])   # ClientGone ends it quietly
                sent += n
            return not req.wants_close()
        return None

    def dispatch(self, req, host):
        if host in mastodon.HOSTS:
            return self.mastodon.dispatch(req, host, self.mode["mastodon"])
        if host in bluesky.HOSTS:
            return self.bluesky.dispatch(req, host, self.mode["bluesky"])
        r = req.route
        if r == "/" and req.method == "GET":
            return html_answer(200, pages.home(self.store, self.port))
        if r == "/oauth/request_token" and req.method in ("GET", "POST"):
            return self.request_token(req)
        if r == "/oauth/authorize" and req.method == "GET":
            return self.authorize_page(req)
        if r == "/oauth/authorize" and req.method == "POST":
            return self.authorize_login(req)
        if r == "/oauth/access_token" and req.method in ("GET", "POST"):
            return self.access_token(req)
        if r.startswith("/2/"):
            return self.serve_v2(req)
        found = api.route(req.method, r)
        if not found:
            return refusal(404, 34, "Sorry, that page does not exist.")
        try:
            oauth.verify(req, self.store, "access")
            if self.access == "v2-only":
                return json_answer(403, V1_DENIED, "error 453")
            refused, headers = self.post_gate(req, False)
            if refused:
                return refused
            call = api.Call(self.store, req, oauth.signed_body(req))
            status, obj = found[0](call, found[1])
        except (oauth.AuthError, api.ApiError) as e:
            return refusal(e.status, e.code, e.message)
        ans = json_answer(status, obj)
        ans.headers += headers
        return ans

    def serve_v2(self, req):
        handler = api2.route(req.method, req.route)
        try:
            if not handler:
                raise api2.plain_problem(404, "Not Found Error",
                                         "Sorry, that page does not exist.")
            try:
                # A JSON body carries no signed parameters: the query alone is signed.
                oauth.verify(req, self.store, "access")
            except oauth.AuthError:
                raise api2.unauthorized()
            refused, headers = self.post_gate(req, True)
            if refused:
                return refused
            status, obj = handler(api.Call(self.store, req, ""))
        except api2.Problem as p:
            return json_answer(p.status, p.obj, "error %d" % p.status)
        ans = json_answer(status, obj)
        ans.headers += headers
        return ans

    # -- the account's state and limits --------------------------------------

    def apply_mode(self, mode):
        old = getattr(self, "mode", {})
        if mode.get("rate_limit") != old.get("rate_limit"):
            self.post_times = []
        if mode["mastodon"]["rate_limit"] != old.get("mastodon", {}).get("rate_limit"):
            self.mastodon.mode_changed()
        if mode["bluesky"]["rate_limit"] != old.get("bluesky", {}).get("rate_limit"):
            self.bluesky.mode_changed()
        self.mode = mode
        clock.set_offset(mode["clock_offset"])

    def post_gate(self, req, v2):
        """A post refused for the account's state or its limit, or None; and the limit's
        headers for an answer that goes through."""
        if (req.method, req.route) not in POST_ROUTES:
            return None, []
        account = self.mode["account"]
        if account == "credits-depleted":
            return json_answer(402, CREDITS_DEPLETED, "error 402"), []
        if account == "suspended":
            return (json_answer(403, V2_SUSPENDED, "error 403") if v2 else
                    json_answer(403, V1_SUSPENDED, "error 64")), []
        limit = self.mode["rate_limit"]
        if not limit:
            return None, []
        now = clock.now()
        with self.log_lock:
            self.post_times = [t for t in self.post_times if t > now - limit["window"]]
            if len(self.post_times) >= limit["posts"]:
                reset = int(self.post_times[0] + limit["window"]) + 1
                headers = limit_headers(limit["posts"], 0, reset)
                ans = (json_answer(429, V2_RATE_LIMITED, "error 429") if v2 else
                       json_answer(429, V1_RATE_LIMITED, "error 88"))
                ans.headers += headers
                return ans, []
            self.post_times.append(now)
            reset = int(self.post_times[0] + limit["window"]) + 1
            return None, limit_headers(limit["posts"],
                                       limit["posts"] - len(self.post_times), reset)

    # -- OAuth endpoints -----------------------------------------------------

    def request_token(self, req):
        try:
            oauth.verify(req, self.store, None)
        except oauth.AuthError as e:
            return refusal(e.status, e.code, e.message)
        tok = self.store.issue_request_token()
        body = "oauth_token=%s&oauth_token_secret=%s&oauth_callback_confirmed=true" % (
            tok["key"], tok["secret"])
        return Answer(200, body, "text/html; charset=utf-8")

    def access_token(self, req):
        try:
            params, tok = oauth.verify(req, self.store, "request")
        except oauth.AuthError as e:
            return refusal(e.status, e.code, e.message)
        verifier = params.get("oauth_verifier") or dict(
            parse_qsl(req.query, keep_blank_values=True)).get("oauth_verifier", "")
        s = self.store
        with s.lock:
            good = tok.get("verifier")
            if not good or not verifier or not secrets.compare_digest(
                    good.encode(), verifier.encode()):
                return refusal(401, 32, "Invalid oauth_verifier parameter")
            tok["consumed"] = True
            del s.tokens[tok["key"]]
        acc = s.issue_access_token(self.creds["user_id"])
        body = "oauth_token=%s&oauth_token_secret=%s&user_id=%s&screen_name=%s" % (
            acc["key"], acc["secret"], self.creds["user_id"], self.creds["screen_name"])
        return Answer(200, body, "text/html; charset=utf-8")

    def _request_token_for(self, key):
        with self.store.lock:
            tok = self.store.tokens.get(key or "")
            if tok and tok["kind"] == "request" and not tok["revoked"]:
                return tok
        return None

    def authorize_page(self, req):
        key = dict(parse_qsl(req.query, keep_blank_values=True)).get("oauth_token", "")
        if not self._request_token_for(key):
            return html_answer(403, pages.message(
                "This page is no longer valid",
                "The request token is unknown or has already been used. "
                "Go back to the app and start signing in again."), "error unknown-token")
        at = rand_alnum(40)
        sid = rand_alnum(32)
        with self.store.lock:
            self.store.sessions[sid] = {"authenticity_token": at, "oauth_token": key,
                                        "created": time.time()}
        cookie = "%s=%s; Path=/; HttpOnly; Secure; SameSite=Lax" % (COOKIE, sid)
        return html_answer(200, pages.authorize(self.creds["app_name"], key, at),
                           headers=[("Set-Cookie", cookie)])

    def authorize_login(self, req):
        body = req.body.decode("utf-8", "replace")
        form = dict(parse_qsl(body, keep_blank_values=True))
        query = dict(parse_qsl(req.query, keep_blank_values=True))
        key = form.get("oauth_token") or query.get("oauth_token", "")
        retry = ("/oauth/authorize?oauth_token=" + key, "Try again")
        if not self._request_token_for(key):
            return html_answer(403, pages.message(
                "This page is no longer valid",
                "The request token is unknown or has already been used."),
                "error unknown-token")
        sid = None
        for part in (req.header("Cookie") or "").split(";"):
            name, _, value = part.strip().partition("=")
            if name == COOKIE:
                sid = value
        with self.store.lock:
            sess = self.store.sessions.get(sid or "")
            ok = (sess is not None and sess["oauth_token"] == key and
                  secrets.compare_digest(sess["authenticity_token"].encode(),
                                         form.get("authenticity_token", "").encode()))
        if not ok:
            return html_answer(403, pages.message(
                "Your session has expired",
                "The sign-in form was not sent with its session cookie, or it is "
                "out of date. Make sure cookies are enabled and reload the form.",
                retry), "error no-session")
        user = form.get("session[username_or_email]", "").strip().lstrip("@")
        if (user.lower() != self.creds["screen_name"].lower() or
                not secrets.compare_digest(form.get("session[password]", "").encode(),
                                           self.creds["password"].encode())):
            return html_answer(401, pages.message(
                "Wrong username or password",
                "The username and password you entered did not match our records.",
                retry), "error bad-login")
        pin = "%07d" % secrets.randbelow(10 ** 7)
        with self.store.lock:
            self.store.sessions.pop(sid, None)
            tok = self.store.tokens.get(key)
            if tok:
                tok["verifier"] = pin
                tok["user_id"] = self.creds["user_id"]
        return html_answer(200, pages.pin(self.creds["app_name"], pin))

    # -- test endpoints ------------------------------------------------------

    def test_endpoint(self, req):
        r, m = req.route, req.method
        if r == "/__log" and m == "GET":
            with self.log_lock:
                return Answer(200, json.dumps(self.log, ensure_ascii=True).encode())
        if r == "/__timeline" and m == "GET":
            host = dict(parse_qsl(req.query)).get("host", X_HOST).lower()
            if host == X_HOST:
                return json_answer(200, self.store.timeline())
            if host in mastodon.HOSTS:
                return json_answer(200, self.mastodon.timeline(host))
            if host in bluesky.HOSTS:
                return json_answer(200, self.bluesky.timeline())
            return json_answer(404, {"ok": False, "error": "no service at %s" % host})
        if r == "/__reset" and m == "POST":
            with self.log_lock:
                self.log = []
                self.faults = []
            self.apply_mode(self.start_mode)
            self.store.reset()
            self.mastodon.reset()
            self.bluesky.reset()
            return json_answer(200, {"ok": True})
        if r == "/__mode" and m == "GET":
            return json_answer(200, self.mode)
        if r == "/__mode" and m == "POST":
            try:
                changes = json.loads(req.body.decode("utf-8"))
                if not isinstance(changes, dict):
                    raise ValueError("expected a JSON object")
                mode = check_mode(merge_mode(self.mode, changes))
            except (ValueError, UnicodeDecodeError) as e:
                return json_answer(400, {"ok": False, "error": str(e)})
            with self.log_lock:
                self.apply_mode(mode)
            return json_answer(200, {"ok": True, "mode": mode})
        if r == "/__faults" and m == "GET":
            with self.log_lock:
                return json_answer(200, list(self.faults))
        if r == "/__faults" and m == "POST":
            try:
                items = json.loads(req.body.decode("utf-8"))
                if isinstance(items, dict):
                    items = [items]
                if not isinstance(items, list):
                    raise ValueError("expected an object or an array of objects")
                for f in items:
                    check_fault(f)
            except (ValueError, UnicodeDecodeError) as e:
                return json_answer(400, {"ok": False, "error": str(e)})
            with self.log_lock:
                self.faults.extend(items)
                n = len(self.faults)
            return json_answer(200, {"ok": True, "queued": n})
        return json_answer(405, {"ok": False, "error": "method not allowed"})


def service_of(req):
    """The host of the service a request is for: a Mastodon server or a Bluesky host by its Host
    header, X for any other (also the direct entrance)."""
    return mastodon.service_host(req) or bluesky.service_host(req) or X_HOST


def fault_limit_headers(host, reset):
    """The headers of a fault's answer with "reset_in": a used-up limit in the service's form."""
    if host in mastodon.HOSTS:
        return mastodon.limit_headers(mastodon.API_LIMIT, 0, reset)
    if host in bluesky.HOSTS:
        return bluesky.exhausted_headers(bluesky.API_LIMIT, reset, bluesky.API_WINDOW)
    return limit_headers(1, 0, int(reset))


def internal_error(host):
    if host in mastodon.HOSTS:
        return json_answer(500, {"error": "Internal error"}, "error 500")
    if host in bluesky.HOSTS:
        return json_answer(500, {"error": "InternalServerError",
                                 "message": "Internal Server Error"}, "error 500")
    return refusal(500, 131, "Internal error.")


def note_limit(entry, ans):
    """A 429's reset goes into the log, so that a client's next try can be checked against it:
    in epoch seconds, X's and Bluesky's as they sent them, a Mastodon server's read from its ISO
    time (with its fraction), so that all compare with the entries' times."""
    if ans.status != 429:
        return
    for name, value in ans.headers:
        if name in ("x-rate-limit-reset", "RateLimit-Reset"):
            entry["limit_reset"] = int(value)
        elif name == "X-RateLimit-Reset":
            entry["limit_reset"] = mastodon.epoch_of(value)


def limit_headers(limit, remaining, reset):
    return [("x-rate-limit-limit", str(limit)), ("x-rate-limit-remaining", str(remaining)),
            ("x-rate-limit-reset", str(reset))]


def merge_mode(mode, changes):
    """The mode with the changes made; the keys of a service's own mode change one by one."""
    merged = dict(mode, **changes)
    for service, defaults in SERVICE_MODES.items():
        if isinstance(changes.get(service), dict):
            merged[service] = dict(mode.get(service) or defaults, **changes[service])
    return merged


def check_mode(mode):
    for k in mode:
        if k not in MODE_DEFAULTS:
            raise ValueError("unknown mode key %r" % k)
    mastodon.check_mode(mode["mastodon"])
    bluesky.check_mode(mode["bluesky"])
    if not isinstance(mode["black_hole"], bool):
        raise ValueError("black_hole must be true or false")
    offset = mode["clock_offset"]
    if isinstance(offset, bool) or not isinstance(offset, (int, float)):
        raise ValueError("clock_offset must be a number of seconds")
    modes.check_rate_limit(mode["rate_limit"], "rate_limit")
    if mode["account"] not in ACCOUNT_STATES:
        raise ValueError("account must be one of %s" % ", ".join(ACCOUNT_STATES))
    return mode


def parse_rate_limit(text):
    posts, _, window = text.partition("/")
    try:
        return {"posts": int(posts), "window": float(window)}
    except ValueError:
        raise argparse.ArgumentTypeError("expected POSTS/SECONDS, e.g. 2/30")


def parse_seconds(text):
    try:
        seconds = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError("expected a number of seconds")
    return int(seconds) if seconds.is_integer() else seconds


def check_fault(f):
    if not isinstance(f, dict):
        raise ValueError("a fault must be a JSON object")
    for k, v in f.items():
        if k not in FAULT_KEYS:
            raise ValueError("unknown fault key %r" % k)
        if not isinstance(v, FAULT_KEYS[k]) or (isinstance(v, bool) and FAULT_KEYS[k] is not bool):
            raise ValueError("bad value for fault key %r" % k)
    if "status" in f and not 100 <= f["status"] <= 599:
        raise ValueError("status must be 100..599")
    for k in ("delay", "stall", "large", "reset_in"):
        if k in f and f[k] < 0:
            raise ValueError("%s must not be negative" % k)
    if f.get("expire_token") and f.get("host", X_HOST).lower() not in bluesky.HOSTS:
        raise ValueError("expire_token is for a Bluesky host")


def load_credentials():
    with open(os.path.join(HERE, "credentials.json"), encoding="utf-8") as f:
        return json.load(f)


def main(argv=None):
    ap = argparse.ArgumentParser(prog="serve", description=__doc__)
    ap.add_argument("--port", type=int, default=8443, help="0 picks a free port")
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--state", metavar="DIR", help="keep timeline and tokens in DIR/state.json")
    ap.add_argument("--quiet", action="store_true", help="no per-request lines on stderr")
    ap.add_argument("--access", choices=ACCESS_LEVELS, default="full",
                    help="v2-only: every v1.1 REST call is refused with code 453, as the service "
                         "does for accounts without v1.1 access; the OAuth steps still work")
    ap.add_argument("--black-hole", action="store_true",
                    help="accept connections and never answer (a dead route, a captive portal)")
    ap.add_argument("--clock-offset", type=float, default=0, metavar="SECONDS",
                    help="run the service's clock this far ahead (negative: behind)")
    ap.add_argument("--rate-limit", type=parse_rate_limit, metavar="POSTS/SECONDS",
                    help="answer 429 to posts beyond POSTS in any window of SECONDS")
    ap.add_argument("--account", choices=ACCOUNT_STATES, default="ok",
                    help="refuse every post: no credits left (402) or a suspended account (403)")
    ap.add_argument("--mastodon-black-hole", action="store_true",
                    help="the Mastodon servers accept connections and never answer; X answers")
    ap.add_argument("--mastodon-rate-limit", type=parse_rate_limit, metavar="POSTS/SECONDS",
                    help="the Mastodon servers answer 429 to statuses beyond POSTS in SECONDS")
    ap.add_argument("--mastodon-account", choices=mastodon.ACCOUNT_STATES, default="ok",
                    help="disabled: the Mastodon servers refuse the account's calls (403)")
    ap.add_argument("--bluesky-black-hole", action="store_true",
                    help="the Bluesky hosts accept connections and never answer; X and "
                         "Mastodon answer")
    ap.add_argument("--bluesky-rate-limit", type=parse_rate_limit, metavar="POSTS/SECONDS",
                    help="Bluesky answers 429 to record writes beyond POSTS in SECONDS")
    ap.add_argument("--bluesky-account", choices=bluesky.ACCOUNT_STATES, default="ok",
                    help="takendown: Bluesky refuses the account's sessions and writes")
    ap.add_argument("--bluesky-access-ttl", type=parse_seconds, metavar="SECONDS",
                    default=bluesky.MODE_DEFAULTS["access_ttl"],
                    help="Bluesky access tokens live this long (default %(default)s)")
    ap.add_argument("--bluesky-no-did-doc", action="store_true",
                    help="Bluesky sessions carry no didDoc and bsky.social takes records, as a "
                         "self-hosted PDS does")
    args = ap.parse_args(argv)

    creds = load_credentials()
    mode = {"black_hole": args.black_hole, "clock_offset": args.clock_offset,
            "rate_limit": args.rate_limit, "account": args.account,
            "mastodon": {"black_hole": args.mastodon_black_hole,
                         "rate_limit": args.mastodon_rate_limit,
                         "account": args.mastodon_account},
            "bluesky": {"black_hole": args.bluesky_black_hole,
                        "rate_limit": args.bluesky_rate_limit,
                        "account": args.bluesky_account,
                        "access_ttl": args.bluesky_access_ttl,
                        "did_doc": not args.bluesky_no_did_doc}}
    try:
        sb = Sandbox(creds, args.state, args.quiet, args.access, mode)
    except ValueError as e:
        ap.error(str(e))
    sb.listen(args.host, args.port)
    textcount.warn_once()

    def on_signal(signum, frame):
        sb.stop.set()
    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)

    p = sb.port
    print(p, flush=True)
    print("Trackpost sandbox listening on %s:%d" % (args.host, p))
    print("  browser: https://localhost:%d/  (trust %s)" % (p, os.path.join(CERTS, "ca.pem")))
    print("  clients: proxy http://127.0.0.1:%d (CONNECT %s)"
          " or https://localhost:%d directly" % (
              p, ", ".join(sorted("%s:%s" % t for t in TUNNEL_TARGETS)), p))
    print("  app:     %s  consumer key %s  secret %s" % (
        creds["app_name"], creds["consumer_key"], creds["consumer_secret"]))
    print("  user:    %s (id %s)  password %s" % (
        creds["screen_name"], creds["user_id"], creds["password"]))
    print("  token:   %s  secret %s" % (creds["access_token"], creds["access_token_secret"]))
    m = creds["mastodon"]
    print("  mastodon: %s  user %s / %s  app %s  token %s (%s)" % (
        ", ".join(mastodon.HOSTS), m["email"], m["password"], m["client_id"],
        m["access_token"], m["access_token_server"]))
    b = creds["bluesky"]
    print("  bluesky: %s (PDS %s)  %s / %s  app password %s  (%s, %s)" % (
        b["entryway"], b["pds"], b["handle"], b["password"], b["app_password"], b["did"],
        b["email"]))
    print("  access:  %s" % args.access)
    print("  mode:    %s" % json.dumps(sb.mode))
    print("  state:   %s" % (os.path.abspath(args.state) if args.state else "memory only"),
          flush=True)

    sb.serve_forever()
    sb.store.save()
    sb.mastodon.store.save()
    sb.bluesky.store.save()
    sys.stdout.flush()
    sys.stderr.flush()
    # Connection threads may still be blocked in I/O; leave without
    # waiting for them or running interpreter teardown under them.
    os._exit(0)
