#ifndef TRACKPOST_WEBCLIENT_H
#define TRACKPOST_WEBCLIENT_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One HTTPS request and its answer, for clients of networks that take plain requests with a
// bearer token; knows nothing of any network.

struct WebRequest {
    std::string method = "GET";                                // GET, POST, DELETE
    std::string url;                                           // https://host/path?query
    std::vector<std::pair<std::string, std::string>> headers;  // extra fields, e.g. Authorization
    std::string contentType;                                   // empty: no body
    std::string body;
};

struct WebAnswer {
    // An answer came whole; false: no connection, reset, time-out, cut short, aborted, refused
    // before sending.
    bool carriedOut = false;
    long status = 0;  // HTTP status, 0 when not carried out
    std::string body;
    std::string error;             // why it was not carried out (libcurl's message mostly)
    std::int64_t dateSeconds = 0;  // the answer's Date header, epoch seconds
    bool hasDate = false;
    // The fields of this answer only (never a proxy's), names lower-cased, values trimmed.
    std::vector<std::pair<std::string, std::string>> headers;

    // A field by name in any case; the last of a repeated name. False when the answer had none.
    bool header(std::string_view name, std::string& value) const;
};

// Requests over one libcurl handle, so that a connection is kept alive between them. TLS peer and
// host are always verified, only https URLs are fetched, redirects are not followed.
class WebClient {
  public:
    WebClient();
    ~WebClient();
    WebClient(const WebClient&) = delete;
    WebClient& operator=(const WebClient&) = delete;

    // "127.0.0.1:8443"; empty: none, not even the environment's.
    void setProxy(std::string hostPort);
    void setCaFile(std::string path);  // empty: the system's trust store
    // A transfer that moves no byte for this long fails (at least 1 s), from its connection on.
    void setStallLimit(long seconds);
    long stallLimit() const { return stallLimit_; }

    static constexpr long STALL_LIMIT_SECONDS = 30;
    static constexpr long CONNECT_TIMEOUT_SECONDS = 15;
    static constexpr std::size_t MAX_BODY_BYTES = 4 * 1024 * 1024;  // a longer answer fails
    static constexpr std::size_t MAX_HEADER_BYTES = 64 * 1024;      // so do longer fields

    // One request; one thread at a time.
    WebAnswer perform(const WebRequest& request);

    // From any thread: the transfer under way ends at once, not carried out, and so does every
    // later one until allowTransfers(). For an owner that must stop without waiting out a stall.
    void abortTransfers();
    void allowTransfers();

  private:
    struct Transfer;
    std::unique_ptr<Transfer> transfer_;
    std::string proxy_;
    std::string caFile_;
    long stallLimit_ = STALL_LIMIT_SECONDS;
    std::atomic<bool> aborted_{false};
};

// Form and query encoding: name=value pairs joined by '&', every byte but the unreserved ones of
// RFC 3986 (letters, digits, "-._~") percent-encoded, a blank as %20.
std::string formEncode(const std::vector<std::pair<std::string, std::string>>& fields);

// A plain host name, optionally with a port: letters, digits, '-', '.', one ':' before digits.
// What a client puts between "https://" and the path, so that no typed name can add a path, a
// user or a second header.
bool isServerName(std::string_view host);

#endif
