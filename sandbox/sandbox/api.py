"""REST v1.1 calls. Each handler returns (status, JSON-able object)."""

import re
import time
from urllib.parse import parse_qsl

from . import textcount
from .store import twitter_time

MAX_STATUS = 280  # weighted, as the service counts
TOO_LONG = 186


class ApiError(Exception):
    def __init__(self, status, code, message):
        super().__init__(message)
        self.status = status
        self.code = code
        self.message = message


def not_found():
    return ApiError(404, 34, "Sorry, that page does not exist.")


def no_status():
    return ApiError(404, 144, "No status found with that ID.")


class Call:
    """What a handler sees of one authenticated request."""

    def __init__(self, store, req, form_body):
        self.store = store
        self.req = req
        self.query = dict(parse_qsl(req.query, keep_blank_values=True))
        self.form = dict(parse_qsl(form_body, keep_blank_values=True,
                                   errors="replace")) if form_body else {}

    def arg(self, name, default=None):
        if name in self.form:
            return self.form[name]
        return self.query.get(name, default)

    def target_user(self, id_name="user_id", sn_name="screen_name"):
        uid, sn = self.arg(id_name), self.arg(sn_name)
        if uid is None and sn is None:
            return None
        return self.store.other_user(screen_name=sn, user_id=uid)

    def count(self, default=20, cap=200):
        try:
            return max(1, min(cap, int(self.arg("count", default))))
        except ValueError:
            return default

    def flag(self, name):
        return (self.arg(name) or "").lower() in ("1", "true", "t")


def _timeline(c):
    s = c.store
    with s.lock:
        tweets = list(reversed(s.tweets))
        since, max_id = c.arg("since_id"), c.arg("max_id")
        if since and since.isdigit():
            tweets = [t for t in tweets if t["id"] > int(since)]
        if max_id and max_id.isdigit():
            tweets = [t for t in tweets if t["id"] <= int(max_id)]
        trim = c.flag("trim_user")
        return 200, [s.tweet_obj(t, trim) for t in tweets[:c.count()]]


def user_timeline(c, m):
    u = c.target_user()
    if u is not None and u["id"] != int(c.store.creds["user_id"]):
        return 200, []
    return _timeline(c)


def home_timeline(c, m):
    return _timeline(c)


def path_or_arg(c, m, name="id"):
    """The id in the path (statuses/show/ID) or, in the documented form without it, the
    parameter (statuses/show?id=ID)."""
    return m.group(1) if m.lastindex else c.arg(name)


# Why a text is refused, shared with v2: (code, message) or None.
def text_problem(text):
    if not text:
        return 170, "Missing required parameter: status."
    if textcount.weighted_length(text) > MAX_STATUS:
        return TOO_LONG, "Tweet needs to be a bit shorter."
    return None


def update(c, m):
    # Parameters may come in the body or, as some clients send them, in the query.
    text = c.arg("status", "")
    problem = text_problem(text)
    if problem:
        raise ApiError(403, *problem)
    s = c.store
    reply = c.arg("in_reply_to_status_id")
    with s.lock:
        t = s.add_tweet(text, reply if reply and reply.isdigit() else None)
        if t is None:
            raise ApiError(403, 187, "Status is a duplicate.")
        return 200, s.tweet_obj(t)


def show(c, m):
    s = c.store
    with s.lock:
        t = s.find_tweet(path_or_arg(c, m))
        if not t:
            raise no_status()
        return 200, s.tweet_obj(t, c.flag("trim_user"))


def lookup(c, m):
    s = c.store
    with s.lock:
        found = [s.find_tweet(i) for i in (c.arg("id") or "").split(",")[:100] if i]
        return 200, [s.tweet_obj(t, c.flag("trim_user")) for t in found if t]


def destroy(c, m):
    s = c.store
    with s.lock:
        t = s.delete_tweet(m.group(1))
        if not t:
            raise no_status()
        return 200, s.tweet_obj(t)


