"""Two Mastodon servers (4.3 API) behind the sandbox's proxy entrance: app registration, the OAuth
code flow with its browser pages, the account, the instance, posting statuses with idempotency
keys, rate-limit headers, and the modes that make a server misbehave."""

import base64
import calendar
import hashlib
import json
import re
import secrets
import time
from html import escape
from urllib.parse import parse_qsl, urlencode

from . import clock, mastodon_count, mastodon_pages, modes
from .answers import html_answer, json_answer, redirect
from .host_windows import HostWindows
from .mastodon_store import MastodonStore, new_secret

OOB = "urn:ietf:wg:oauth:2.0:oob"
COOKIE = "_mastodon_session"

_SCOPES = ["read", "write", "follow", "push"] + [
    "%s:%s" % (kind, what) for kind, whats in (
        ("read", "accounts blocks bookmarks favourites filters follows lists mutes "
                 "notifications search statuses"),
        ("write", "accounts blocks bookmarks conversations favourites filters follows lists "
                  "media mutes notifications reports statuses"),
        ("admin:read", "accounts reports domain_allows domain_blocks ip_blocks "
                       "email_domain_blocks canonical_email_blocks"),
        ("admin:write", "accounts reports domain_allows domain_blocks ip_blocks "
                        "email_domain_blocks canonical_email_blocks"))
    for what in whats.split()] + ["admin:read", "admin:write"]

# Each server's settings. The older one has no "profile" scope (it came with 4.3) and no OAuth
# metadata, so a client has to fall back to read:accounts there.
SERVERS = {
    "mastodon.social": {"title": "Mastodon", "max_characters": 500, "metadata": True,
                        "scopes": _SCOPES + ["profile"]},
    "mastodon.example.org": {"title": "Example Mastodon", "max_characters": 1000,
                             "metadata": False, "scopes": _SCOPES},
}
HOSTS = tuple(SERVERS)

MODE_DEFAULTS = {"black_hole": False, "rate_limit": None, "account": "ok"}
ACCOUNT_STATES = ("ok", "disabled")

PROFILE_SCOPES = ("profile", "read", "read:accounts")
POST_SCOPES = ("write", "write:statuses")
VISIBILITIES = ("public", "unlisted", "private", "direct")

# The general limit the servers report on every API answer (per server, in aligned windows).
# It is never enforced: refusals come from the mode's post limit only.
API_LIMIT = 300
API_WINDOW = 300

INVALID_TOKEN = {"error": "The access token is invalid"}
OUTSIDE_SCOPES = {"error": "This action is outside the authorized scopes"}
DISABLED = {"error": "Your login is currently disabled"}
NO_USER = {"error": "This method requires an authenticated user"}
TOO_MANY = {"error": "Too many requests"}
NOT_FOUND = {"error": "Not Found"}

OAUTH_ERRORS = {
    "invalid_client": "Client authentication failed due to unknown client, no client "
                      "authentication included, or unsupported authentication method.",
    "invalid_grant": "The provided authorization grant is invalid, expired, revoked, does not "
                     "match the redirection URI used in the authorization request, or was "
                     "issued to another client.",
    "invalid_redirect_uri": "The requested redirect uri is malformed or doesn't match client "
                            "redirect URI.",
    "invalid_request": "The request is missing a required parameter, includes an unsupported "
                       "parameter value, or is otherwise malformed.",
    "invalid_scope": "The requested scope is invalid, unknown, or malformed.",
    "unsupported_response_type": "The authorization server does not support this response "
                                 "type.",
    "unsupported_grant_type": "The authorization grant type is not supported by the "
                              "authorization server.",
    "access_denied": "The resource owner or authorization server denied the request.",
    "unauthorized_client": "You are not authorized to revoke this token",
}


class Refusal(Exception):
    """An answer that ends a request early."""

    def __init__(self, answer):
        super().__init__(answer.verdict)
        self.answer = answer


