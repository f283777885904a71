"""In-memory state of the sandbox service, optionally mirrored to a JSON file."""

import json
import os
import secrets
import string
import threading
import time
import zlib

from . import statefile

STATE_FILE = "state.json"
TWEPOCH_MS = 1288834974657
_ALNUM = string.ascii_letters + string.digits
_DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
_MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun",
           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def rand_alnum(n):
    # Secrets stay alphanumeric so that clients which skip percent-encoding
    # the signing key still compute the same key.
    return "".join(secrets.choice(_ALNUM) for _ in range(n))


def twitter_time(epoch):
    t = time.gmtime(epoch)
    return "%s %s %02d %02d:%02d:%02d +0000 %d" % (
        _DAYS[t.tm_wday], _MONTHS[t.tm_mon - 1], t.tm_mday,
        t.tm_hour, t.tm_min, t.tm_sec, t.tm_year)


class Store:
    def __init__(self, creds, state_dir=None):
        self.creds = creds
        self.state_dir = state_dir
        self.lock = threading.RLock()
        self._last_id = 0
        self._clear()
        if state_dir:
            os.makedirs(state_dir, exist_ok=True)
            self._load()

    # -- lifecycle ---------------------------------------------------------

    def _clear(self):
        c = self.creds
        self.tokens = {
            c["access_token"]: {
                "key": c["access_token"], "secret": c["access_token_secret"],
                "kind": "access", "user_id": c["user_id"], "revoked": False,
                "fixed": True, "created": time.time(),
            }
        }
        self.sessions = {}
        self.nonces = {}
        self.tweets = []          # oldest first
        self._text_counts = {}    # text -> stored tweets with it, for O(1) duplicate checks
        self.dms = []
        self.following = []       # screen names
        self.blocks = []          # screen names
        self.saved_searches = []

    def reset(self):
        with self.lock:
            self._clear()
            if self.state_dir:
                statefile.remove(self.state_dir, STATE_FILE)

    def _load(self):
        path = os.path.join(self.state_dir, STATE_FILE)
        try:
            with open(path, encoding="utf-8") as f:
                data = json.load(f)
        except FileNotFoundError:
            return
        self.tweets = data.get("tweets", [])
        # Older state files may hold repeated texts, hence counts, not a set.
        for t in self.tweets:
            self._count_text(t["text"], 1)
        self.dms = data.get("dms", [])
        self.following = data.get("following", [])
        self.blocks = data.get("blocks", [])
        self.saved_searches = data.get("saved_searches", [])
        for tok in data.get("access_tokens", []):
            if tok["key"] in self.tokens:
                self.tokens[tok["key"]]["revoked"] = tok.get("revoked", False)
            else:
                self.tokens[tok["key"]] = tok
        self._last_id = data.get("last_id", 0)

    def save(self):
        if not self.state_dir:
            return
        with self.lock:
            data = {
                "tweets": self.tweets, "dms": self.dms,
                "following": self.following, "blocks": self.blocks,
                "saved_searches": self.saved_searches,
                "access_tokens": [t for t in self.tokens.values()
                                  if t["kind"] == "access"],
                "last_id": self._last_id,
            }
            statefile.write(self.state_dir, STATE_FILE, data)

    # -- ids -----------------------------------------------------------------

    def new_id(self):
        # Snowflake-shaped: large, increasing, beyond 2^53 like the real ones.
        with self.lock:
            nid = ((int(time.time() * 1000) - TWEPOCH_MS) << 22)
            self._last_id = max(nid, self._last_id + 1)
            return self._last_id

    # -- tokens --------------------------------------------------------------

    def issue_request_token(self):
        with self.lock:
            key = rand_alnum(27)
            self.tokens[key] = {
                "key": key, "secret": rand_alnum(32), "kind": "request",
                "user_id": None, "revoked": False, "fixed": False,
                "verifier": None, "created": time.time(),
            }
            return self.tokens[key]

    def issue_access_token(self, user_id):
        with self.lock:
            key = "%s-%s" % (user_id, rand_alnum(40))
            self.tokens[key] = {
                "key": key, "secret": rand_alnum(43), "kind": "access",
                "user_id": user_id, "revoked": False, "fixed": False,
                "created": time.time(),
            }
            self.save()
            return self.tokens[key]

    def revoke(self, key):
        with self.lock:
            tok = self.tokens.get(key)
            if tok:
                tok["revoked"] = True
                self.save()
            return tok is not None

    def use_nonce(self, consumer, token, timestamp, nonce, now):
        """Records a nonce; False when it was seen before with the same
        timestamp, consumer and token."""
        with self.lock:
            if len(self.nonces) > 10000:
                self.nonces = {k: v for k, v in self.nonces.items()
                               if v > now - 900}
            k = (consumer, token, timestamp, nonce)
            if k in self.nonces:
                return False
            self.nonces[k] = int(timestamp)
            return True

    # -- users ---------------------------------------------------------------

    def me(self):
        c = self.creds
        with self.lock:
            return self.user_obj(int(c["user_id"]), c["screen_name"],
                                 c["name"], own=True)

    def user_obj(self, uid, screen_name, name, own=False):
        u = {
            "id": uid, "id_str": str(uid), "name": name,
            "screen_name": screen_name, "location": "Sandbox",
            "description": "A test account on the Trackpost sandbox.",
            "url": None, "protected": False, "verified": False,
            "followers_count": 42 if own else 7,
            "friends_count": len(self.following) if own else 3,
            "listed_count": 0,
            "favourites_count": sum(1 for t in self.tweets if t.get("favorited")) if own else 0,
            "statuses_count": len(self.tweets) if own else 0,
            "created_at": "Mon Jan 05 12:00:00 +0000 2015",
            "lang": None, "default_profile": True,
            "default_profile_image": True, "following": False,
        }
        if not own:
            u["following"] = screen_name.lower() in (s.lower() for s in self.following)
        return u

    def other_user(self, screen_name=None, user_id=None):
        """A made-up but stable user for any name or id other than ours."""
        c = self.creds
        if user_id is not None and str(user_id) == c["user_id"]:
            return self.me()
        if screen_name is not None and screen_name.lower() == c["screen_name"].lower():
            return self.me()
        if user_id is not None and str(user_id).isdigit():
            uid = int(user_id)
            screen_name = "user%d" % uid
        else:
            screen_name = screen_name or "someone"
            uid = 200000 + zlib.crc32(screen_name.lower().encode()) % 800000
        return self.user_obj(uid, screen_name, screen_name.capitalize())

    # -- tweets --------------------------------------------------------------

    def _count_text(self, text, delta):
        n = self._text_counts.get(text, 0) + delta
        if n > 0:
            self._text_counts[text] = n
        else:
            self._text_counts.pop(text, None)

    def add_tweet(self, text, reply_to=None):
        """Stores a tweet; None when one with the same text is still stored."""
        with self.lock:
            if text in self._text_counts:
                return None
            tid = self.new_id()
            t = {"id": tid, "text": text, "created": time.time(),
                 "in_reply_to_status_id": reply_to, "favorited": False}
            self.tweets.append(t)
            self._count_text(text, 1)
            self.save()
            return t

    def find_tweet(self, tid):
        with self.lock:
            for t in self.tweets:
                if str(t["id"]) == str(tid):
                    return t
            return None

    def delete_tweet(self, tid):
        with self.lock:
            t = self.find_tweet(tid)
            if t:
                self.tweets.remove(t)
                self._count_text(t["text"], -1)
                self.save()
            return t

    def timeline(self):
        """Stored tweets, oldest first, with the clock reading taken when each was stored."""
        with self.lock:
            return [{"id": str(t["id"]), "text": t["text"], "stored_at": t["created"]}
                    for t in self.tweets]

    def tweet_obj(self, t, trim_user=False):
        me = self.me()
        user = {"id": me["id"], "id_str": me["id_str"]} if trim_user else me
        reply = t.get("in_reply_to_status_id")
        return {
            "created_at": twitter_time(t["created"]),
            "id": t["id"], "id_str": str(t["id"]),
            "text": t["text"], "truncated": False,
            "entities": {"hashtags": [], "symbols": [], "user_mentions": [],
                         "urls": []},
            "source": "<a href=\"https://localhost/\" rel=\"nofollow\">%s</a>"
                      % self.creds["app_name"],
            "in_reply_to_status_id": int(reply) if reply else None,
            "in_reply_to_status_id_str": str(reply) if reply else None,
            "in_reply_to_user_id": None, "in_reply_to_user_id_str": None,
            "in_reply_to_screen_name": None,
            "user": user, "geo": None, "coordinates": None, "place": None,
            "is_quote_status": False, "retweet_count": 0,
            "favorite_count": 1 if t.get("favorited") else 0,
            "favorited": bool(t.get("favorited")), "retweeted": False,
            "lang": "en",
        }
