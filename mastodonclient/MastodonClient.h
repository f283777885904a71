#ifndef TRACKPOST_MASTODONCLIENT_H
#define TRACKPOST_MASTODONCLIENT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "WebClient.h"

// The calls of a Mastodon server's REST API and OAuth flow that a poster needs. Each returns the
// server's answer as it came; the parse functions below read the ones that matter.

struct MastodonApp {
    std::string clientId, clientSecret;
};

struct MastodonTextLimit {
    std::size_t maxCharacters = 500;
    std::size_t charactersPerUrl = 23;
};

class MastodonClient {
  public:
    explicit MastodonClient(WebClient& web) : web_(web) {}

    // "mastodon.social" or "host:port"; calls go to https://HOST/. A name that is not a plain
    // host makes every call fail unsent.
    void setServer(std::string host) { server_ = std::move(host); }
    const std::string& server() const { return server_; }
    // The Bearer token for the calls that need one; empty: none sent.
    void setToken(std::string token) { token_ = std::move(token); }

    // POST /api/v1/apps with the out-of-band redirect.
    WebAnswer registerApp(const std::string& clientName, const std::string& scopes,
                          const std::string& website);
    // GET /.well-known/oauth-authorization-server (404 on servers before 4.3).
    WebAnswer authorizationServerMetadata();
    // The page the user approves the app on; it then shows the code to type back.
    std::string authorizeUrl(const MastodonApp& app, const std::string& scopes) const;
    // POST /oauth/token for the code shown on the authorize page.
    WebAnswer exchangeCode(const MastodonApp& app, const std::string& code);
    // GET /api/v1/accounts/verify_credentials with the token.
    WebAnswer verifyCredentials();
    // GET /api/v2/instance, which needs no token.
    WebAnswer instance();
    // POST /api/v1/statuses. The server keeps the key for an hour: a second post with it gives
    // back the first status instead of a new one, so a retry after a lost answer is safe.
    WebAnswer postStatus(const std::string& text, const std::string& idempotencyKey,
                         const std::string& language = "");
    // POST /oauth/revoke.
    WebAnswer revoke(const MastodonApp& app, const std::string& token);

    static constexpr char OOB_REDIRECT[] = "urn:ietf:wg:oauth:2.0:oob";

  private:
    std::string url(std::string_view path) const;
    WebAnswer get(std::string_view path, bool withToken);
    WebAnswer postForm(std::string_view path,
                       const std::vector<std::pair<std::string, std::string>>& fields,
                       bool withToken,
                       std::vector<std::pair<std::string, std::string>> extraHeaders = {});
    WebAnswer send(WebRequest request, bool withToken);

    WebClient& web_;
    std::string server_;
    std::string token_;
};

// Reading answers (pure; false or empty on anything unexpected, never throws).
bool parseApp(std::string_view body, MastodonApp& app);
bool parseAccessToken(std::string_view body, std::string& token);
bool parseAccountName(std::string_view body, std::string& username);   // "username"
bool parseTextLimit(std::string_view body, MastodonTextLimit& limit);  // v2 instance configuration
bool serverOffersProfileScope(std::string_view metadataBody);  // "profile" in scopes_supported
// "error", with ": " and "error_description" when there is one; else "".
std::string answerError(std::string_view body);
// An RFC 3339 time such as X-RateLimit-Reset's "2026-12-11T07:05:00.123456Z" or one with a
// +hh:mm offset, as milliseconds since the epoch (fractions past the millisecond cut off); false
// when unreadable or out of range.
bool parseIsoTimeMillis(std::string_view text, std::int64_t& millis);

#endif