def api_refusal(status, obj):
    return Refusal(json_answer(status, obj, "error %d" % status))


def oauth_refusal(status, error):
    return Refusal(json_answer(status, {"error": error, "error_description": OAUTH_ERRORS[error]},
                               "error " + error))


def iso_time(t, digits=6):
    """RFC 3339 UTC with a fraction of that many digits: 2026-12-11T07:05:00.123456Z."""
    micros = int(round(t * 1e6))
    whole, frac = divmod(micros, 1000000)
    return "%s.%sZ" % (time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(whole)),
                       ("%06d" % frac)[:digits])


def epoch_of(iso):
    """The epoch seconds of an iso_time."""
    whole, _, frac = iso.rstrip("Z").partition(".")
    return calendar.timegm(time.strptime(whole, "%Y-%m-%dT%H:%M:%S")) + float("0." + (frac or "0"))


def limit_headers(limit, remaining, reset):
    return [("X-RateLimit-Limit", str(limit)), ("X-RateLimit-Remaining", str(remaining)),
            ("X-RateLimit-Reset", iso_time(reset))]


def check_mode(mode):
    if not isinstance(mode, dict):
        raise ValueError("mastodon must be an object")
    for k in mode:
        if k not in MODE_DEFAULTS:
            raise ValueError("unknown mastodon mode key %r" % k)
    if not isinstance(mode["black_hole"], bool):
        raise ValueError("mastodon.black_hole must be true or false")
    modes.check_rate_limit(mode["rate_limit"], "mastodon.rate_limit")
    if mode["account"] not in ACCOUNT_STATES:
        raise ValueError("mastodon.account must be one of %s" % ", ".join(ACCOUNT_STATES))
    return mode


