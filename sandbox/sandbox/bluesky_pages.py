"""The public page of the sandbox's Bluesky account: its posts, newest first, with the links,
tags and mentions of their facets shown as links."""

from html import escape

from .bluesky_store import LINK, MENTION, TAG
from .pages import page


def _href(feature):
    kind = feature.get("$type")
    if kind == LINK:
        return feature["uri"]
    if kind == TAG:
        return "/hashtag/" + feature["tag"]
    if kind == MENTION:
        return "/profile/" + feature["did"]
    return None


def rich_text(text, facets):
    """The text as HTML, each facet's bytes made a link; overlapping facets after the first are
    shown as plain text, as the app shows them."""
    data = text.encode("utf-8", "surrogatepass")
    parts, at = [], 0
    for facet in sorted(facets or [], key=lambda f: f["index"]["byteStart"]):
        start, end = facet["index"]["byteStart"], facet["index"]["byteEnd"]
        href = next((h for h in map(_href, facet["features"]) if h), None)
        if start < at or not href:
            continue
        parts.append(escape(data[at:start].decode("utf-8", "replace")))
        parts.append('<a href="%s" rel="nofollow">%s</a>' % (
            escape(href), escape(data[start:end].decode("utf-8", "replace"))))
        at = end
    parts.append(escape(data[at:].decode("utf-8", "replace")))
    return "".join(parts)


def timeline(display_name, handle, posts):
    rows = ['<div class="tweet"><span class="who">%s</span> '
            '<span class="muted">@%s &middot; %s</span>'
            '<div class="text">%s</div></div>' % (
                escape(display_name), escape(handle), escape(p["createdAt"] or ""),
                rich_text(p["text"] or "", p["facets"]))
            for p in reversed(posts)]
    if not rows:
        rows.append('<p class="muted">No posts yet. Post one from the app.</p>')
    body = """
<div class="card">
  <h2>%(name)s <span class="muted">@%(handle)s</span></h2>
  <div class="muted">%(n)d post(s), newest first. This page refreshes every 5 seconds.</div>
  %(rows)s
</div>
""" % {"name": escape(display_name), "handle": escape(handle), "n": len(posts),
       "rows": "\n".join(rows)}
    return page("%s (@%s)" % (display_name, handle), body, refresh=5)
