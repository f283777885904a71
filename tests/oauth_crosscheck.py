#!/usr/bin/python3
"""Recomputes OAuth 1.0a HMAC-SHA1 signatures with oauthlib, independently of the C++ signer.

Reads a JSON array of requests on stdin: {method, url, body, header, consumer_secret,
token_secret}, where header is the whole "Authorization: OAuth ..." line. Prints a JSON array
of {expected, got} with the signature oauthlib computes and the one the header carries.
"""
import json
import sys

try:
    from oauthlib.oauth1.rfc5849 import signature, utils
except ImportError:
    print("python3-oauthlib is not installed", file=sys.stderr)
    sys.exit(77)

PREFIX = "Authorization: "


def check(request):
    header = request["header"]
    assert header.startswith(PREFIX), header
    headers = {"Authorization": header[len(PREFIX):]}
    url = request["url"]
    query = url.split("?", 1)[1] if "?" in url else ""
    body = request["body"] or None
    params = signature.collect_parameters(uri_query=query, body=body, headers=headers)
    base = signature.signature_base_string(
        request["method"], signature.base_string_uri(url), signature.normalize_parameters(params))
    expected = signature.sign_hmac_sha1(base, request["consumer_secret"], request["token_secret"])
    items = dict(utils.parse_authorization_header(headers["Authorization"]))
    got = utils.unescape(items["oauth_signature"])
    return {"expected": expected, "got": got}


def main():
    requests = json.load(sys.stdin)
    json.dump([check(r) for r in requests], sys.stdout)


if __name__ == "__main__":
    main()
