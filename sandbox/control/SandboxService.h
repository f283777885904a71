#ifndef TRACKPOST_SANDBOX_SERVICE_H
#define TRACKPOST_SANDBOX_SERVICE_H

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

class twitterClient;

// Runs the sandbox service as a child process on a free loopback port, and talks to its test
// endpoints (request log, reset, faults) over plain HTTP.
class SandboxService {
  public:
    // options: more arguments for the service, such as {"--access", "v2-only"}.
    explicit SandboxService(std::vector<std::string> options = {}) : options_(std::move(options)) {}
    ~SandboxService();
    SandboxService(const SandboxService&) = delete;
    SandboxService& operator=(const SandboxService&) = delete;

    // Starts the service on `port` (0: a free one; the port of a stopped service starts it anew
    // where its clients look for it) and waits for it to listen; false with a reason in error().
    bool start(int port = 0);
    void stop();

    int port() const { return port_; }
    pid_t pid() const { return pid_; }  // -1 while not running
    const std::string& error() const { return error_; }
    static std::string caFile();
    // The registered application, its user and the pre-issued access token.
    static const nlohmann::json& credentials();

    // Points a client at the service: proxy, CA and the application's credentials; with
    // withToken, also the user's pre-issued access token.
    void configure(twitterClient& client, bool withToken = true) const;

    nlohmann::json log() const;
    // The stored tweets, oldest first: id, text, stored_at (seconds since the epoch).
    nlohmann::json timeline() const;
    // The statuses stored by a Mastodon server ("mastodon.social", "mastodon.example.org"),
    // oldest first: id, text, stored_at, idempotency_key, visibility, language.
    nlohmann::json timeline(const std::string& host) const;
    bool reset() const;
    bool queueFault(const nlohmann::json& fault) const;
    // Changes how the service treats the account until the next change or reset: keys
    // black_hole, clock_offset, rate_limit ({"posts", "window"} or null), account ("ok",
    // "credits-depleted", "suspended"), and mastodon ({"black_hole", "rate_limit", "account":
    // "ok" or "disabled"}, each key optional) for both Mastodon servers; see sandbox/README.md.
    bool setMode(const nlohmann::json& changes) const;

  private:
    nlohmann::json adminList(const std::string& path) const;
    bool adminRequest(const std::string& method, const std::string& path, const std::string& body,
                      std::string& response) const;

    std::vector<std::string> options_;
    pid_t pid_ = -1;
    int port_ = 0;
    std::string error_;
    std::string stdoutFile_;
};

#endif
