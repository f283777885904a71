"""The data of the sandbox's Bluesky account, shared by the entryway and its PDS: sessions with
their tokens, and the account's posts by record key. Kept in DIR/bluesky.json with --state."""

import base64
import hashlib
import json
import os
import secrets
import threading
import time

from . import clock, statefile

STATE_FILE = "bluesky.json"
REFRESH_TTL = 90 * 24 * 3600
COLLECTION = "app.bsky.feed.post"
LINK = "app.bsky.richtext.facet#link"
TAG = "app.bsky.richtext.facet#tag"
MENTION = "app.bsky.richtext.facet#mention"
# The TID alphabet: base32 that sorts as the numbers do.
TID_CHARS = "234567abcdefghijklmnopqrstuvwxyz"


def b64url(data):
    return base64.urlsafe_b64encode(data).rstrip(b"=").decode()


def new_jwt(kind, did, aud, exp):
    """A token shaped like the service's (three base64url parts, exp in the payload) and signed
    with nothing: the sandbox only ever looks it up."""
    head = {"typ": "at+jwt" if kind == "access" else "refresh+jwt", "alg": "ES256K"}
    body = {"scope": "com.atproto.appPass" if kind == "access" else "com.atproto.refresh",
            "sub": did, "aud": aud, "iat": int(clock.now()), "exp": int(exp),
            "jti": b64url(secrets.token_bytes(24))}
    return ".".join(b64url(json.dumps(part, separators=(",", ":")).encode())
                    for part in (head, body)) + "." + b64url(secrets.token_bytes(64))


def new_tid(micros, clock_id):
    """A timestamp id: 53 bits of microseconds and 10 of clock id in 13 base32-sortable
    characters."""
    n = ((micros & ((1 << 53) - 1)) << 10) | (clock_id & 1023)
    return "".join(TID_CHARS[(n >> shift) & 31] for shift in range(60, -1, -5))


def cid_of(obj):
    """A CIDv1 (dag-cbor, sha-256) in base32, computed over the canonical JSON: the same record
    always gets the same one, as on the service."""
    digest = hashlib.sha256(json.dumps(obj, sort_keys=True, separators=(",", ":"),
                                       ensure_ascii=False).encode("utf-8", "surrogatepass"))
    raw = bytes([0x01, 0x71, 0x12, 0x20]) + digest.digest()
    return "b" + base64.b32encode(raw).decode().lower().rstrip("=")


class BlueskyStore:
    """Every method takes the lock itself; callers that read several things at once hold it."""

    def __init__(self, creds, state_dir=None):
        self.creds = creds
        self.lock = threading.RLock()
        self.state_dir = state_dir
        self._clock_id = secrets.randbelow(1024)
        self._last_micros = 0
        self.clear()
        if state_dir:
            os.makedirs(state_dir, exist_ok=True)
            try:
                with open(os.path.join(state_dir, STATE_FILE), encoding="utf-8") as f:
                    data = json.load(f)
            except FileNotFoundError:
                data = {}
            self.tokens = {t["token"]: t for t in data.get("tokens", [])}
            self.posts = data.get("posts", [])
            self.rev = data.get("rev")

    def clear(self):
        with self.lock:
            # token -> {"token", "kind": "access"|"refresh", "session", "exp", "dead"}
            self.tokens = {}
            self.posts = []   # oldest first
            self.rev = None
            self.post_times = []   # sandbox clock times of the writes in the mode's window

    def reset(self):
        with self.lock:
            self.clear()
            if self.state_dir:
                statefile.remove(self.state_dir, STATE_FILE)

    def save(self):
        if not self.state_dir:
            return
        with self.lock:
            statefile.write(self.state_dir, STATE_FILE, {
                "tokens": list(self.tokens.values()), "posts": self.posts, "rev": self.rev})

    # -- ids -----------------------------------------------------------------

    def next_tid(self):
        with self.lock:
            self._last_micros = max(int(time.time() * 1e6), self._last_micros + 1)
            return new_tid(self._last_micros, self._clock_id)

    # -- sessions ------------------------------------------------------------

    def issue(self, session, access_ttl, aud):
        """A new access and refresh token for a session (a new one when session is None)."""
        did = self.creds["did"]
        now = clock.now()
        with self.lock:
            session = session or secrets.token_hex(8)
            pair = {}
            for kind, ttl in (("access", access_ttl), ("refresh", REFRESH_TTL)):
                tok = {"token": new_jwt(kind, did, aud, now + ttl), "kind": kind,
                       "session": session, "exp": now + ttl, "dead": False}
                self.tokens[tok["token"]] = tok
                pair[kind] = tok["token"]
            self.save()
            return pair

    def token(self, key):
        with self.lock:
            tok = self.tokens.get(key or "")
            return dict(tok) if tok else None

    def kill(self, key):
        with self.lock:
            if key in self.tokens:
                self.tokens[key]["dead"] = True
                self.save()

    def end_session(self, session):
        with self.lock:
            for tok in self.tokens.values():
                if tok["session"] == session:
                    tok["dead"] = True
            self.save()

    def expire(self, key):
        with self.lock:
            if key in self.tokens:
                self.tokens[key]["exp"] = clock.now()
                self.save()

    # -- posts ---------------------------------------------------------------

    def find(self, rkey):
        with self.lock:
            return next((p for p in self.posts if p["rkey"] == rkey), None)

    def write(self, rkey, record, replace):
        """Stores the record under rkey: a new post, or, with replace, the one there replaced
        (nothing changes for the same record). The post, and whether anything was written;
        None when the key is taken and replace is false."""
        cid = cid_of(record)
        with self.lock:
            post = self.find(rkey)
            if post and not replace:
                return None, False
            changed = not post or post["cid"] != cid
            if not post:
                post = {"rkey": rkey, "writes": 0}
                self.posts.append(post)
            post["writes"] += 1
            if changed:
                post.update(cid=cid, record=record, stored_at=time.time())
                self.rev = self.next_tid()
                post["commit"] = {"cid": cid_of({"rev": self.rev, "data": cid}),
                                  "rev": self.rev}
            self.save()
            return dict(post), changed

    def timeline(self):
        did = self.creds["did"]
        with self.lock:
            return [{"uri": "at://%s/%s/%s" % (did, COLLECTION, p["rkey"]), "rkey": p["rkey"],
                     "text": p["record"].get("text"), "facets": p["record"].get("facets", []),
                     "langs": p["record"].get("langs", []),
                     "createdAt": p["record"].get("createdAt"), "stored_at": p["stored_at"],
                     "writes": p["writes"]} for p in self.posts]
