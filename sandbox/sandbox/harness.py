"""For scripts and tests: runs a sandbox on a free loopback port, reads its test endpoints, and
plays the user who approves an application on its authorize page."""

import html
import http.client
import json
import os
import re
import signal
import ssl
import subprocess
import threading
import urllib.parse

from .server import CERTS, HERE, load_credentials

CREDS = load_credentials()
CA_FILE = os.path.join(CERTS, "ca.pem")
SERVICE_HOST = "api.twitter.com"

# The simulator's state file, and where the plug-in keeps its logins in it: X's access block of
# 256 bytes, the token from the start and its secret from the middle; Mastodon's of 1024 bytes, a
# JSON object.
SIM_STATE_HEADER = "# spinforge-sim kept values: plug-in, parameter id, bytes in hex"
ACCESS_ID = 10
ACCESS_SIZE = 256
MASTODON_ACCESS_ID = 24
MASTODON_ACCESS_SIZE = 1024


def write_kept_login(path, plugin="TrackpostSandbox", mastodon=False):
    """A simulator state file in which the plug-in has kept the sandbox's pre-issued token, so
    it starts logged in; with `mastodon`, logged in to mastodon.social too."""
    block = bytearray(ACCESS_SIZE)
    key, secret = CREDS["access_token"].encode(), CREDS["access_token_secret"].encode()
    block[:len(key)] = key
    block[ACCESS_SIZE // 2:ACCESS_SIZE // 2 + len(secret)] = secret
    lines = [SIM_STATE_HEADER, "%s %d %s" % (plugin, ACCESS_ID, block.hex())]
    if mastodon:
        m = CREDS["mastodon"]
        kept = json.dumps({"server": "mastodon.social", "client_id": m["client_id"],
                           "client_secret": m["client_secret"], "token": m["access_token"],
                           "account": "djsandbox"}).encode()
        lines.append("%s %d %s" % (plugin, MASTODON_ACCESS_ID,
                                   kept.ljust(MASTODON_ACCESS_SIZE, b"\0").hex()))
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")


class SandboxProcess:
    """A sandbox of its own, started with extra options such as ("--access", "v2-only")."""

    def __init__(self, *options):
        self.proc = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(HERE, "serve"), "--port", "0", "--quiet",
             *options], stdout=subprocess.PIPE, text=True)
        line = self.proc.stdout.readline().strip()
        if not line.isdigit():
            self.stop()
            raise RuntimeError("the sandbox did not start")
        self.port = int(line)
        # The rest of its banner is not needed; keep the pipe drained.
        threading.Thread(target=self.proc.stdout.read, daemon=True).start()

    def stop(self):
        """Stops it; its exit status, or None when it had to be killed."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                return self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                return None
        return self.proc.returncode

    def admin(self, method, path, body=None):
        """A test endpoint over plain HTTP: (status, body text)."""
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        c.request(method, path, body=body)
        r = c.getresponse()
        data = r.read().decode()
        c.close()
        return r.status, data

    def timeline(self, host=None):
        """The stored posts, oldest first: X's, or those of the Mastodon server or Bluesky host
        `host` (either Bluesky host gives the account's posts)."""
        path = "/__timeline" + ("?host=" + urllib.parse.quote(host) if host else "")
        status, data = self.admin("GET", path)
        return json.loads(data) if status == 200 else []

    def log(self):
        status, data = self.admin("GET", "/__log")
        return json.loads(data) if status == 200 else []

    def proxy(self):
        return "http://127.0.0.1:%d" % self.port

    def browser(self, host=SERVICE_HOST):
        """A connection to a service's address through the sandbox, as a browser makes it."""
        return tunnel(self.port, host)


def tunnel(port, host):
    """An HTTPS connection to host:443 through the sandbox's proxy entrance, checked with its CA."""
    ctx = ssl.create_default_context(cafile=CA_FILE)
    c = http.client.HTTPSConnection("127.0.0.1", port, context=ctx, timeout=10)
    c.set_tunnel(host, 443)
    return c


def between(text, start, end):
    """The text between two markers, unescaped; None when a marker is missing."""
    i = text.find(start)
    if i < 0:
        return None
    i += len(start)
    j = text.find(end, i)
    return None if j < 0 else html.unescape(text[i:j])


def approve(sandbox, url):
    """Signs in as the test user on the authorize page and reads the PIN the next page shows."""
    parts = urllib.parse.urlsplit(url)
    if parts.netloc != SERVICE_HOST or not parts.path.startswith("/oauth/authorize"):
        raise RuntimeError("not the service's authorize address: " + url)
    path = parts.path + "?" + parts.query
    c = sandbox.browser()
    try:
        c.request("GET", path)
        r = c.getresponse()
        page = r.read().decode()
        cookie = (r.getheader("Set-Cookie") or "").split(";")[0]
        token = between(page, 'name="authenticity_token" type="hidden" value="', '"')
        oauth_token = between(page, 'name="oauth_token" type="hidden" value="', '"')
        if r.status != 200 or not token or not oauth_token:
            raise RuntimeError("the authorize page answered %d without its form" % r.status)
        form = urllib.parse.urlencode({
            "authenticity_token": token, "oauth_token": oauth_token,
            "session[username_or_email]": CREDS["screen_name"],
            "session[password]": CREDS["password"]})
        c.request("POST", path, body=form, headers={
            "Content-Type": "application/x-www-form-urlencoded", "Cookie": cookie})
        r = c.getresponse()
        page = r.read().decode()
    finally:
        c.close()
    pin = between(page, "<code>", "</code>")
    if r.status != 200 or not pin:
        raise RuntimeError("the sign-in answered %d without a PIN" % r.status)
    return pin


class _Browser:
    """One server's pages through one tunnel, with a cookie jar, following redirects."""

    def __init__(self, port, host):
        self.host = host
        self.conn = tunnel(port, host)
        self.cookies = {}

    def open(self, path, form=None):
        """(status, page) of the page reached from path, after any redirects; a form is sent
        with POST."""
        for _ in range(10):
            headers = {"Cookie": "; ".join("%s=%s" % kv for kv in self.cookies.items())}
            method, body = "GET", None
            if form is not None:
                method, body = "POST", urllib.parse.urlencode(form)
                headers["Content-Type"] = "application/x-www-form-urlencoded"
            self.conn.request(method, path, body=body, headers=headers)
            r = self.conn.getresponse()
            page = r.read().decode("utf-8", "replace")
            for name, value in r.getheaders():
                if name.lower() == "set-cookie":
                    k, _, v = value.split(";")[0].partition("=")
                    self.cookies[k.strip()] = v
            location = r.getheader("Location")
            if r.status not in (301, 302, 303) or not location:
                return r.status, page
            target = urllib.parse.urlsplit(location)
            if target.netloc not in ("", self.host):
                raise RuntimeError("redirected away from %s: %s" % (self.host, location))
            path = target.path + ("?" + target.query if target.query else "")
            form = None
        raise RuntimeError("too many redirects")

    def close(self):
        self.conn.close()


def hidden_fields(page, form_class):
    """The hidden fields of the form with that class, in order."""
    start = page.find('class="%s"' % form_class)
    end = page.find("</form>", start)
    if start < 0 or end < 0:
        return None
    return [(html.unescape(k), html.unescape(v)) for k, v in re.findall(
        r'<input type="hidden" name="([^"]*)" value="([^"]*)">', page[start:end])]


def approve_mastodon(port, authorize_url):
    """Plays the test user on a Mastodon server's pages: opens the authorize address, signs in,
    presses Authorize, and reads the code the last page shows."""
    parts = urllib.parse.urlsplit(authorize_url)
    m = CREDS["mastodon"]
    if (parts.scheme != "https" or parts.netloc not in m["servers"] or
            parts.path != "/oauth/authorize"):
        raise RuntimeError("not a Mastodon server's authorize address: " + authorize_url)
    b = _Browser(port, parts.netloc)
    try:
        status, page = b.open(parts.path + "?" + parts.query)
        token = between(page, 'name="authenticity_token" value="', '"')
        if status != 200 or 'action="/auth/sign_in"' not in page or not token:
            raise RuntimeError("the authorize address answered %d without the sign-in form"
                               % status)
        status, page = b.open("/auth/sign_in", {
            "authenticity_token": token, "user[email]": m["email"],
            "user[password]": m["password"]})
        fields = hidden_fields(page, "oauth-authorize")
        if status != 200 or not fields:
            raise RuntimeError("signing in answered %d without the Authorize form" % status)
        status, page = b.open("/oauth/authorize", fields)
    finally:
        b.close()
    code = between(page, '<input class="oauth-code" readonly type="text" value="', '"')
    if status != 200 or not code:
        raise RuntimeError("authorizing answered %d without a code" % status)
    return code