def retweet(c, m):
    s = c.store
    with s.lock:
        t = s.find_tweet(m.group(1))
        if not t:
            raise no_status()
        orig = s.tweet_obj(t)
        rt = dict(orig)
        rid = s.new_id()
        rt.update({"id": rid, "id_str": str(rid),
                   "created_at": twitter_time(time.time()),
                   "text": "RT @%s: %s" % (orig["user"]["screen_name"], t["text"]),
                   "retweeted": True, "retweeted_status": orig})
        return 200, rt


def search(c, m):
    q = (c.query.get("q") or "").lower()
    s = c.store
    with s.lock:
        hits = [s.tweet_obj(t) for t in reversed(s.tweets)
                if q and q in t["text"].lower()][:c.count(15, 100)]
    return 200, {"statuses": hits, "search_metadata": {
        "completed_in": 0.001, "max_id": hits[0]["id"] if hits else 0,
        "max_id_str": hits[0]["id_str"] if hits else "0", "query": c.query.get("q", ""),
        "count": len(hits), "since_id": 0, "since_id_str": "0"}}


def empty_list(c, m):
    return 200, []


def users_show(c, m):
    u = c.target_user()
    if u is None:
        raise ApiError(403, 50, "User not found.")
    return 200, u


def users_lookup(c, m):
    s = c.store
    if c.arg("user_id"):
        users = [s.other_user(user_id=x) for x in c.arg("user_id").split(",") if x]
    else:
        users = [s.other_user(screen_name=x)
                 for x in (c.arg("screen_name") or "").split(",") if x]
    if not users:
        raise ApiError(404, 17, "No user matches for specified terms.")
    return 200, users[:100]


def verify_credentials(c, m):
    return 200, c.store.me()


def dm_list(c, m):
    with c.store.lock:
        return 200, list(reversed(c.store.dms))


def dm_new(c, m):
    s = c.store
    text = c.arg("text") or ""
    if not text:
        raise ApiError(403, 38, "text parameter is missing.")
    u = c.target_user()
    if u is None:
        raise ApiError(403, 38, "user parameter is missing.")
    with s.lock:
        me = s.me()
        did = s.new_id()
        dm = {"id": did, "id_str": str(did), "text": text,
              "created_at": twitter_time(time.time()),
              "sender": me, "sender_id": me["id"], "sender_screen_name": me["screen_name"],
              "recipient": u, "recipient_id": u["id"],
              "recipient_screen_name": u["screen_name"]}
        s.dms.append(dm)
        s.save()
        return 200, dm


def dm_destroy(c, m):
    s = c.store
    with s.lock:
        for dm in s.dms:
            if dm["id_str"] == m.group(1):
                s.dms.remove(dm)
                s.save()
                return 200, dm
    raise not_found()


def _user_set(c, which, add, name=None):
    s = c.store
    if name is not None:
        u = s.other_user(screen_name=name)
    else:
        u = c.target_user()
    if u is None:
        raise ApiError(403, 50, "User not found.")
    with s.lock:
        lst = getattr(s, which)
        names = [x.lower() for x in lst]
        if add and u["screen_name"].lower() not in names:
            lst.append(u["screen_name"])
        if not add and u["screen_name"].lower() in names:
            del lst[names.index(u["screen_name"].lower())]
        s.save()
        u = s.other_user(screen_name=u["screen_name"])
    return 200, u


def follow(c, m):
    return _user_set(c, "following", True)


def unfollow(c, m):
    return _user_set(c, "following", False)


def block(c, m):
    return _user_set(c, "blocks", True, m.group(1) if m.lastindex else None)


def unblock(c, m):
    return _user_set(c, "blocks", False, m.group(1) if m.lastindex else None)


def friendship_show(c, m):
    s = c.store
    tgt = c.target_user("target_id", "target_screen_name")
    if tgt is None:
        raise ApiError(403, 163, "You must specify a target user.")
    me = s.me()
    with s.lock:
        following = tgt["screen_name"].lower() in (x.lower() for x in s.following)
        blocking = tgt["screen_name"].lower() in (x.lower() for x in s.blocks)
    return 200, {"relationship": {
        "source": {"id": me["id"], "id_str": me["id_str"], "screen_name": me["screen_name"],
                   "following": following, "followed_by": False, "blocking": blocking,
                   "can_dm": False, "muting": False, "notifications_enabled": False},
        "target": {"id": tgt["id"], "id_str": tgt["id_str"],
                   "screen_name": tgt["screen_name"], "following": False,
                   "followed_by": following}}}


