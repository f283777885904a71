#ifndef TRACKPOST_SANDBOX_TEST_SUPPORT_H
#define TRACKPOST_SANDBOX_TEST_SUPPORT_H

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
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

// A browser reaching the services through the sandbox's proxy entrance with its CA: one libcurl
// handle with its cookie engine on, following redirects (a POST answered 302 is followed by a GET).
class SandboxBrowser {
  public:
    explicit SandboxBrowser(const SandboxService& service = sandbox())
        : curl_(curl_easy_init()),
          proxy_("127.0.0.1:" + std::to_string(service.port())),
          ca_(SandboxService::caFile()) {
        curl_easy_setopt(curl_, CURLOPT_PROXY, proxy_.c_str());
        curl_easy_setopt(curl_, CURLOPT_CAINFO, ca_.c_str());
        curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");
        curl_easy_setopt(curl_, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl_, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 30L);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, append);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &page_);
    }
    ~SandboxBrowser() { curl_easy_cleanup(curl_); }
    SandboxBrowser(const SandboxBrowser&) = delete;
    SandboxBrowser& operator=(const SandboxBrowser&) = delete;

    // The status of the page reached from url (0 when nothing came), its text in page(); with
    // fields, a form POST of them.
    long open(const std::string& url,
              const std::vector<std::pair<std::string, std::string>>& fields = {}) {
        page_.clear();
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        if (fields.empty()) {
            curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
        } else {
            std::string form;
            for (const auto& [name, value] : fields)
                form += (form.empty() ? "" : "&") + escape(name) + "=" + escape(value);
            curl_easy_setopt(curl_, CURLOPT_COPYPOSTFIELDS, form.c_str());
        }
        long status = 0;
        if (curl_easy_perform(curl_) != CURLE_OK) return 0;
        curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
        return status;
    }
    const std::string& page() const { return page_; }

    // The unescaped text after `marker` up to the next '"', looked for from `from`; "" if absent.
    std::string attribute(const std::string& marker, std::size_t from = 0) const {
        const std::size_t start = page_.find(marker, from);
        if (start == std::string::npos) return "";
        const std::size_t begin = start + marker.size(), end = page_.find('"', begin);
        return end == std::string::npos ? "" : unescape(page_.substr(begin, end - begin));
    }

    // The hidden fields of the first form whose class is formClass, in order.
    std::vector<std::pair<std::string, std::string>> hiddenFields(
        const std::string& formClass) const {
        static const std::string input = "<input type=\"hidden\" name=\"";
        std::vector<std::pair<std::string, std::string>> out;
        std::size_t at = page_.find("class=\"" + formClass + "\"");
        const std::size_t end = page_.find("</form>", at);
        while (at != std::string::npos && (at = page_.find(input, at)) < end) {
            at += input.size();
            out.emplace_back(attribute("", at), attribute("value=\"", at));
        }
        return out;
    }

  private:
    static size_t append(char* data, size_t size, size_t count, void* out) {
        static_cast<std::string*>(out)->append(data, size * count);
        return size * count;
    }
    std::string escape(const std::string& text) const {
        char* escaped = curl_easy_escape(curl_, text.c_str(), static_cast<int>(text.size()));
        std::string out = escaped ? escaped : "";
        curl_free(escaped);
        return out;
    }
    // The entities the sandbox's pages escape, in one pass so that "&amp;lt;" stays "&lt;".
    static std::string unescape(const std::string& text) {
        static const std::pair<std::string, char> entities[] = {
            {"&quot;", '"'}, {"&#x27;", '\''}, {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}};
        std::string out;
        for (std::size_t at = 0; at < text.size();) {
            const auto* found = std::find_if(
                std::begin(entities), std::end(entities),
                [&](const auto& e) { return text.compare(at, e.first.size(), e.first) == 0; });
            if (found == std::end(entities)) {
                out += text[at++];
            } else {
                out += found->second;
                at += found->first.size();
            }
        }
        return out;
    }

    CURL* curl_;
    std::string proxy_, ca_, page_;
};

// The user's browser on a Mastodon server's pages: opens the authorize address, signs in as the
// test user, presses Authorize and reads the code the last page shows; "" when a step fails.
inline std::string approveMastodonInBrowser(const std::string& url,
                                            const SandboxService& service = sandbox()) {
    const auto& user = SandboxService::credentials().at("mastodon");
    const std::size_t hostEnd = url.find('/', url.find("://") + 3);
    if (url.compare(0, 8, "https://") != 0 || hostEnd == std::string::npos) return "";
    const std::string origin = url.substr(0, hostEnd);
    SandboxBrowser browser(service);
    if (browser.open(url) != 200) return "";
    const std::string token = browser.attribute("name=\"authenticity_token\" value=\"");
    if (token.empty() ||
        browser.open(origin + "/auth/sign_in",
                     {{"authenticity_token", token},
                      {"user[email]", user.at("email").get<std::string>()},
                      {"user[password]", user.at("password").get<std::string>()}}) != 200)
        return "";
    const auto fields = browser.hiddenFields("oauth-authorize");
    if (fields.empty() || browser.open(origin + "/oauth/authorize", fields) != 200) return "";
    return browser.attribute("<input class=\"oauth-code\" readonly type=\"text\" value=\"");
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

// The size of a kept block of each network beside X, which holds a JSON object.
inline constexpr std::size_t NETWORK_ACCESS_BLOCK_SIZE = 1024;

// The plug-in's kept Mastodon login with the sandbox's pre-registered app and pre-issued token, as
// the host keeps it.

inline std::string preIssuedMastodonBlock() {
    const auto& m = SandboxService::credentials().at("mastodon");
    const nlohmann::json kept = {{"server", "mastodon.social"},
                                 {"client_id", m.at("client_id")},
                                 {"client_secret", m.at("client_secret")},
                                 {"token", m.at("access_token")},
                                 {"account", "djsandbox"}};
    std::string block(NETWORK_ACCESS_BLOCK_SIZE, '\0');
    const std::string text = kept.dump();
    block.replace(0, text.size(), text);
    return block;
}

// The plug-in's kept Bluesky login of the sandbox's test account with its app password, as the
// host keeps it.
inline std::string preIssuedBlueskyBlock() {
    const auto& b = SandboxService::credentials().at("bluesky");
    const nlohmann::json kept = {{"handle", b.at("handle")},
                                 {"did", b.at("did")},
                                 {"pds", b.at("pds")},
                                 {"app_password", b.at("app_password")}};
    std::string block(NETWORK_ACCESS_BLOCK_SIZE, '\0');
    const std::string text = kept.dump();
    block.replace(0, text.size(), text);
    return block;
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
