#ifndef TRACKPOST_NETWORKS_MASTODON_KEPT_H
#define TRACKPOST_NETWORKS_MASTODON_KEPT_H

#include <optional>
#include <string>
#include <string_view>

// What the host keeps of a Mastodon login between runs: the server, the plug-in's registration
// there, the access token and the account's name. Kept as a JSON object in a block of the host.
struct MastodonKept {
    std::string server;
    std::string clientId;
    std::string clientSecret;
    std::string token;
    std::string account;

    bool registered() const { return !clientId.empty() && !clientSecret.empty(); }
    bool loginKept() const { return registered() && !token.empty(); }

    // The block's text; empty when it would not fit in `capacity` bytes with its NUL.
    std::string toBlock(std::size_t capacity) const;
    // What a block holds; nothing kept when it is empty or not one of ours.
    static MastodonKept fromBlock(std::string_view block);
};

// The server's host name in what the user typed: "mastodon.social", "https://mastodon.social/",
// "@dj@mastodon.social" all give "mastodon.social" (lower case). Nothing when it is not a host
// name.
std::optional<std::string> mastodonServer(std::string_view typed);

#endif
