"""Bluesky behind the sandbox's proxy entrance: the entryway bsky.social and the account's PDS,
with XRPC sessions (create, refresh with rotation, delete), records written with putRecord and
createRecord and checked as the post lexicon says, rate-limit headers, the account's public page,
and the modes that make the service misbehave."""

import datetime
import json
import math
import re
import secrets

import regex

from . import bluesky_pages, clock, modes
from .answers import Answer, html_answer, json_answer
from .bluesky_store import COLLECTION, LINK, MENTION, TAG, BlueskyStore
from .host_windows import HostWindows

ENTRYWAY = "bsky.social"
PDS = "morel.us-east.host.bsky.network"
HOSTS = (ENTRYWAY, PDS)

MODE_DEFAULTS = {"black_hole": False, "rate_limit": None, "account": "ok", "access_ttl": 7200,
                 "did_doc": True}
ACCOUNT_STATES = ("ok", "takendown")

# The general limit every XRPC answer reports (per host, in aligned windows). Never enforced:
# refusals come from the mode's write limit only.
API_LIMIT = 5000
API_WINDOW = 3600

RKEY_RE = re.compile(r"^[A-Za-z0-9._:~-]{1,512}$")
DATETIME_RE = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)$")
LANG_RE = re.compile(r"^(i|[a-z]{2,3})(-[A-Za-z0-9]+)*$")
DID_RE = re.compile(r"^did:[a-z]+:[A-Za-z0-9._:%-]+$")


class Refusal(Exception):
    """An XRPC error that ends a request: {"error", "message"} with its status."""

    def __init__(self, status, error, message, headers=()):
        super().__init__(message)
        self.answer = json_answer(status, {"error": error, "message": message},
                                  "error " + error)
        self.answer.headers += list(headers)


def invalid_record(what):
    return Refusal(400, "InvalidRecord", "Invalid %s record: %s" % (COLLECTION, what))


def limit_headers(limit, remaining, reset, window):
    return [("RateLimit-Limit", str(limit)), ("RateLimit-Remaining", str(remaining)),
            ("RateLimit-Reset", str(int(math.ceil(reset)))),
            ("RateLimit-Policy", "%d;w=%d" % (limit, int(math.ceil(window))))]


def exhausted_headers(limit, reset, window):
    """A 429's headers: the limit used up, and the seconds to wait."""
    wait = max(1, int(math.ceil(reset - clock.now())))
    return limit_headers(limit, 0, reset, window) + [("Retry-After", str(wait))]


def too_many(limit, reset, window):
    return Refusal(429, "RateLimitExceeded", "Rate Limit Exceeded",
                   exhausted_headers(limit, reset, window))


def check_mode(mode):
    if not isinstance(mode, dict):
        raise ValueError("bluesky must be an object")
    for k in mode:
        if k not in MODE_DEFAULTS:
            raise ValueError("unknown bluesky mode key %r" % k)
    for k in ("black_hole", "did_doc"):
        if not isinstance(mode[k], bool):
            raise ValueError("bluesky.%s must be true or false" % k)
    modes.check_rate_limit(mode["rate_limit"], "bluesky.rate_limit")
    if mode["account"] not in ACCOUNT_STATES:
        raise ValueError("bluesky.account must be one of %s" % ", ".join(ACCOUNT_STATES))
    ttl = mode["access_ttl"]
    if isinstance(ttl, bool) or not isinstance(ttl, (int, float)) or ttl <= 0:
        raise ValueError("bluesky.access_ttl must be a positive number of seconds")
    return mode


def service_host(req):
    """The Bluesky host a request is for, by its Host header; None for any other."""
    host = (req.header("Host") or "").strip().lower()
    host = host.rsplit(":", 1)[0] if ":" in host and not host.startswith("[") else host
    return host if host in HOSTS else None


def bearer(req):
    scheme, _, value = (req.header("Authorization") or "").strip().partition(" ")
    return value.strip() if scheme.lower() == "bearer" else None


def graphemes(text):
    return len(regex.findall(r"\X", text))


def utf8(text):
    # JSON may carry lone surrogates; they count as the service's runtime counts them.
    return text.encode("utf-8", "surrogatepass")


