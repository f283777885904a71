#include "WebClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

const char ABORTED[] = "transfer aborted";
// The longest a wait for the network lasts before the loop looks at the abort flag again; an
// abort wakes the wait anyway, so this only bounds a wake-up that got lost.
constexpr int POLL_MS = 1000;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowerCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return out;
}

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

// A field that would end its line early could smuggle in fields or a request of its own.
bool breaksLine(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Why the request can't be sent as it is; empty when it can.
std::string requestProblem(const WebRequest& request) {
    if (request.method != "GET" && request.method != "POST" && request.method != "DELETE")
        return "method " + request.method + " is not supported";
    if (!request.body.empty() && request.contentType.empty()) return "a body needs a content type";
    if (!request.body.empty() && request.method == "GET") return "a GET carries no body";
    if (breaksLine(request.contentType)) return "line break in the content type";
    for (const auto& [name, value] : request.headers) {
        if (name.empty() || name.find(':') != std::string::npos || breaksLine(name) ||
            breaksLine(value))
            return "malformed header field " + name;
    }
    return "";
}

WebAnswer notCarriedOut(std::string why) {
    WebAnswer answer;
    answer.error = std::move(why);
    return answer;
}

}  // namespace

bool WebAnswer::header(std::string_view name, std::string& value) const {
    for (auto it = headers.rbegin(); it != headers.rend(); ++it) {
        if (!sameNameIgnoringCase(it->first, name)) continue;
        value = it->second;
        return true;
    }
    return false;
}

// The libcurl handles and what one transfer collects. The easy handle runs inside a multi handle
// of its own so that a wait for the network can be woken from another thread; the multi handle
// keeps the connections alive between requests.
struct WebClient::Transfer {
    CURL* easy = curl_easy_init();
    CURLM* multi = curl_multi_init();
    char error[CURL_ERROR_SIZE] = {};
    std::string body;
    std::vector<std::pair<std::string, std::string>> fields;
    std::size_t fieldBytes = 0;
    std::string overflow;  // set when the answer outgrew a bound
    // When a byte last moved either way, for the stall limit.
    std::chrono::steady_clock::time_point lastMoved;
    curl_off_t moved = 0;
    std::chrono::seconds stall{WebClient::STALL_LIMIT_SECONDS};

    Transfer() = default;
    ~Transfer() {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    void clear() {
        error[0] = '\0';
        body.clear();
        fields.clear();
        fieldBytes = 0;
        overflow.clear();
    }

    static int onProgress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
        Transfer& t = *static_cast<Transfer*>(self);
        if (down + up != t.moved) {
            t.moved = down + up;
            t.lastMoved = std::chrono::steady_clock::now();
        }
        return 0;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        Transfer& t = *static_cast<Transfer*>(self);
        const size_t n = size * count;
        t.lastMoved = std::chrono::steady_clock::now();
        if (n > MAX_BODY_BYTES - t.body.size()) {
            t.overflow = "answer longer than " + std::to_string(MAX_BODY_BYTES) + " bytes";
            return 0;  // libcurl ends the transfer with a write error
        }
        t.body.append(data, n);
        return n;
    }

    static size_t onField(char* data, size_t size, size_t count, void* self) {
        Transfer& t = *static_cast<Transfer*>(self);
        const size_t n = size * count;
        t.lastMoved = std::chrono::steady_clock::now();
        const std::string_view line(data, n);
        // Each answer opens with its status line: fields of an interim 1xx answer before it are
        // not this answer's. A proxy's CONNECT answer never gets here (SUPPRESS_CONNECT_HEADERS).
        if (line.substr(0, 5) == "HTTP/") {
            t.fields.clear();
            t.fieldBytes = 0;
            return n;
        }
        t.fieldBytes += n;
        if (t.fieldBytes > MAX_HEADER_BYTES) {
            t.overflow = "answer fields longer than " + std::to_string(MAX_HEADER_BYTES) + " bytes";
            return 0;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return n;  // the blank end line
        t.fields.emplace_back(lowerCase(trimmed(line.substr(0, colon))),
                              std::string(trimmed(line.substr(colon + 1))));
        return n;
    }

    void configure(const WebRequest& request, curl_slist* headerList, const std::string& proxy,
                   const std::string& caFile, long stallLimit) {
        // A reset handle keeps its live connections and caches, and nothing of the last request.
        curl_easy_reset(easy);
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!caFile.empty()) curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
        // Empty switches off the proxies of the environment as well.
        curl_easy_setopt(easy, CURLOPT_PROXY, proxy.c_str());
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        // No signals: the host runs us on threads of its own.
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_SECONDS);
        // The stall limit is kept by run(): libcurl's own low-speed check averages over its last
        // seconds, so bytes that came just before a stall would stretch it by several seconds.
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Transfer::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
        stall = std::chrono::seconds(stallLimit);
        curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Trackpost");
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Transfer::onField);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headerList);

        if (request.method == "POST") curl_easy_setopt(easy, CURLOPT_POST, 1L);
        if (request.method == "DELETE") curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, "DELETE");
        // A POST always has a body, an empty one too: without it libcurl would read stdin.
        if (request.method == "POST" || !request.body.empty()) {
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request.body.c_str());
        }
    }

    // Runs the configured transfer to its end, until `aborted`, or until no byte has moved for
    // the stall limit (the connection and TLS handshake included).
    CURLcode run(const std::atomic<bool>& aborted) {
        if (curl_multi_add_handle(multi, easy) != CURLM_OK) return CURLE_FAILED_INIT;
        CURLcode result = CURLE_FAILED_INIT;
        moved = 0;
        lastMoved = std::chrono::steady_clock::now();
        for (;;) {
            if (aborted) {
                result = CURLE_ABORTED_BY_CALLBACK;
                break;
            }
            if (std::chrono::steady_clock::now() - lastMoved >= stall) {
                result = CURLE_OPERATION_TIMEDOUT;
                std::snprintf(error, sizeof error,
                              "Operation too slow: nothing transferred the last %lld seconds",
                              static_cast<long long>(stall.count()));
                break;
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK) break;
            int queued = 0;
            bool done = false;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg != CURLMSG_DONE) continue;
                result = message->data.result;
                done = true;
            }
            if (done || running == 0) break;
            const auto untilStall = std::chrono::duration_cast<std::chrono::milliseconds>(
                lastMoved + stall - std::chrono::steady_clock::now());
            const int wait =
                static_cast<int>(std::clamp<std::int64_t>(untilStall.count() + 1, 1, POLL_MS));
            if (curl_multi_poll(multi, nullptr, 0, wait, nullptr) != CURLM_OK) break;
        }
        // Removing a transfer that is not done closes its connection.
        curl_multi_remove_handle(multi, easy);
        return result;
    }
};

