#!/usr/bin/python3
"""A v1.1 client the sandbox was not written for: tweepy, as a new user would use it, through the
sandbox's entrance as the proxy. Logs in by PIN, then makes the common calls."""

import os
import signal
import sys

HERE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, HERE)
from sandbox.harness import CA_FILE, CREDS, SandboxProcess, approve  # noqa: E402

import tweepy  # noqa: E402

failures = []
steps = []


def step(name, call, expect=lambda result: True):
    """Runs one call; a failure is recorded and the run goes on."""
    steps.append(name)
    try:
        result = call()
    except Exception as e:
        failures.append("%s raised %r" % (name, e))
        return None
    if not expect(result):
        failures.append("%s gave %r" % (name, result))
    return result


def refused_with(call, code):
    try:
        call()
    except tweepy.errors.HTTPException as e:
        return code in e.api_codes
    return False


def main():
    signal.alarm(60)  # never hang a test run
    sb = SandboxProcess()
    try:
        # requests takes the proxy and the CA from the environment, as a user would set them.
        for name in ("NO_PROXY", "no_proxy"):
            os.environ.pop(name, None)
        os.environ["HTTPS_PROXY"] = sb.proxy()
        os.environ["REQUESTS_CA_BUNDLE"] = CA_FILE
        run(sb)
    finally:
        sb.stop()
    for f in failures:
        print("FAIL: " + f)
    print("tweepy %s against the sandbox: %d steps, %d failed"
          % (tweepy.__version__, len(steps), len(failures)))
    return 1 if failures or len(steps) < 30 else 0


def run(sb):
    auth = tweepy.OAuth1UserHandler(CREDS["consumer_key"], CREDS["consumer_secret"],
                                    callback="oob")
    url = step("authorization URL", auth.get_authorization_url)
    if url is None:
        return
    pin = approve(sb, url)
    if step("access token", lambda: auth.get_access_token(pin),
            lambda t: t[0].startswith(CREDS["user_id"] + "-")) is None:
        return
    api = tweepy.API(auth)
    me = CREDS["screen_name"]

    step("verify_credentials", api.verify_credentials, lambda u: u.screen_name == me)
    text = "Now playing Marta Velasquez - Slow Tide on #Spinforge"
    status = step("update_status", lambda: api.update_status(text), lambda s: s.text == text)
    if status is None:
        return
    reply = step("update_status as a reply",
                 lambda: api.update_status("@%s again" % me, in_reply_to_status_id=status.id),
                 lambda s: s.in_reply_to_status_id == status.id)
    step("update_status duplicate refused", lambda: refused_with(
        lambda: api.update_status(text), 187), bool)
    step("user_timeline", api.user_timeline, lambda t: [s.id for s in t][-1] == status.id)
    step("home_timeline", lambda: api.home_timeline(count=5), lambda t: len(t) == 2)
    step("mentions_timeline", api.mentions_timeline, lambda t: isinstance(t, list))
    step("get_status", lambda: api.get_status(status.id), lambda s: s.text == text)
    step("lookup_statuses", lambda: api.lookup_statuses([status.id]), lambda t: len(t) == 1)
    step("search_tweets", lambda: api.search_tweets("Slow Tide"),
         lambda t: [s.id for s in t] == [status.id])
    step("create_favorite", lambda: api.create_favorite(status.id), lambda s: s.favorited)
    step("get_favorites", api.get_favorites, lambda t: [s.id for s in t] == [status.id])
    step("destroy_favorite", lambda: api.destroy_favorite(status.id), lambda s: not s.favorited)
    step("retweet", lambda: api.retweet(status.id), lambda s: s.text.startswith("RT @"))
    step("get_user", lambda: api.get_user(screen_name="spinforge"),
         lambda u: u.screen_name == "spinforge")
    step("lookup_users", lambda: api.lookup_users(screen_name=["a", "b"]), lambda u: len(u) == 2)
    step("create_friendship", lambda: api.create_friendship(screen_name="spinforge"))
    step("get_friend_ids", api.get_friend_ids, lambda ids: len(ids) == 1)
    step("get_friendship", lambda: api.get_friendship(target_screen_name="spinforge"),
         lambda rel: rel[0].following)
    step("destroy_friendship", lambda: api.destroy_friendship(screen_name="spinforge"))
    step("create_block", lambda: api.create_block(screen_name="spammer"))
    step("get_blocks", api.get_blocks, lambda users: [u.screen_name for u in users] == ["spammer"])
    step("destroy_block", lambda: api.destroy_block(screen_name="spammer"))
    saved = step("create_saved_search", lambda: api.create_saved_search("#DJSet"))
    step("get_saved_searches", api.get_saved_searches, lambda s: len(s) == 1)
    if saved is not None:
        step("destroy_saved_search", lambda: api.destroy_saved_search(saved.id))
    step("rate_limit_status", api.rate_limit_status, lambda r: "resources" in r)
    if reply is not None:
        step("destroy_status", lambda: api.destroy_status(reply.id))
    step("destroy_status", lambda: api.destroy_status(status.id))
    step("timeline after destroy", sb.timeline,
         lambda t: [e["text"] for e in t] == [])
    step("get_status of a destroyed tweet refused", lambda: refused_with(
        lambda: api.get_status(status.id), 144), bool)


if __name__ == "__main__":
    sys.exit(main())
