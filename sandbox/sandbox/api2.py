"""REST v2 calls: JSON bodies in and out, refusals as problem objects.
Each handler returns (status, JSON-able object)."""

import json

from .api import TOO_LONG, text_problem

TOO_LONG_DETAIL = ("Your Tweet text is too long. For more information on how Twitter determines "
                   "text length see https://github.com/twitter/twitter-text.")

INVALID_REQUEST = "https://api.twitter.com/2/problems/invalid-request"


class Problem(Exception):
    """A refusal, answered as the problem object the service sends."""

    def __init__(self, status, obj):
        super().__init__(obj.get("detail", ""))
        self.status = status
        self.obj = obj


def plain_problem(status, title, detail):
    return Problem(status, {"title": title, "type": "about:blank", "status": status,
                            "detail": detail})


def unauthorized():
    return plain_problem(401, "Unauthorized", "Unauthorized")


def invalid_request(message):
    return Problem(400, {"errors": [{"message": message}], "title": "Invalid Request",
                         "detail": "One or more parameters to your request was invalid.",
                         "type": INVALID_REQUEST})


def users_me(c):
    me = c.store.me()
    return 200, {"data": {"id": me["id_str"], "name": me["name"],
                          "username": me["screen_name"]}}


def json_body(c):
    if c.req.media_type() != "application/json":
        raise invalid_request("The request body must be JSON (Content-Type: application/json).")
    try:
        body = json.loads(c.req.body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise invalid_request("The request body is not valid JSON.")
    if not isinstance(body, dict):
        raise invalid_request("The request body must be a JSON object.")
    return body


def create_tweet(c):
    body = json_body(c)
    text = body.get("text", "")
    if not isinstance(text, str):
        raise invalid_request("$.text: expected a string.")
    problem = text_problem(text)
    if problem and problem[0] == TOO_LONG:
        raise plain_problem(403, "Forbidden", TOO_LONG_DETAIL)
    if problem:
        raise invalid_request(problem[1])
    reply = body.get("reply")
    reply_to = reply.get("in_reply_to_tweet_id") if isinstance(reply, dict) else None
    s = c.store
    with s.lock:
        t = s.add_tweet(text, reply_to if isinstance(reply_to, str) and reply_to.isdigit()
                        else None)
        if t is None:
            raise plain_problem(403, "Forbidden",
                                "You are not allowed to create a Tweet with duplicate content.")
    return 201, {"data": {"id": str(t["id"]), "text": t["text"],
                          "edit_history_tweet_ids": [str(t["id"])]}}


ROUTES = {("GET", "/2/users/me"): users_me, ("POST", "/2/tweets"): create_tweet}


def route(method, path):
    return ROUTES.get((method, path))
