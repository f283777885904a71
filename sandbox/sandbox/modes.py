"""Checks of mode values that several services share."""


def check_rate_limit(limit, key):
    """A `rate_limit` value: null, or a whole number of posts in a window of seconds."""
    if limit is None:
        return
    if (not isinstance(limit, dict) or set(limit) != {"posts", "window"} or
            not all(isinstance(v, (int, float)) and not isinstance(v, bool) and v > 0
                    for v in limit.values()) or not isinstance(limit["posts"], int)):
        raise ValueError("%s must be null or {\"posts\": N, \"window\": SECONDS}" % key)
