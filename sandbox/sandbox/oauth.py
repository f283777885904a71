"""OAuth 1.0a (RFC 5849) request verification, HMAC-SHA1 only.

The base string and signature come from oauthlib so that the check is
independent of any client-side signer it is meant to test.
"""

import hmac
import types

from oauthlib.oauth1.rfc5849 import signature, utils

from . import clock

TIMESTAMP_WINDOW = 300
FORM_TYPE = "application/x-www-form-urlencoded"


class AuthError(Exception):
    def __init__(self, code, message, status=401):
        super().__init__(message)
        self.code = code
        self.message = message
        self.status = status


def could_not_auth():
    return AuthError(32, "Could not authenticate you.")


def bad_token():
    return AuthError(89, "Invalid or expired token.")


def header_params(req):
    """The Authorization header's parameters (realm dropped, values
    unescaped), or None when absent or unparsable."""
    hdr = req.header("Authorization")
    if not hdr:
        return None
    try:
        pairs = utils.parse_authorization_header(hdr)
    except (ValueError, IndexError):
        return None
    return {k: utils.unescape(v) for k, v in pairs if k != "realm"}


def signed_body(req):
    # RFC 5849 3.4.1.3.1: only a form-encoded entity body is signed.
    if req.media_type() != FORM_TYPE or not req.body:
        return ""
    try:
        return req.body.decode("utf-8")
    except UnicodeDecodeError:
        return ""


def verify(req, store, token_kind):
    """Checks the request's signature.

    token_kind: "access" or "request" when that kind of token is required,
    None when a token is optional (the request-token step).
    Returns (params, token record or None); raises AuthError.
    """
    params = header_params(req)
    if params is None:
        raise could_not_auth()
    for name in ("oauth_consumer_key", "oauth_signature",
                 "oauth_signature_method", "oauth_timestamp", "oauth_nonce"):
        if not params.get(name):
            raise could_not_auth()
    creds = store.creds
    if not hmac.compare_digest(params["oauth_consumer_key"].encode(),
                               creds["consumer_key"].encode()):
        raise could_not_auth()
    if params["oauth_signature_method"] != "HMAC-SHA1":
        raise could_not_auth()
    if params.get("oauth_version", "1.0") != "1.0":
        raise could_not_auth()

    token_key = params.get("oauth_token", "")
    tok = None
    with store.lock:
        if token_key:
            tok = store.tokens.get(token_key)
            if tok is None or tok["revoked"] or tok.get("consumed"):
                raise bad_token()
            if token_kind and tok["kind"] != token_kind:
                raise bad_token()
        elif token_kind:
            raise bad_token()
        token_secret = tok["secret"] if tok else ""

    ts = params["oauth_timestamp"]
    now = clock.now()
    if not ts.isdigit() or abs(now - int(ts)) > TIMESTAMP_WINDOW:
        raise AuthError(135, "Timestamp out of bounds.")

    host = (req.header("Host") or "api.twitter.com").strip().lower()
    try:
        collected = signature.collect_parameters(
            uri_query=req.query, body=signed_body(req),
            headers={"Authorization": req.header("Authorization")})
        base_uri = signature.base_string_uri("https://" + host + req.route)
        base = signature.signature_base_string(
            req.method, base_uri, signature.normalize_parameters(collected))
    except ValueError:
        raise could_not_auth()
    secrets = types.SimpleNamespace(client_secret=creds["consumer_secret"],
                                    resource_owner_secret=token_secret)
    expected = signature.sign_hmac_sha1_with_client(base, secrets)
    if not hmac.compare_digest(expected.encode(),
                               params["oauth_signature"].encode()):
        raise could_not_auth()

    if not store.use_nonce(params["oauth_consumer_key"], token_key, ts,
                           params["oauth_nonce"], now):
        raise could_not_auth()
    return params, tok
