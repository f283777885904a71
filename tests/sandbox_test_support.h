#ifndef TRACKPOST_SANDBOX_TEST_SUPPORT_H
#define TRACKPOST_SANDBOX_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "SandboxService.h"
#include "twitterclient.h"

// One sandbox per test process, started on first use.
inline SandboxService& sandbox() {
    static SandboxService service;
    static const bool started = service.start();
    EXPECT_TRUE(started) << service.error();
    return service;
}

// A second sandbox that serves an account without v1.1 access: every v1.1 call is refused.
inline SandboxService& v2OnlySandbox() {
    static SandboxService service({"--access", "v2-only"});
    static const bool started = service.start();
    EXPECT_TRUE(started) << service.error();
    return service;
}

// The requests the sandbox received, test endpoints and tunnels left out.
inline nlohmann::json serviceRequests(const SandboxService& service = sandbox()) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& entry : service.log())
        if (entry.at("method") != "CONNECT") out.push_back(entry);
    return out;
}

// The texts of the stored tweets, oldest first.
inline std::vector<std::string> timelineTexts(const SandboxService& service = sandbox()) {
    std::vector<std::string> out;
    for (const auto& t : service.timeline()) out.push_back(t.at("text"));
    return out;
}

// The user's browser: signs in on the sandbox's authorize page and reads the PIN it shows.
inline std::string approveInBrowser(const std::string& url,
                                    const SandboxService& service = sandbox()) {
    twitterClient browser;
    service.configure(browser, false);
    browser.setTwitterUsername(SandboxService::credentials().at("screen_name"));
    browser.setTwitterPassword(SandboxService::credentials().at("password"));
    std::string pin;
    if (browser.oAuthHandlePIN(url)) browser.getOAuth().getOAuthPin(pin);
    return pin;
}

// The plug-in's kept login as the host keeps it: a token's key in the first half of the block, its
// secret in the second, each NUL-terminated.
inline constexpr std::size_t ACCESS_BLOCK_SIZE = 256;

inline std::string accessBlock(const std::string& key, const std::string& secret) {
    std::string block(ACCESS_BLOCK_SIZE, '\0');
    block.replace(0, key.size(), key);
    block.replace(ACCESS_BLOCK_SIZE / 2, secret.size(), secret);
    return block;
}

inline std::string preIssuedBlock() {
    const auto& creds = SandboxService::credentials();
    return accessBlock(creds.at("access_token"), creds.at("access_token_secret"));
}

// A loopback port with nothing listening on it.
inline int closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

#endif
