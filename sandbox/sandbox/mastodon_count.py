"""A status's length as a Mastodon server counts it: extended grapheme clusters of the text in
which every http(s) link stands for 23 characters and every @user@domain for @user.

The link and mention patterns follow the server's own (its text library's link pattern with the
server's path rules, its mention pattern). One difference is known: the server accepts a link
only when its domain ends in a listed top-level domain; here any ending of two or more letters
(or xn--) does. Graphemes come from the regex module's \\X (Unicode 15.0, as the Ruby of 4.3's
images), not from the stdlib, which has no segmentation."""

import regex

URL_CHARS = 23
URL_PLACEHOLDER = "x" * URL_CHARS

# Characters outside the link grammar's punctuation, spaces and controls.
_DOMAIN_CHAR = r"[^\p{P}\p{S}\s\p{Cc}\p{Z}\uFFFE\uFEFF\uFFFF]"
_LABEL = r"(?:%(c)s(?:[_-]|%(c)s)*)?%(c)s" % {"c": _DOMAIN_CHAR}
_TLD = r"(?:xn--[0-9a-z]+|\p{L}{2,})(?![0-9a-z@+-])"
_PATH_CHAR = r"[^\s<>()?]"
_PARENS = r"\((?:%(g)s+|%(g)s*\(%(g)s+\)%(g)s*)\)" % {"g": _PATH_CHAR}
_PATH_END = r"""(?:[^\s()?!*"'「」<>;:=,.$%%\[\]~&|@]|%s)""" % _PARENS
_PATH = r"(?:%(g)s*(?:%(p)s%(g)s*)*%(e)s|%(g)s+/)" % {"g": _PATH_CHAR, "p": _PARENS,
                                                    "e": _PATH_END}
_UCHARS = ("\u00A0-\uD7FF\uF900-\uFDCF\uFDF0-\uFFEF\U00010000-\U0001FFFD\U00020000-\U0002FFFD"
           "\U00030000-\U0003FFFD\U000E1000-\U000EFFFD\U000F0000-\U0010FFFD")
_QUERY = r"\?[a-z0-9!?*'();:&=+$/%%#\[\]\-_.,~|@\^%(u)s]*[a-z0-9_&=#/\-%(u)s]" % {"u": _UCHARS}

URL_RE = regex.compile(
    r"(?:^|(?<=[^a-z0-9@＠$#＃\uFFFE\uFEFF\uFFFF]))"
    r"(https?://(?:%(l)s\.)+%(t)s(?::[0-9]+)?(?:/%(p)s*)?(?:%(q)s)?)" % {
        "l": _LABEL, "t": _TLD, "p": _PATH, "q": _QUERY},
    regex.IGNORECASE | regex.VERSION0)

MENTION_RE = regex.compile(
    r"(?<![=/\w])@(([a-z0-9_]+(?:[a-z0-9_.-]+[a-z0-9_])?)(?:@[\w.-]+\w)?)",
    regex.IGNORECASE)
# What may not follow a mention: another at sign, an accented Latin letter, or "://".
_NOT_AFTER_MENTION = regex.compile(
    r"[@＠\u00c0-\u00d6\u00d8-\u00f6\u00f8-\u00ff\u0100-\u024f\u0253\u0254\u0256\u0257\u0259"
    r"\u025b\u0263\u0268\u026f\u0272\u0289\u028b\u02bb\u0300-\u036f\u1e00-\u1eff]|://")


def _entities(text):
    """(start, end, replacement) of the links and mentions, overlapping ones dropped as the
    server drops them: sorted by start, each kept only when it begins after the last kept."""
    found = [(m.start(1), m.end(1), URL_PLACEHOLDER) for m in URL_RE.finditer(text)]
    for m in MENTION_RE.finditer(text):
        if not _NOT_AFTER_MENTION.match(text, m.end()):
            found.append((m.start(1) - 1, m.end(1), "@" + m.group(2)))
    kept = []
    for entity in sorted(found, key=lambda e: e[0]):
        if not kept or entity[0] >= kept[-1][1]:
            kept.append(entity)
    return kept


def countable_text(text):
    out, at = [], 0
    for start, end, replacement in _entities(text):
        out.append(text[at:start])
        out.append(replacement)
        at = end
    out.append(text[at:])
    return "".join(out)


def length(text):
    return len(regex.findall(r"\X", countable_text(text)))


def is_blank(text):
    return not text or text.isspace()
