"""The data of the sandbox's Mastodon servers, one set per server name: registered apps,
authorization codes, access tokens, browser sessions, statuses and the idempotency keys of the
last hour. Apps, tokens, statuses and keys are kept in DIR/mastodon.json with --state."""

import json
import os
import secrets
import threading
import time

from . import statefile

STATE_FILE = "mastodon.json"
CODE_LIFETIME = 600
IDEMPOTENCY_LIFETIME = 3600
# Where the pre-registered app and the pre-issued token live.
HOME_SERVER = "mastodon.social"


def new_secret():
    # 43 URL-safe characters, the length of the server's own ids, secrets, codes and tokens.
    return secrets.token_urlsafe(32)


class Server:
    """One server's data. Every method expects the caller to hold the store's lock."""

    def __init__(self, host, creds):
        self.host = host
        self.creds = creds
        self.clear()

    def clear(self):
        c = self.creds
        self.apps = {}
        self.tokens = {}
        self.codes = {}
        self.sessions = {}
        self.statuses = []           # oldest first
        self.idempotency = {}        # (token, key) -> (status id, time stored)
        self.post_times = []         # the sandbox clock's times of recent posts, for the mode's limit
        self._next_app = 1
        self._last_id = 0
        if self.host == HOME_SERVER:
            self.add_app(c["app_name"], [c["redirect_uri"]], c["scopes"].split(), None,
                         c["client_id"], c["client_secret"])
            self.add_token(c["client_id"], c["scopes"], c["account_id"], c["access_token"])

    # -- apps and tokens -----------------------------------------------------

    def add_app(self, name, redirect_uris, scopes, website, client_id=None, client_secret=None):
        app = {"id": str(self._next_app), "name": name, "website": website,
               "redirect_uris": redirect_uris, "scopes": scopes,
               "client_id": client_id or new_secret(),
               "client_secret": client_secret or new_secret()}
        self._next_app += 1
        self.apps[app["client_id"]] = app
        return app

    def add_token(self, client_id, scope, account_id, key=None):
        tok = {"token": key or new_secret(), "client_id": client_id, "scope": scope,
               "account_id": account_id, "revoked": False, "created_at": int(time.time())}
        self.tokens[tok["token"]] = tok
        return tok

    def live_token(self, key):
        tok = self.tokens.get(key or "")
        return tok if tok and not tok["revoked"] else None

    def add_code(self, client_id, redirect_uri, scope, challenge):
        code = {"code": new_secret(), "client_id": client_id, "redirect_uri": redirect_uri,
                "scope": scope, "challenge": challenge, "created": time.time(), "used": False}
        self.codes[code["code"]] = code
        return code

    def take_code(self, key):
        """The code if it may still be exchanged, marked used; None otherwise."""
        code = self.codes.get(key or "")
        if not code or code["used"] or time.time() - code["created"] > CODE_LIFETIME:
            return None
        code["used"] = True
        return code

    # -- statuses ------------------------------------------------------------

    def new_id(self):
        # Shaped like the server's: milliseconds in the high bits, a sequence in the low 16.
        self._last_id = max(int(time.time() * 1000) << 16, self._last_id + 1)
        return str(self._last_id)

    def earlier_post(self, token, key):
        """The status already created with this idempotency key and token within the hour."""
        if not key:
            return None
        found = self.idempotency.get((token, key))
        if not found or time.time() - found[1] > IDEMPOTENCY_LIFETIME:
            return None
        return next((s for s in self.statuses if s["id"] == found[0]), None)

    def add_status(self, token, key, text, visibility, language, stored_at):
        status = {"id": self.new_id(), "text": text, "stored_at": stored_at,
                  "idempotency_key": key or None, "visibility": visibility,
                  "language": language}
        self.statuses.append(status)
        if key:
            self.idempotency[(token, key)] = (status["id"], time.time())
        return status

    # -- keeping ------------------------------------------------------------

    def to_json(self):
        return {"apps": list(self.apps.values()), "tokens": list(self.tokens.values()),
                "statuses": self.statuses, "next_app": self._next_app, "last_id": self._last_id,
                "idempotency": [[t, k, sid, at] for (t, k), (sid, at) in self.idempotency.items()]}

    def load(self, data):
        self.apps.update({a["client_id"]: a for a in data.get("apps", [])})
        self.tokens.update({t["token"]: t for t in data.get("tokens", [])})
        self.statuses = data.get("statuses", [])
        self._next_app = max(self._next_app, data.get("next_app", 1))
        self._last_id = data.get("last_id", 0)
        self.idempotency = {(t, k): (sid, at) for t, k, sid, at in data.get("idempotency", [])}


class MastodonStore:
    def __init__(self, creds, hosts, state_dir=None):
        self.lock = threading.RLock()
        self.state_dir = state_dir
        self.servers = {h: Server(h, creds) for h in hosts}
        if state_dir:
            os.makedirs(state_dir, exist_ok=True)
            try:
                with open(os.path.join(state_dir, STATE_FILE), encoding="utf-8") as f:
                    data = json.load(f)
            except FileNotFoundError:
                data = {}
            for host, server in self.servers.items():
                server.load(data.get(host, {}))

    def reset(self):
        with self.lock:
            for server in self.servers.values():
                server.clear()
            if self.state_dir:
                statefile.remove(self.state_dir, STATE_FILE)

    def save(self):
        if not self.state_dir:
            return
        with self.lock:
            data = {h: s.to_json() for h, s in self.servers.items()}
            statefile.write(self.state_dir, STATE_FILE, data)

    def revoke(self, host, key):
        with self.lock:
            tok = self.servers[host].tokens.get(key)
            if tok:
                tok["revoked"] = True
                self.save()

    def timeline(self, host):
        with self.lock:
            return [dict(s) for s in self.servers[host].statuses]