def request_params(req):
    """The query's parameters overlaid with the body's, form-encoded or JSON, as the server reads
    them: name[]=a&name[]=b gives a list, JSON values stay as sent."""
    out = {}

    def add_pairs(pairs):
        for k, v in pairs:
            if k.endswith("[]"):
                out.setdefault(k[:-2], [])
                if isinstance(out[k[:-2]], list):
                    out[k[:-2]].append(v)
            else:
                out[k] = v
    add_pairs(parse_qsl(req.query, keep_blank_values=True))
    if req.media_type() == "application/json":
        try:
            body = json.loads(req.body.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            body = None
        if isinstance(body, dict):
            out.update(body)
    elif req.body:
        add_pairs(parse_qsl(req.body.decode("utf-8", "replace"), keep_blank_values=True))
    return out


def text_param(params, name, default=""):
    v = params.get(name, default)
    if v is None or isinstance(v, (list, dict)):
        return default
    return v if isinstance(v, str) else json.dumps(v)


def bearer_token(req):
    """The token of the Authorization header or, as the server's OAuth layer also takes it, of
    the access_token parameter."""
    scheme, _, value = (req.header("Authorization") or "").strip().partition(" ")
    if scheme.lower() == "bearer":
        return value.strip()
    return text_param(request_params(req), "access_token") or None


def service_host(req):
    """The Mastodon server a request is for, by its Host header; None for any other."""
    host = (req.header("Host") or "").strip().lower()
    if host.startswith("["):
        return None
    host = host.rsplit(":", 1)[0] if ":" in host else host
    return host if host in SERVERS else None


def content_html(text):
    """The status as the server renders it: escaped, links made links, paragraphs and breaks."""
    parts, at = [], 0
    for m in mastodon_count.URL_RE.finditer(text):
        url = m.group(1)
        parts.append(escape(text[at:m.start(1)]))
        parts.append('<a href="%s" target="_blank" rel="nofollow noopener" translate="no">%s</a>'
                     % (escape(url), escape(url.split("://", 1)[1])))
        at = m.end(1)
    parts.append(escape(text[at:]))
    paragraphs = re.split(r"\n\n+", "".join(parts).strip("\n"))
    return "".join("<p>%s</p>" % p.replace("\n", "<br />") for p in paragraphs)


class Mastodon:
    def __init__(self, creds, state_dir=None):
        self.creds = creds["mastodon"]
        self.store = MastodonStore(self.creds, HOSTS, state_dir)
        self.api_windows = HostWindows(API_LIMIT, API_WINDOW)

    # -- test endpoints ------------------------------------------------------

    def reset(self):
        self.store.reset()
        self.api_windows.reset()

    def timeline(self, host):
        return self.store.timeline(host)

    def revoke(self, host, req):
        token = bearer_token(req)
        if token:
            self.store.revoke(host, token)

    def mode_changed(self):
        with self.store.lock:
            for server in self.store.servers.values():
                server.post_times = []

    # -- routing -------------------------------------------------------------

    def dispatch(self, req, host, mode):
        server = self.store.servers[host]
        r, m = req.route, req.method
        routes = {
            ("POST", "/api/v1/apps"): self.register_app,
            ("GET", "/api/v1/accounts/verify_credentials"): self.verify_credentials,
            ("GET", "/api/v2/instance"): self.instance,
            ("POST", "/api/v1/statuses"): self.create_status,
            ("GET", "/.well-known/oauth-authorization-server"): self.metadata,
            ("GET", "/oauth/authorize"): self.authorize_page,
            ("POST", "/oauth/authorize"): self.authorize_decision,
            ("GET", "/oauth/authorize/native"): self.code_page,
            ("GET", "/auth/sign_in"): self.sign_in_page,
            ("POST", "/auth/sign_in"): self.sign_in,
            ("POST", "/oauth/token"): self.token,
            ("POST", "/oauth/revoke"): self.revoke_token,
            ("GET", "/"): self.timeline_page,
            ("GET", "/@" + self.creds["username"]): self.timeline_page,
        }
        handler = routes.get((m, r))
        try:
            ans = handler(req, server, mode) if handler else json_answer(404, NOT_FOUND,
                                                                        "error 404")
        except Refusal as refusal:
            ans = refusal.answer
        if r.startswith("/api/"):
            ans.headers.append(("Cache-Control", "no-cache, no-store, max-age=0, "
                                                 "must-revalidate"))
            if not any(name == "X-RateLimit-Limit" for name, _ in ans.headers):
                ans.headers += self.api_limit_headers(host)
        return ans

    def api_limit_headers(self, host):
        remaining, reset = self.api_windows.count(host)
        return limit_headers(API_LIMIT, remaining, reset)

    # -- the API -------------------------------------------------------------

    def register_app(self, req, server, mode):
        p = request_params(req)
        name = text_param(p, "client_name").strip()
        uris = p.get("redirect_uris", "")
        uris = [u for u in (uris if isinstance(uris, list) else str(uris).split()) if u]
        scopes = text_param(p, "scopes", "read").split() or ["read"]
        website = text_param(p, "website") or None
        problems = []
        if not name:
            problems.append("Name can't be blank")
        if not uris:
            problems.append("Redirect URI can't be blank")
        elif not all(u == OOB or re.match(r"^[a-z][a-z0-9+.-]*://[^\s#]+$", u, re.I)
                     for u in uris):
            problems.append("Redirect URI must be an absolute URI.")
        if any(s not in SERVERS[server.host]["scopes"] for s in scopes):
            problems.append("Scopes doesn't match configured on the server.")
        if problems:
            raise api_refusal(422, {"error": "Validation failed: " + ", ".join(problems)})
        with self.store.lock:
            app = server.add_app(name, uris, list(dict.fromkeys(scopes)), website)
            self.store.save()
        return json_answer(200, {
            "id": app["id"], "name": app["name"], "website": app["website"],
            "scopes": app["scopes"], "redirect_uri": "\n".join(app["redirect_uris"]),
            "redirect_uris": app["redirect_uris"], "client_id": app["client_id"],
            "client_secret": app["client_secret"], "client_secret_expires_at": 0})

    def authenticate(self, req, server, scopes, mode):
        """The request's token, once it may do what the call needs: any of these scopes, for a
        user whose login works."""
        with self.store.lock:
            tok = server.live_token(bearer_token(req))
            tok = dict(tok) if tok else None
        if not tok:
            raise api_refusal(401, INVALID_TOKEN)
        if not set(scopes) & set(tok["scope"].split()):
            raise api_refusal(403, OUTSIDE_SCOPES)
        if tok["account_id"] is None:
            raise api_refusal(422, NO_USER)
        if mode["account"] == "disabled":
            raise api_refusal(403, DISABLED)
        return tok

    def account(self, server):
        c, host = self.creds, server.host
        with self.store.lock:
            statuses = list(server.statuses)
        return {
            "id": c["account_id"], "username": c["username"], "acct": c["username"],
            "display_name": c["display_name"], "locked": False, "bot": False,
            "discoverable": True, "group": False, "created_at": "2025-01-05T00:00:00.000Z",
            "note": "<p>A test account on the Trackpost sandbox.</p>",
            "url": "https://%s/@%s" % (host, c["username"]),
            "uri": "https://%s/users/%s" % (host, c["username"]),
            "avatar": "https://%s/avatars/original/missing.png" % host,
            "avatar_static": "https://%s/avatars/original/missing.png" % host,
            "header": "https://%s/headers/original/missing.png" % host,
            "header_static": "https://%s/headers/original/missing.png" % host,
            "followers_count": 42, "following_count": 7, "statuses_count": len(statuses),
            "last_status_at": (time.strftime("%Y-%m-%d", time.gmtime(statuses[-1]["stored_at"]))
                               if statuses else None),
            "emojis": [], "fields": []}

    def verify_credentials(self, req, server, mode):
        self.authenticate(req, server, PROFILE_SCOPES, mode)
        account = self.account(server)
        account["source"] = {"privacy": "public", "sensitive": False, "language": "",
                             "note": "A test account on the Trackpost sandbox.", "fields": [],
                             "follow_requests_count": 0}
        return json_answer(200, account)

    def instance(self, req, server, mode):
        host, conf = server.host, SERVERS[server.host]
        return json_answer(200, {
            "domain": host, "title": conf["title"], "version": "4.3.0",
            "source_url": "https://github.com/mastodon/mastodon",
            "description": "A Mastodon server of the Trackpost sandbox.",
            "usage": {"users": {"active_month": 1}},
            "thumbnail": {"url": "https://%s/packs/media/images/preview.png" % host},
            "languages": ["en"],
            "configuration": {
                "urls": {"streaming": "wss://" + host, "status": None},
                "vapid": {"public_key": ""},
                "accounts": {"max_featured_tags": 10, "max_pinned_statuses": 5},
                "statuses": {"max_characters": conf["max_characters"],
                             "max_media_attachments": 4,
                             "characters_reserved_per_url": mastodon_count.URL_CHARS},
                "media_attachments": {
                    "supported_mime_types": ["image/jpeg", "image/png", "image/gif",
                                             "image/webp"],
                    "image_size_limit": 16777216, "image_matrix_limit": 33177600,
                    "video_size_limit": 103809024, "video_frame_rate_limit": 120,
                    "video_matrix_limit": 8294400},
                "polls": {"max_options": 4, "max_characters_per_option": 50,
                          "min_expiration": 300, "max_expiration": 2629746},
                "translation": {"enabled": False}},
            "registrations": {"enabled": False, "approval_required": False, "message": None,
                              "url": None},
            "api_versions": {"mastodon": 2},
            "contact": {"email": "admin@" + host, "account": None},
            "rules": []})

    def status_json(self, server, status):
        c, host = self.creds, server.host
        return {
            "id": status["id"], "created_at": iso_time(status["stored_at"], 3),
            "in_reply_to_id": None, "in_reply_to_account_id": None, "sensitive": False,
            "spoiler_text": "", "visibility": status["visibility"],
            "language": status["language"],
            "uri": "https://%s/users/%s/statuses/%s" % (host, c["username"], status["id"]),
            "url": "https://%s/@%s/%s" % (host, c["username"], status["id"]),
            "replies_count": 0, "reblogs_count": 0, "favourites_count": 0, "edited_at": None,
            "content": content_html(status["text"]), "reblog": None,
            "application": {"name": c["app_name"], "website": None},
            "account": self.account(server), "media_attachments": [], "mentions": [],
            "tags": [], "emojis": [], "card": None, "poll": None}

    def create_status(self, req, server, mode):
        tok = self.authenticate(req, server, POST_SCOPES, mode)
        p = request_params(req)
        key = (req.header("Idempotency-Key") or "").strip()
        text = text_param(p, "status")
        visibility = text_param(p, "visibility") or "public"
        language = text_param(p, "language").lower()
        # An unknown language falls back to the user's, as the server does.
        language = language if re.fullmatch(r"[a-z]{2,3}", language) else "en"
        limit_of = SERVERS[server.host]["max_characters"]
        headers = []
        with self.store.lock:
            earlier = server.earlier_post(tok["token"], key)
            if earlier:
                return json_answer(200, self.status_json(server, earlier))
            if visibility not in VISIBILITIES:
                raise api_refusal(422, {"error": "Validation failed: Visibility is not "
                                                 "included in the list"})
            if mastodon_count.is_blank(text):
                raise api_refusal(422, {"error": "Validation failed: Text can't be blank"})
            if mastodon_count.length(text) > limit_of:
                raise api_refusal(422, {"error": "Validation failed: Text character limit of "
                                                 "%d exceeded" % limit_of})
            limit = mode["rate_limit"]
            now = clock.now()
            if limit:
                server.post_times = [t for t in server.post_times if t > now - limit["window"]]
                if len(server.post_times) >= limit["posts"]:
                    ans = json_answer(429, TOO_MANY, "error 429")
                    ans.headers += limit_headers(limit["posts"], 0,
                                                 server.post_times[0] + limit["window"])
                    return ans
                server.post_times.append(now)
                headers = limit_headers(limit["posts"], limit["posts"] - len(server.post_times),
                                        server.post_times[0] + limit["window"])
            status = server.add_status(tok["token"], key, text, visibility, language,
                                       time.time())
            self.store.save()
        ans = json_answer(200, self.status_json(server, status))
        ans.headers += headers
        return ans

    def metadata(self, req, server, mode):
        if not SERVERS[server.host]["metadata"]:
            return json_answer(404, NOT_FOUND, "error 404")
        base = "https://%s" % server.host
        return json_answer(200, {
            "issuer": base + "/", "service_documentation": "https://docs.joinmastodon.org/",
            "authorization_endpoint": base + "/oauth/authorize",
            "token_endpoint": base + "/oauth/token",
            "revocation_endpoint": base + "/oauth/revoke",
            "scopes_supported": SERVERS[server.host]["scopes"],
            "response_types_supported": ["code"],
            "response_modes_supported": ["query", "fragment", "form_post"],
            "code_challenge_methods_supported": ["S256"],
            "grant_types_supported": ["authorization_code", "client_credentials"],
            "token_endpoint_auth_methods_supported": ["client_secret_basic",
                                                      "client_secret_post"],
            "app_registration_endpoint": base + "/api/v1/apps"})

    # -- OAuth: the token and revocation endpoints ---------------------------

    def client(self, req, server, p):
        """The app that authenticated itself by HTTP Basic or by client_id and client_secret,
        or None."""
        scheme, _, value = (req.header("Authorization") or "").strip().partition(" ")
        cid, secret = text_param(p, "client_id"), text_param(p, "client_secret")
        if scheme.lower() == "basic":
            try:
                cid, _, secret = base64.b64decode(value).decode("utf-8").partition(":")
            except (ValueError, UnicodeDecodeError):
                return None
        with self.store.lock:
            app = server.apps.get(cid)
        if not app or not secrets.compare_digest(app["client_secret"].encode(),
                                                 secret.encode()):
            return None
        return app

    def token(self, req, server, mode):
        p = request_params(req)
        grant = text_param(p, "grant_type")
        if grant not in ("authorization_code", "client_credentials"):
            raise oauth_refusal(400, "unsupported_grant_type")
        app = self.client(req, server, p)
        if not app:
            raise oauth_refusal(401, "invalid_client")
        with self.store.lock:
            if grant == "client_credentials":
                scopes = text_param(p, "scope", "read").split() or ["read"]
                if any(s not in app["scopes"] for s in scopes):
                    raise oauth_refusal(400, "invalid_scope")
                tok = server.add_token(app["client_id"], " ".join(scopes), None)
            else:
                code = server.codes.get(text_param(p, "code"))
                if (not code or code["client_id"] != app["client_id"] or
                        code["redirect_uri"] != text_param(p, "redirect_uri") or
                        not pkce_ok(code["challenge"], text_param(p, "code_verifier")) or
                        not server.take_code(code["code"])):
                    raise oauth_refusal(400, "invalid_grant")
                tok = server.add_token(app["client_id"], code["scope"],
                                       self.creds["account_id"])
            self.store.save()
        return json_answer(200, {"access_token": tok["token"], "token_type": "Bearer",
                                 "scope": tok["scope"], "created_at": tok["created_at"]})

    def revoke_token(self, req, server, mode):
        p = request_params(req)
        with self.store.lock:
            tok = server.tokens.get(text_param(p, "token"))
        if not tok:
            return json_answer(200, {})
        app = self.client(req, server, p)
        if not app or app["client_id"] != tok["client_id"]:
            raise oauth_refusal(403, "unauthorized_client")
        self.store.revoke(server.host, tok["token"])
        return json_answer(200, {})

    # -- OAuth: the browser's pages ------------------------------------------

    def pre_authorization(self, server, p):
        """The app, redirect URI, scopes and PKCE challenge of an authorization request, or the
        refusal page for the first thing wrong with it, in the order the server checks."""
        with self.store.lock:
            app = server.apps.get(text_param(p, "client_id"))
        uri = text_param(p, "redirect_uri")
        scopes = text_param(p, "scope", "read").split() or ["read"]
        challenge = text_param(p, "code_challenge")
        method = text_param(p, "code_challenge_method", "S256" if challenge else "")
        if not app:
            error = "invalid_client"
        elif uri not in app["redirect_uris"]:
            error = "invalid_redirect_uri"
        elif text_param(p, "response_type") != "code":
            error = "unsupported_response_type"
        elif any(s not in app["scopes"] for s in scopes):
            error = "invalid_scope"
        elif challenge and method != "S256":
            error = "invalid_request"
        else:
            return {"app": app, "redirect_uri": uri, "scopes": scopes, "challenge": challenge,
                    "state": text_param(p, "state")}
        raise Refusal(html_answer(400, mastodon_pages.oauth_error(OAUTH_ERRORS[error]),
                                  "error " + error))

    def session(self, req, server):
        sid = None
        for part in (req.header("Cookie") or "").split(";"):
            name, _, value = part.strip().partition("=")
            if name == COOKIE:
                sid = value
        with self.store.lock:
            return sid, server.sessions.get(sid or "")

    def new_session(self, server, **fields):
        sid = new_secret()
        with self.store.lock:
            server.sessions[sid] = dict({"at": new_secret(), "signed_in": False,
                                         "return_to": None, "created": time.time()}, **fields)
        cookie = "%s=%s; path=/; secure; HttpOnly; SameSite=Lax" % (COOKIE, sid)
        return server.sessions[sid], [("Set-Cookie", cookie)]

    def checked_session(self, req, server, p):
        """The session of a form sent with its cookie and the token the form carried."""
        sid, sess = self.session(req, server)
        if not sess or not secrets.compare_digest(
                sess["at"].encode(), text_param(p, "authenticity_token").encode()):
            raise Refusal(html_answer(422, mastodon_pages.oauth_error(
                "The change you wanted was rejected. Maybe you tried to change something you "
                "didn't have access to. (Make sure cookies are enabled.)"), "error no-session"))
        return sid, sess

    def authorize_page(self, req, server, mode):
        p = request_params(req)
        pre = self.pre_authorization(server, p)
        _, sess = self.session(req, server)
        if not sess or not sess["signed_in"]:
            sess, cookie = (sess, []) if sess else self.new_session(server)
            sess["return_to"] = req.path
            return redirect("/auth/sign_in", cookie)
        fields = [("client_id", pre["app"]["client_id"]), ("redirect_uri", pre["redirect_uri"]),
                  ("state", pre["state"]), ("response_type", "code"),
                  ("scope", " ".join(pre["scopes"]))]
        if pre["challenge"]:
            fields += [("code_challenge", pre["challenge"]), ("code_challenge_method", "S256")]
        return html_answer(200, mastodon_pages.authorize(pre["app"]["name"], pre["scopes"],
                                                         fields, sess["at"]))

    def authorize_decision(self, req, server, mode):
        p = request_params(req)
        _, sess = self.checked_session(req, server, p)
        if not sess["signed_in"]:
            return redirect("/auth/sign_in")
        pre = self.pre_authorization(server, p)
        denied = text_param(p, "_method").lower() == "delete"
        uri = pre["redirect_uri"]
        if denied and uri == OOB:
            return html_answer(400, mastodon_pages.oauth_error(OAUTH_ERRORS["access_denied"]),
                               "error access_denied")
        if denied:
            reply = {"error": "access_denied",
                     "error_description": OAUTH_ERRORS["access_denied"]}
        else:
            with self.store.lock:
                code = server.add_code(pre["app"]["client_id"], uri, " ".join(pre["scopes"]),
                                       pre["challenge"])
            if uri == OOB:
                return redirect("/oauth/authorize/native?" + urlencode({"code": code["code"]}))
            reply = {"code": code["code"]}
        if pre["state"]:
            reply["state"] = pre["state"]
        return redirect(uri + ("&" if "?" in uri else "?") + urlencode(reply))

    def code_page(self, req, server, mode):
        return html_answer(200, mastodon_pages.code(text_param(request_params(req), "code")))

    def sign_in_page(self, req, server, mode):
        _, sess = self.session(req, server)
        sess, cookie = (sess, []) if sess else self.new_session(server)
        return html_answer(200, mastodon_pages.sign_in(server.host, sess["at"]),
                           headers=cookie)

    def sign_in(self, req, server, mode):
        p = request_params(req)
        sid, sess = self.checked_session(req, server, p)
        email = text_param(p, "user[email]").strip()
        c = self.creds
        if (email.lower() != c["email"].lower() or not secrets.compare_digest(
                text_param(p, "user[password]").encode(), c["password"].encode())):
            return html_answer(422, mastodon_pages.sign_in(
                server.host, sess["at"], "Invalid email or password.", email), "error bad-login")
        # A new session on signing in, as the server's does: the old cookie is worth nothing.
        with self.store.lock:
            server.sessions.pop(sid, None)
        _, cookie = self.new_session(server, signed_in=True)
        return redirect(sess["return_to"] or "/@" + c["username"], cookie)

    def timeline_page(self, req, server, mode):
        with self.store.lock:
            statuses = [self.status_json(server, s) for s in reversed(server.statuses)]
        c = self.creds
        return html_answer(200, mastodon_pages.timeline(server.host, c["display_name"],
                                                        c["username"], statuses))


def pkce_ok(challenge, verifier):
    if not challenge:
        return True
    digest = hashlib.sha256(verifier.encode()).digest()
    return secrets.compare_digest(
        base64.urlsafe_b64encode(digest).rstrip(b"=").decode(), challenge)
