#ifndef TRACKPOST_NETWORKS_BLUESKY_KEPT_H
#define TRACKPOST_NETWORKS_BLUESKY_KEPT_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What the host keeps of a Bluesky login between runs: the handle, the account's DID and PDS,
// and the app password that sessions are made from at load (sessions' tokens rotate and are
// kept in memory only).
struct BlueskyKept {
    std::string handle;
    std::string did;
    std::string pds;
    std::string appPassword;

    bool loginKept() const { return !handle.empty() && !appPassword.empty(); }

    // The block's text; empty when it would not fit in `capacity` bytes with its NUL.
    std::string toBlock(std::size_t capacity) const;
    // What a block holds; nothing kept when it is empty or not one of ours.
    static BlueskyKept fromBlock(std::string_view block);
};

// The handle in what the user typed: blanks and a leading "@" dropped, lower case. Nothing when
// what is left is not a domain name, as every handle is.
std::optional<std::string> blueskyHandle(std::string_view typed);

#endif