def _cursored(key, items):
    return {key: items, "next_cursor": 0, "next_cursor_str": "0",
            "previous_cursor": 0, "previous_cursor_str": "0"}


def _ids_answer(c, which):
    """The ids of the users in one of the store's name sets ("following", "blocks")."""
    s = c.store
    with s.lock:
        ids = [s.other_user(screen_name=n)["id"] for n in getattr(s, which)]
    if c.flag("stringify_ids"):
        ids = [str(i) for i in ids]
    return 200, _cursored("ids", ids)


def friends_ids(c, m):
    return _ids_answer(c, "following")


def followers_ids(c, m):
    return 200, _cursored("ids", [])


def blocks_list(c, m):
    s = c.store
    with s.lock:
        users = [s.other_user(screen_name=n) for n in s.blocks]
    return 200, _cursored("users", users)


def blocks_ids(c, m):
    return _ids_answer(c, "blocks")


def rate_limit(c, m):
    reset = int(time.time()) + 900

    def lim(n):
        return {"limit": n, "remaining": n - 1, "reset": reset}
    return 200, {"rate_limit_context": {"access_token": c.store.creds["access_token"]},
                 "resources": {
                     "statuses": {"/statuses/update": lim(300),
                                  "/statuses/user_timeline": lim(900),
                                  "/statuses/home_timeline": lim(15)},
                     "account": {"/account/verify_credentials": lim(75)},
                     "search": {"/search/tweets": lim(180)}}}


def favorites(c, m):
    s = c.store
    with s.lock:
        return 200, [s.tweet_obj(t) for t in reversed(s.tweets) if t.get("favorited")]


def _favorite(c, m, on):
    s = c.store
    with s.lock:
        t = s.find_tweet(path_or_arg(c, m))
        if not t:
            raise no_status()
        t["favorited"] = on
        s.save()
        return 200, s.tweet_obj(t)


def fav_create(c, m):
    return _favorite(c, m, True)


def fav_destroy(c, m):
    return _favorite(c, m, False)


def saved_list(c, m):
    with c.store.lock:
        return 200, list(c.store.saved_searches)


def _find_saved(s, sid):
    for x in s.saved_searches:
        if x["id_str"] == sid:
            return x
    raise ApiError(404, 34, "Sorry, that page does not exist.")


def saved_show(c, m):
    with c.store.lock:
        return 200, _find_saved(c.store, m.group(1))


def saved_create(c, m):
    q = c.arg("query") or ""
    if not q:
        raise ApiError(403, 38, "query parameter is missing.")
    s = c.store
    with s.lock:
        sid = s.new_id()
        x = {"id": sid, "id_str": str(sid), "name": q, "query": q,
             "position": None, "created_at": twitter_time(time.time())}
        s.saved_searches.append(x)
        s.save()
        return 200, x


def saved_destroy(c, m):
    s = c.store
    with s.lock:
        x = _find_saved(s, m.group(1))
        s.saved_searches.remove(x)
        s.save()
        return 200, x


TRENDS = ["#NowPlaying", "#DJSet", "#FridayMix", "Vinyl", "#HouseMusic"]


def _trend_list():
    return [{"name": n, "query": n.replace("#", "%23"), "url": None,
             "promoted_content": None, "tweet_volume": 1000 + 37 * i}
            for i, n in enumerate(TRENDS)]


def trends(c, m):
    now = twitter_time(time.time())
    return 200, [{"trends": _trend_list(), "as_of": now, "created_at": now,
                  "locations": [{"name": "Worldwide", "woeid": 1}]}]


def trends_dated(c, m):
    day = time.strftime("%Y-%m-%d", time.gmtime())
    return 200, {"as_of": int(time.time()),
                 "trends": {day: [{"name": n, "query": n} for n in TRENDS]}}


