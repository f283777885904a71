"""What a request handler hands back to the connection: status, body, type, headers and the
verdict the request log shows."""

import json


def json_bytes(obj):
    return json.dumps(obj, separators=(",", ":"), ensure_ascii=False).encode("utf-8")


class Answer:
    def __init__(self, status, body, ctype="application/json; charset=utf-8",
                 verdict="ok", headers=()):
        self.status = status
        self.body = body if isinstance(body, bytes) else body.encode("utf-8")
        self.ctype = ctype
        self.verdict = verdict
        self.headers = list(headers)


def json_answer(status, obj, verdict="ok"):
    return Answer(status, json_bytes(obj), verdict=verdict)


def html_answer(status, html, verdict="ok", headers=()):
    return Answer(status, html, "text/html; charset=utf-8", verdict,
                  [("Cache-Control", "no-store")] + list(headers))


def redirect(location, headers=()):
    return Answer(302, b"", "text/html; charset=utf-8",
                  headers=[("Location", location), ("Cache-Control", "no-store")] + list(headers))
