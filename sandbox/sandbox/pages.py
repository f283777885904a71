"""HTML pages for people using the sandbox in a browser."""

from html import escape

from .store import twitter_time

CSS = """
*{box-sizing:border-box}
body{margin:0;font:15px/1.45 -apple-system,BlinkMacSystemFont,"Segoe UI",Roboto,Helvetica,Arial,sans-serif;
background:#f3f5f7;color:#14171a}
header{background:#14171a;color:#fff;padding:14px 24px;display:flex;align-items:center;gap:12px}
header .logo{width:28px;height:28px;border-radius:50%;background:#1d9bf0;display:inline-block}
header h1{font-size:18px;margin:0;font-weight:600}
header .tag{margin-left:auto;font-size:12px;background:#f4a100;color:#14171a;padding:2px 8px;border-radius:10px;font-weight:600}
main{max-width:640px;margin:28px auto;padding:0 16px}
.card{background:#fff;border:1px solid #e1e8ed;border-radius:14px;padding:22px 24px;margin-bottom:18px}
h2{font-size:20px;margin:0 0 10px}
p{margin:8px 0}
.muted{color:#657786;font-size:13px}
label{display:block;font-size:13px;font-weight:600;margin:14px 0 4px;color:#425466}
input[type=text],input[type=password]{width:100%;padding:10px 12px;border:1px solid #ccd6dd;border-radius:8px;font-size:15px}
input[type=text]:focus,input[type=password]:focus{outline:none;border-color:#1d9bf0;box-shadow:0 0 0 3px #1d9bf033}
button{margin-top:18px;background:#1d9bf0;color:#fff;border:0;border-radius:20px;padding:10px 22px;font-size:15px;font-weight:700;cursor:pointer}
button:hover{background:#1a8cd8}
.app{display:flex;gap:14px;align-items:center;margin-bottom:8px}
.app .icon{width:48px;height:48px;border-radius:10px;background:linear-gradient(135deg,#1d9bf0,#7856ff);color:#fff;
display:flex;align-items:center;justify-content:center;font-weight:700;font-size:22px}
ul.perm{padding-left:20px;margin:8px 0}
.pin{text-align:center}
.pin kbd{display:inline-block;margin:14px 0;font:700 34px/1 ui-monospace,Menlo,Consolas,monospace;letter-spacing:6px;
background:#f5f8fa;border:1px solid #e1e8ed;border-radius:10px;padding:14px 22px}
.pin kbd code{font:inherit}
.error{border-left:4px solid #e0245e}
.tweet{border-top:1px solid #e1e8ed;padding:12px 0}
.tweet:first-child{border-top:0}
.tweet .who{font-weight:700}
.tweet .text{white-space:pre-wrap;word-wrap:break-word;margin:2px 0 4px}
code.inline{background:#f5f8fa;border:1px solid #e1e8ed;border-radius:4px;padding:1px 5px;font-size:13px}
a{color:#1d7bd0}
"""


def page(title, body, refresh=None):
    meta = ('<meta http-equiv="refresh" content="%d">' % refresh) if refresh else ""
    return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">"
            "%s<title>%s</title><style>%s</style></head><body>"
            "<header><span class=\"logo\"></span><h1>Trackpost sandbox</h1>"
            "<span class=\"tag\">TEST SERVICE</span></header>"
            "<main>%s</main></body></html>\n") % (meta, escape(title), CSS, body)


def authorize(app_name, oauth_token, authenticity_token):
    a = escape(app_name)
    body = """
<div class="card">
  <div class="app"><div class="icon">%(initial)s</div>
    <div><h2>Authorize %(app)s to use your account?</h2>
    <div class="muted">This application will be able to:</div></div></div>
  <ul class="perm"><li>Read tweets from your timeline.</li>
  <li>See who you follow.</li><li>Post tweets for you.</li></ul>
  <form method="post" action="/oauth/authorize?oauth_token=%(tok)s">
    <input name="authenticity_token" type="hidden" value="%(at)s">
    <input name="oauth_token" type="hidden" value="%(tok)s">
    <label for="u">Username or email</label>
    <input id="u" type="text" name="session[username_or_email]" autocomplete="username" autofocus>
    <label for="p">Password</label>
    <input id="p" type="password" name="session[password]" autocomplete="current-password">
    <button type="submit">Authorize app</button>
  </form>
</div>
<p class="muted">This is a local test service. No data leaves this machine.</p>
""" % {"initial": escape(app_name[:1].upper()), "app": a,
       "tok": escape(oauth_token), "at": escape(authenticity_token)}
    return page("Authorize " + app_name, body)


def pin(app_name, code):
    body = """
<div class="card pin">
  <h2>You've granted access to %s!</h2>
  <p id="code-desc">Next, return to the app and enter this PIN to complete the authorization process.</p>
  <kbd aria-labelledby="code-desc"><code>%s</code></kbd>
</div>
""" % (escape(app_name), escape(code))
    return page("Authorization PIN", body)


def message(title, text, link=None):
    extra = ""
    if link:
        extra = '<p><a href="%s">%s</a></p>' % (escape(link[0]), escape(link[1]))
    body = '<div class="card error"><h2>%s</h2><p>%s</p>%s</div>' % (
        escape(title), escape(text), extra)
    return page(title, body)


def home(store, port):
    creds = store.creds
    with store.lock:
        tweets = list(reversed(store.tweets))
        me = store.me()
    rows = []
    for t in tweets:
        rows.append(
            '<div class="tweet"><span class="who">%s</span> '
            '<span class="muted">@%s &middot; %s</span>'
            '<div class="text">%s</div></div>' % (
                escape(me["name"]), escape(me["screen_name"]),
                escape(twitter_time(t["created"])), escape(t["text"])))
    if not rows:
        rows.append('<p class="muted">No tweets yet. Post one from the app.</p>')
    body = """
<div class="card">
  <h2>@%(sn)s's timeline</h2>
  <div class="muted">%(n)d tweet(s), newest first. This page refreshes every 5 seconds.</div>
  %(rows)s
</div>
<div class="card">
  <h2>Signing in from the app</h2>
  <p>Press the app's sign-in button: it fetches a request token and opens
  <code class="inline">/oauth/authorize?oauth_token=&hellip;</code> in this browser.
  Sign in there as <b>%(sn)s</b> with the password <b>%(pw)s</b>, then type the
  7-digit PIN shown into the app.</p>
  <p class="muted">Application: %(app)s (consumer key <code class="inline">%(ck)s</code>).
  Clients reach this service through it as an HTTP proxy
  (<code class="inline">127.0.0.1:%(port)d</code>) or directly at
  <code class="inline">https://localhost:%(port)d/</code>.</p>
</div>
""" % {"sn": escape(creds["screen_name"]), "pw": escape(creds["password"]),
       "n": len(tweets), "rows": "\n".join(rows), "app": escape(creds["app_name"]),
       "ck": escape(creds["consumer_key"]), "port": port}
    return page("@%s - Trackpost sandbox" % creds["screen_name"], body, refresh=5)