WebClient::WebClient() : transfer_(std::make_unique<Transfer>()) {}

WebClient::~WebClient() = default;

void WebClient::setProxy(std::string hostPort) {
    proxy_ = std::move(hostPort);
}

void WebClient::setCaFile(std::string path) {
    caFile_ = std::move(path);
}

void WebClient::setStallLimit(long seconds) {
    stallLimit_ = std::max(seconds, 1L);
}

void WebClient::abortTransfers() {
    aborted_ = true;
    if (transfer_->multi) curl_multi_wakeup(transfer_->multi);
}

void WebClient::allowTransfers() {
    aborted_ = false;
}

namespace {

// The request's own fields, its content type, and none of libcurl's defaults that would change
// what is sent: no form content type on an empty POST, no "Expect: 100-continue" wait.
bool appendFields(const WebRequest& request, curl_slist*& list) {
    std::vector<std::string> lines;
    for (const auto& [name, value] : request.headers) lines.push_back(name + ": " + value);
    lines.push_back("Content-Type: " + request.contentType);
    if (request.contentType.empty()) lines.back() = "Content-Type:";
    lines.push_back("Expect:");
    for (const std::string& line : lines) {
        curl_slist* longer = curl_slist_append(list, line.c_str());
        if (!longer) return false;
        list = longer;
    }
    return true;
}

}  // namespace

WebAnswer WebClient::perform(const WebRequest& request) {
    Transfer& t = *transfer_;
    if (!t.easy || !t.multi) return notCarriedOut("libcurl could not be started");
    if (aborted_) return notCarriedOut(ABORTED);
    const std::string problem = requestProblem(request);
    if (!problem.empty()) return notCarriedOut(problem);

    curl_slist* headerList = nullptr;
    if (!appendFields(request, headerList)) {
        curl_slist_free_all(headerList);
        return notCarriedOut("out of memory");
    }
    t.clear();
    t.configure(request, headerList, proxy_, caFile_, stallLimit_);
    const CURLcode result = t.run(aborted_);
    // The handle must never point at a freed list, nor at this request's strings.
    curl_easy_setopt(t.easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_slist_free_all(headerList);

    if (result != CURLE_OK) {
        if (result == CURLE_ABORTED_BY_CALLBACK) return notCarriedOut(ABORTED);
        if (!t.overflow.empty()) return notCarriedOut(t.overflow);
        return notCarriedOut(t.error[0] ? t.error : curl_easy_strerror(result));
    }
    WebAnswer answer;
    answer.carriedOut = true;
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &answer.status);
    answer.body = std::move(t.body);
    answer.headers = std::move(t.fields);
    std::string date;
    if (answer.header("date", date)) {
        const time_t seconds = curl_getdate(date.c_str(), nullptr);
        answer.hasDate = seconds != static_cast<time_t>(-1);
        if (answer.hasDate) answer.dateSeconds = static_cast<std::int64_t>(seconds);
    }
    t.clear();
    return answer;
}

std::string formEncode(const std::vector<std::pair<std::string, std::string>>& fields) {
    static const char hex[] = "0123456789ABCDEF";
    const auto encode = [](std::string& out, const std::string& text) {
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
                byte == '~') {
                out += c;
            } else {
                out += '%';
                out += hex[byte >> 4];
                out += hex[byte & 15];
            }
        }
    };
    std::string out;
    for (const auto& [name, value] : fields) {
        if (!out.empty()) out += '&';
        encode(out, name);
        out += '=';
        encode(out, value);
    }
    return out;
}

bool isServerName(std::string_view host) {
    const size_t colon = host.find(':');
    const std::string_view name = host.substr(0, colon);
    if (name.empty() || name.size() > 253 || name.front() == '.' || name.front() == '-')
        return false;
    for (const char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok) return false;
    }
    if (colon == std::string_view::npos) return true;
    const std::string_view port = host.substr(colon + 1);
    if (port.empty() || port.size() > 5) return false;
    for (const char c : port)
        if (c < '0' || c > '9') return false;
    return true;
}
