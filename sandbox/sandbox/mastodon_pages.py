"""The HTML pages of the sandbox's Mastodon servers: signing in, authorizing an app, the code for
an out-of-band app, and the test user's public timeline."""

from html import escape

from .pages import page

SCOPE_WORDS = {
    "profile": "Read only your account's basic information",
    "read": "Read all your account's data",
    "read:accounts": "See accounts information",
    "write": "Modify all your account's data",
    "write:statuses": "Publish posts",
}


def _hidden(fields):
    return "\n".join('<input type="hidden" name="%s" value="%s">' % (escape(k), escape(v))
                     for k, v in fields)


def sign_in(host, authenticity_token, error=None, email=""):
    alert = '<p class="muted" style="color:#e0245e"><b>%s</b></p>' % escape(error) if error else ""
    body = """
<div class="card">
  <h2>Log in to %(host)s</h2>
  %(alert)s
  <form method="post" action="/auth/sign_in" class="simple_form new_user" id="new_user">
    <input type="hidden" name="authenticity_token" value="%(at)s">
    <label for="user_email">E-mail address</label>
    <input id="user_email" type="text" name="user[email]" value="%(email)s" autocomplete="username" autofocus>
    <label for="user_password">Password</label>
    <input id="user_password" type="password" name="user[password]" autocomplete="current-password">
    <button type="submit" name="button">Log in</button>
  </form>
</div>
<p class="muted">This is a local test server. No data leaves this machine.</p>
""" % {"host": escape(host), "alert": alert, "at": escape(authenticity_token),
       "email": escape(email)}
    return page("Log in - " + host, body)


def authorize(app_name, scopes, fields, authenticity_token):
    items = "".join("<li>%s <span class=\"muted\">(%s)</span></li>" % (
        escape(SCOPE_WORDS.get(s, s)), escape(s)) for s in scopes)
    body = """
<div class="card">
  <div class="app"><div class="icon">%(initial)s</div>
    <div><h2>Authorization required</h2>
    <div class="muted"><b>%(app)s</b> would like permission to access your account.
    It is a third-party application. If you do not trust it, then you should not authorize it.</div></div></div>
  <ul class="perm">%(items)s</ul>
  <form method="post" action="/oauth/authorize" class="oauth-authorize">
    <input type="hidden" name="authenticity_token" value="%(at)s">
    %(hidden)s
    <button type="submit">Authorize</button>
  </form>
  <form method="post" action="/oauth/authorize" class="oauth-deny">
    <input type="hidden" name="_method" value="delete">
    <input type="hidden" name="authenticity_token" value="%(at)s">
    %(hidden)s
    <button type="submit" style="background:#e0245e">Deny</button>
  </form>
</div>
""" % {"initial": escape(app_name[:1].upper()), "app": escape(app_name), "items": items,
       "at": escape(authenticity_token), "hidden": _hidden(fields)}
    return page("Authorize " + app_name, body)


def code(value):
    body = """
<div class="card pin">
  <h2>Authorization code</h2>
  <p>Copy this authorization code and paste it to the application.</p>
  <input class="oauth-code" readonly type="text" value="%s">
</div>
""" % escape(value)
    return page("Authorization code", body)


def oauth_error(description):
    body = ('<div class="card error"><h2>An error has occurred</h2><pre class="muted">%s</pre>'
            '</div>' % escape(description))
    return page("An error has occurred", body)


def timeline(host, display_name, username, statuses):
    rows = ['<div class="tweet"><span class="who">%s</span> '
            '<span class="muted">@%s@%s &middot; %s &middot; %s</span>'
            '<div class="text">%s</div></div>' % (
                escape(display_name), escape(username), escape(host),
                escape(s["created_at"]), escape(s["visibility"]), s["content"])
            for s in statuses]
    if not rows:
        rows.append('<p class="muted">No posts yet. Post one from the app.</p>')
    body = """
<div class="card">
  <h2>%(name)s <span class="muted">@%(user)s@%(host)s</span></h2>
  <div class="muted">%(n)d post(s), newest first. This page refreshes every 5 seconds.</div>
  %(rows)s
</div>
""" % {"name": escape(display_name), "user": escape(username), "host": escape(host),
       "n": len(statuses), "rows": "\n".join(rows)}
    return page("%s (@%s@%s)" % (display_name, username, host), body, refresh=5)