def trends_current(c, m):
    stamp = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime())
    return 200, {"as_of": int(time.time()),
                 "trends": {stamp: [{"name": n, "query": n} for n in TRENDS]}}


def trends_available(c, m):
    return 200, [{"name": "Worldwide", "woeid": 1, "country": "", "countryCode": None,
                  "parentid": 0, "placeType": {"code": 19, "name": "Supername"},
                  "url": "http://where.yahooapis.com/v1/place/1"}]


_ID = r"([^/]+)"
# Each call in the form our client uses and in the form the service documented, so that any
# client of the v1.1 API can be tried here.
_ROUTES = [
    ("GET", "search/tweets", search),
    ("POST", "statuses/update", update),
    ("GET", "statuses/show/" + _ID, show),
    ("GET", "statuses/show", show),
    ("GET", "statuses/lookup", lookup),
    ("DELETE", "statuses/destroy/" + _ID, destroy),
    ("POST", "statuses/destroy/" + _ID, destroy),
    ("POST", "statuses/retweet/" + _ID, retweet),
    ("GET", "statuses/home_timeline", home_timeline),
    ("GET", "statuses/public_timeline", home_timeline),
    ("GET", "statuses/featured", empty_list),
    ("GET", "statuses/friends_timeline", home_timeline),
    ("GET", "statuses/mentions_timeline", empty_list),
    ("GET", "statuses/user_timeline", user_timeline),
    ("POST", "users/lookup", users_lookup),
    ("GET", "users/show", users_show),
    ("GET", "statuses/friends", empty_list),
    ("GET", "statuses/followers", empty_list),
    ("GET", "direct_messages", dm_list),
    ("POST", "direct_messages/new", dm_new),
    ("GET", "direct_messages/sent", dm_list),
    ("DELETE", "direct_messages/destroy/" + _ID, dm_destroy),
    ("POST", "friendships/create", follow),
    ("DELETE", "friendships/destroy", unfollow),
    ("POST", "friendships/destroy", unfollow),
    ("GET", "friendships/show", friendship_show),
    ("GET", "friends/ids", friends_ids),
    ("GET", "followers/ids", followers_ids),
    ("GET", "account/rate_limit_status", rate_limit),
    ("GET", "application/rate_limit_status", rate_limit),
    ("GET", "account/verify_credentials", verify_credentials),
    ("GET", "favorites", favorites),
    ("GET", "favorites/list", favorites),
    ("POST", "favorites/create/" + _ID, fav_create),
    ("POST", "favorites/create", fav_create),
    ("DELETE", "favorites/destroy/" + _ID, fav_destroy),
    ("POST", "favorites/destroy", fav_destroy),
    ("POST", "blocks/create/" + _ID, block),
    ("POST", "blocks/create", block),
    ("DELETE", "blocks/destroy/" + _ID, unblock),
    ("POST", "blocks/destroy", unblock),
    ("GET", "blocks/list", blocks_list),
    ("GET", "blocks/ids", blocks_ids),
    ("GET", "saved_searches", saved_list),
    ("GET", "saved_searches/list", saved_list),
    ("GET", "saved_searches/show/" + _ID, saved_show),
    ("POST", "saved_searches/create", saved_create),
    ("DELETE", "saved_searches/destroy/" + _ID, saved_destroy),
    ("POST", "saved_searches/destroy/" + _ID, saved_destroy),
    ("GET", "trends", trends),
    ("GET", "trends/daily", trends_dated),
    ("GET", "trends/weekly", trends_dated),
    ("GET", "trends/current", trends_current),
    ("GET", "trends/available", trends_available),
]
ROUTES = [(meth, re.compile(r"^/1\.1/" + pat + r"\.json$"), fn)
          for meth, pat, fn in _ROUTES]


def route(method, path):
    """(handler, match) for a REST path, or None."""
    for meth, rx, fn in ROUTES:
        if meth == method:
            m = rx.match(path)
            if m:
                return fn, m
    return None