def json_input(req):
    """The body of a procedure: a JSON object, or the refusal the service gives."""
    ctype = req.media_type()
    if not ctype:
        raise Refusal(400, "InvalidRequest",
                      "Request encoding (Content-Type) required but not provided")
    if ctype != "application/json":
        raise Refusal(400, "InvalidRequest", "Wrong request encoding (Content-Type): " + ctype)
    try:
        body = json.loads(req.body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise Refusal(400, "InvalidRequest", "Invalid JSON body")
    if not isinstance(body, dict):
        raise Refusal(400, "InvalidRequest", "Input must be an object")
    return body


def required(body, name, kind=str):
    if name not in body:
        raise Refusal(400, "InvalidRequest", 'Input must have the property "%s"' % name)
    if not isinstance(body[name], kind) or isinstance(body[name], bool) and kind is not bool:
        raise Refusal(400, "InvalidRequest", "Input/%s must be %s" % (
            name, "an object" if kind is dict else "a string"))
    return body[name]


def valid_datetime(text):
    if not DATETIME_RE.match(text) or text.endswith("-00:00"):
        return False
    try:
        datetime.datetime.fromisoformat(text.replace("Z", "+00:00"))
    except ValueError:
        return False
    return True


# -- the post record's checks ------------------------------------------------

def check_post(record):
    if not isinstance(record, dict):
        raise invalid_record("Record must be an object")
    if record.get("$type") != COLLECTION:
        raise invalid_record("Record/$type must be %s" % COLLECTION)
    text = record.get("text")
    if not isinstance(text, str):
        raise invalid_record('Record must have the property "text"' if text is None else
                             "Record/text must be a string")
    if len(utf8(text)) > 3000:
        raise invalid_record("Record/text must not be longer than 3000 characters")
    if graphemes(text) > 300:
        raise invalid_record("Record/text must not be longer than 300 graphemes")
    created = record.get("createdAt")
    if not isinstance(created, str) or not valid_datetime(created):
        raise invalid_record('Record must have the property "createdAt"' if created is None
                             else "Record/createdAt must be an valid atproto datetime (both "
                                  "RFC-3339 and ISO-8601)")
    if "langs" in record:
        check_langs(record["langs"])
    if "facets" in record:
        check_facets(record["facets"], utf8(text))


def check_langs(langs):
    if not isinstance(langs, list):
        raise invalid_record("Record/langs must be an array")
    if len(langs) > 3:
        raise invalid_record("Record/langs must not have more than 3 elements")
    for i, lang in enumerate(langs):
        if not isinstance(lang, str) or not LANG_RE.match(lang):
            raise invalid_record("Record/langs/%d must be a well-formed BCP 47 language tag" % i)


def check_facets(facets, data):
    if not isinstance(facets, list):
        raise invalid_record("Record/facets must be an array")
    for i, facet in enumerate(facets):
        where = "Record/facets/%d" % i
        index = facet.get("index") if isinstance(facet, dict) else None
        if not isinstance(index, dict):
            raise invalid_record('%s must have the property "index"' % where)
        start, end = index.get("byteStart"), index.get("byteEnd")
        for name, value in (("byteStart", start), ("byteEnd", end)):
            if not isinstance(value, int) or isinstance(value, bool) or value < 0:
                raise invalid_record("%s/index/%s must be a non-negative integer" % (where, name))
        if start >= end:
            raise invalid_record("%s/index/byteStart must be less than byteEnd" % where)
        if end > len(data):
            raise invalid_record("%s/index/byteEnd must not be past the end of the text" % where)
        if any(at < len(data) and 0x80 <= data[at] < 0xC0 for at in (start, end)):
            raise invalid_record("%s/index must not split a character" % where)
        features = facet.get("features")
        if not isinstance(features, list):
            raise invalid_record('%s must have the property "features"' % where)
        for j, feature in enumerate(features):
            check_feature(feature, data[start:end], "%s/features/%d" % (where, j))


def check_feature(feature, marked, where):
    kind = feature.get("$type") if isinstance(feature, dict) else None
    if kind == LINK:
        uri = feature.get("uri")
        if not isinstance(uri, str) or not re.match(r"^[a-z][a-z0-9+.-]*:\S+$", uri, re.I):
            raise invalid_record("%s/uri must be a valid URI" % where)
        bare = re.sub(r"^https?://", "", uri, flags=re.I)
        if marked not in (utf8(uri), utf8(bare)):
            raise invalid_record("%s/uri must be the text it marks" % where)
    elif kind == TAG:
        tag = feature.get("tag")
        if not isinstance(tag, str) or not tag or tag.startswith("#"):
            raise invalid_record("%s/tag must be a tag without its #" % where)
        if len(utf8(tag)) > 640:
            raise invalid_record("%s/tag must not be longer than 640 characters" % where)
        if graphemes(tag) > 64:
            raise invalid_record("%s/tag must not be longer than 64 graphemes" % where)
        if marked != utf8("#" + tag):
            raise invalid_record("%s/tag must be the text it marks without its #" % where)
    elif kind == MENTION:
        if not isinstance(feature.get("did"), str) or not DID_RE.match(feature["did"]):
            raise invalid_record("%s/did must be a valid did" % where)
    else:
        raise invalid_record("%s must be a link, tag or mention" % where)


class Bluesky:
    def __init__(self, creds, state_dir=None):
        self.creds = creds["bluesky"]
        self.store = BlueskyStore(self.creds, state_dir)
        self.api_windows = HostWindows(API_LIMIT, API_WINDOW)

    # -- test endpoints and faults -------------------------------------------

    def reset(self):
        self.store.reset()
        self.api_windows.reset()

    def timeline(self):
        return self.store.timeline()

    def mode_changed(self):
        with self.store.lock:
            self.store.post_times = []

    def revoke(self, req):
        """The revoke_token fault: the session of the request's token ends."""
        tok = self.store.token(bearer(req))
        if tok:
            self.store.end_session(tok["session"])

    def expire(self, req):
        """The expire_token fault: the request's access token expires now."""
        tok = self.store.token(bearer(req))
        if tok and tok["kind"] == "access":
            self.store.expire(tok["token"])

    # -- routing -------------------------------------------------------------

    def dispatch(self, req, host, mode):
        r, m = req.route, req.method
        if not r.startswith("/xrpc/"):
            if m == "GET" and host == ENTRYWAY and r in ("/", "/profile/" + self.creds["handle"]):
                return self.profile_page()
            return Answer(404, b"Not Found\n", "text/plain; charset=utf-8", "error 404")
        procedures = {
            "com.atproto.server.createSession": self.create_session,
            "com.atproto.server.refreshSession": self.refresh_session,
            "com.atproto.server.deleteSession": self.delete_session,
            "com.atproto.repo.putRecord": self.put_record,
            "com.atproto.repo.createRecord": self.create_record,
        }
        queries = {"com.atproto.server.getSession": self.get_session}
        nsid = r[len("/xrpc/"):]
        try:
            expected = "POST" if nsid in procedures else "GET" if nsid in queries else None
            if not expected:
                raise Refusal(501, "MethodNotImplemented", "Method Not Implemented")
            if m != expected:
                raise Refusal(400, "InvalidRequest",
                              "Incorrect HTTP method (%s) expected %s" % (m, expected))
            ans = (procedures.get(nsid) or queries[nsid])(req, host, mode)
        except Refusal as refusal:
            ans = refusal.answer
        if not any(name == "RateLimit-Limit" for name, _ in ans.headers):
            ans.headers += self.api_limit_headers(host)
        return ans

    def api_limit_headers(self, host):
        remaining, reset = self.api_windows.count(host)
        return limit_headers(API_LIMIT, remaining, reset, API_WINDOW)

    # -- sessions ------------------------------------------------------------

    def did_doc(self):
        c = self.creds
        return {
            "@context": ["https://www.w3.org/ns/did/v1", "https://w3id.org/security/multikey/v1",
                         "https://w3id.org/security/suites/secp256k1-2019/v1"],
            "id": c["did"], "alsoKnownAs": ["at://" + c["handle"]],
            "verificationMethod": [{
                "id": c["did"] + "#atproto", "type": "Multikey", "controller": c["did"],
                "publicKeyMultibase": "zQ3shSandboxDjKeyNotUsedForAnything7x2kq4mfw3ntlpbv"}],
            "service": [{"id": "#atproto_pds", "type": "AtprotoPersonalDataServer",
                         "serviceEndpoint": "https://" + PDS}]}

    def session_json(self, pair, mode, with_email):
        c = self.creds
        out = {"did": c["did"], "handle": c["handle"]}
        if with_email:
            out.update(email=c["email"], emailConfirmed=True)
        out.update(accessJwt=pair["access"], refreshJwt=pair["refresh"])
        if mode["did_doc"]:
            out["didDoc"] = self.did_doc()
        out["active"] = True
        return out

    def create_session(self, req, host, mode):
        body = json_input(req)
        identifier = required(body, "identifier")
        password = required(body, "password")
        c = self.creds
        known = (identifier.lower() in (c["handle"].lower(), c["email"].lower()) or
                 identifier == c["did"])
        good = any(secrets.compare_digest(password.encode(), p.encode())
                   for p in (c["password"], c["app_password"]))
        if not known or not good:
            raise Refusal(401, "AuthenticationRequired", "Invalid identifier or password")
        if mode["account"] == "takendown":
            raise Refusal(401, "AccountTakedown", "Account has been taken down")
        pair = self.store.issue(None, mode["access_ttl"], "did:web:" + PDS)
        return json_answer(200, self.session_json(pair, mode, True))

    def token_of(self, req, kind):
        """The request's live token of that kind, or the refusal the service gives."""
        key = bearer(req)
        if not key:
            raise Refusal(401, "AuthenticationRequired", "Authentication Required")
        tok = self.store.token(key)
        if kind == "refresh":
            if tok and tok["kind"] != "refresh":
                raise Refusal(400, "InvalidToken", "Invalid token type")
            if not tok or tok["dead"]:
                raise Refusal(400, "ExpiredToken", "Token has been revoked")
            if clock.now() >= tok["exp"]:
                raise Refusal(400, "ExpiredToken", "Token has expired")
            return tok
        if not tok or tok["dead"]:
            raise Refusal(400, "InvalidToken", "Token could not be verified")
        if clock.now() >= tok["exp"]:
            raise Refusal(400, "ExpiredToken", "Token has expired")
        if tok["kind"] != "access":
            raise Refusal(400, "InvalidToken", "Invalid token type")
        return tok

    def account_ok(self, mode):
        if mode["account"] == "takendown":
            raise Refusal(400, "AccountTakedown", "Account has been taken down")

    def refresh_session(self, req, host, mode):
        tok = self.token_of(req, "refresh")
        self.account_ok(mode)
        # Rotation: the refresh token used is dead from now on.
        self.store.kill(tok["token"])
        pair = self.store.issue(tok["session"], mode["access_ttl"], "did:web:" + PDS)
        return json_answer(200, self.session_json(pair, mode, False))

    def delete_session(self, req, host, mode):
        tok = self.token_of(req, "refresh")
        self.store.end_session(tok["session"])
        return Answer(200, b"", "text/plain; charset=utf-8")

    def get_session(self, req, host, mode):
        self.token_of(req, "access")
        self.account_ok(mode)
        c = self.creds
        out = {"handle": c["handle"], "did": c["did"], "email": c["email"],
               "emailConfirmed": True}
        if mode["did_doc"]:
            out["didDoc"] = self.did_doc()
        out["active"] = True
        return json_answer(200, out)

    # -- records -------------------------------------------------------------

    def put_record(self, req, host, mode):
        return self.write_record(req, host, mode, True)

    def create_record(self, req, host, mode):
        return self.write_record(req, host, mode, False)

    def write_record(self, req, host, mode, put):
        self.token_of(req, "access")
        self.account_ok(mode)
        if host == ENTRYWAY and mode["did_doc"]:
            raise Refusal(400, "InvalidRequest", "Write records at the account's PDS")
        headers = self.write_gate(mode)
        body = json_input(req)
        repo = required(body, "repo")
        collection = required(body, "collection")
        record = required(body, "record", dict)
        rkey = required(body, "rkey") if put or "rkey" in body else self.store.next_tid()
        c = self.creds
        if repo != c["did"] and repo.lower() != c["handle"].lower():
            raise Refusal(400, "InvalidRequest", "Could not find repo: " + repo)
        if "validate" in body and not isinstance(body["validate"], bool):
            raise Refusal(400, "InvalidRequest", "Input/validate must be a boolean")
        if collection != COLLECTION:
            raise Refusal(400, "InvalidRequest", "This account takes %s records only"
                          % COLLECTION)
        if not RKEY_RE.match(rkey) or rkey in (".", ".."):
            raise Refusal(400, "InvalidRequest", "Invalid record key: " + rkey)
        # Checked whatever "validate" says, so that a client cannot switch the checks off.
        check_post(record)
        post, _ = self.store.write(rkey, record, put)
        if post is None:
            raise Refusal(500, "InternalServerError", "Internal Server Error")
        ans = json_answer(200, {"uri": "at://%s/%s/%s" % (c["did"], COLLECTION, rkey),
                                "cid": post["cid"], "commit": post["commit"],
                                "validationStatus": "valid"})
        ans.headers += headers
        return ans

    def write_gate(self, mode):
        """The mode's limit on writes: the headers of a write that may go ahead, or a 429."""
        limit = mode["rate_limit"]
        if not limit:
            return []
        now = clock.now()
        with self.store.lock:
            times = [t for t in self.store.post_times if t > now - limit["window"]]
            if len(times) >= limit["posts"]:
                self.store.post_times = times
                raise too_many(limit["posts"], times[0] + limit["window"], limit["window"])
            times.append(now)
            self.store.post_times = times
            return limit_headers(limit["posts"], limit["posts"] - len(times),
                                 times[0] + limit["window"], limit["window"])

    def profile_page(self):
        c = self.creds
        return html_answer(200, bluesky_pages.timeline(c["display_name"], c["handle"],
                                                       self.store.timeline()))
