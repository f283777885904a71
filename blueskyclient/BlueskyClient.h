#ifndef TRACKPOST_BLUESKYCLIENT_H
#define TRACKPOST_BLUESKYCLIENT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "WebClient.h"

// The XRPC calls of a Bluesky server that a poster needs: a session made from an app password,
// refreshed and deleted, and a post written under a key of our own. Each returns the server's
// answer as it came; the functions below read the ones that matter and build what is sent.

struct BlueskySession {
    std::string did, handle, accessJwt, refreshJwt;
    std::string pds;  // "host[:port]" where the account's records are written
};

class BlueskyClient {
  public:
    explicit BlueskyClient(WebClient& web) : web_(web) {}

    // Where sessions are made for accounts hosted by Bluesky itself.
    static constexpr char ENTRYWAY[] = "bsky.social";

    // Each call goes to https://SERVER/xrpc/...; a server that is not a plain host[:port] makes
    // it fail unsent.

    // com.atproto.server.createSession: identifier a handle, DID or e-mail address.
    WebAnswer createSession(const std::string& server, const std::string& identifier,
                            const std::string& password);
    // com.atproto.server.refreshSession: new tokens for the refresh token, which dies with it.
    WebAnswer refreshSession(const std::string& server, const std::string& refreshJwt);
    // com.atproto.server.deleteSession: both of the session's tokens die.
    WebAnswer deleteSession(const std::string& server, const std::string& refreshJwt);
    // com.atproto.repo.putRecord into app.bsky.feed.post. A second put under the same key with
    // the same record stores nothing new, so a retry after a lost answer is safe. A record that
    // is not a JSON object fails unsent.
    WebAnswer putRecord(const std::string& server, const std::string& accessJwt,
                        const std::string& repo, const std::string& rkey,
                        const std::string& recordJson);

  private:
    WebAnswer post(const std::string& server, std::string_view nsid, const std::string& bearer,
                   std::string body);

    WebClient& web_;
};

// Reading answers (pure; false on anything unexpected, never throws).

// A session's DID, handle and both tokens; its PDS from the didDoc's #atproto_pds service when
// that is an https endpoint on a plain host[:port], else `server`, the one that answered.
bool parseSession(std::string_view body, const std::string& server, BlueskySession& session);

struct BlueskyError {
    std::string error, message;
};
// An XRPC error's name and text; each empty when the body has none.
BlueskyError parseError(std::string_view body);

// A span of a post's text, in UTF-8 bytes [byteStart, byteEnd), shown as a link to `value` or
// as the tag `value` (without its '#').
struct RecordFacet {
    std::size_t byteStart, byteEnd;
    enum class Kind { Link, Tag } kind;
    std::string value;
};

// An app.bsky.feed.post record as JSON: $type, text, createdAt, and langs and facets when there
// are any. Bytes that are not UTF-8 are replaced, never thrown on.
std::string postRecord(const std::string& text, const std::string& createdAt,
                       const std::vector<std::string>& langs,
                       const std::vector<RecordFacet>& facets);

// Milliseconds since the epoch as the records' datetime, "2026-12-11T07:05:00.123Z".
std::string rfc3339Millis(std::int64_t wallMillis);

// A record key of the TID kind: 53 bits of microseconds since the epoch and a 10-bit clock id
// (higher bits of either dropped) as 13 characters of base32-sortable, so that later keys sort
// after earlier ones.
std::string newTid(std::uint64_t micros, std::uint32_t clockId);

// An app password as the servers issue them: four groups of four lower-case letters or digits
// joined by '-'. An account's own password is anything else.
bool isAppPassword(std::string_view text);

#endif
