#include "oauthlib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <regex>
#include <set>
#include <thread>

#include "test_support.h"
#include "urlencode.h"

using namespace testsupport;
using nlohmann::json;

// Reaches the signer's internal steps, so that published vectors can be checked with their own
// nonce and timestamp.
class oAuthTestAccess {
  public:
    static void setNonceTimeStamp(oAuth& o, const std::string& nonce, const std::string& ts) {
        o.nonce = nonce;
        o.timeStamp = ts;
    }
    static std::string nonce(const oAuth& o) { return o.nonce; }
    static std::string timeStamp(const oAuth& o) { return o.timeStamp; }
    static std::string headerWithCurrentNonce(oAuth& o, eOAuthHttpRequestType type,
                                              const std::string& url, const std::string& data,
                                              bool verifier) {
        std::string header;
        o.buildOAuthHeader(type, url, data, header, verifier, false);
        return header;
    }
    static oAuthKeyValuePairs split(oAuth& o, const std::string& data, bool encode) {
        oAuthKeyValuePairs map;
        o.buildOAuthRawDataKeyValPairs(data, encode, map);
        return map;
    }
    static bool signature(oAuth& o, eOAuthHttpRequestType type, const std::string& url,
                          const oAuthKeyValuePairs& map, std::string& out) {
        return o.getSignature(type, url, map, out);
    }
    static std::string join(oAuth& o, const oAuthKeyValuePairs& map, const std::string& sep) {
        std::string out;
        o.getStringFromOAuthKeyValuePairs(map, out, sep);
        return out;
    }
};

using Access = oAuthTestAccess;

namespace {

eOAuthHttpRequestType typeOf(const std::string& method) {
    if (method == "GET") return eOAuthRequestGet;
    if (method == "POST") return eOAuthRequestPost;
    return eOAuthRequestDelete;
}

std::string joinForm(const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string out;
    for (const auto& p : pairs)
        out += (out.empty() ? "" : "&") + p.first + "=" + urlencode(p.second);
    return out;
}

std::string expectedSignature(const json& v) {
    return v.value("corrected_signature", v.at("expected").at("signature").get<std::string>());
}

bool hasRepeatedName(const json& params) {
    std::set<std::string> names;
    for (const auto& p : params)
        if (!names.insert(p.at(0).get<std::string>()).second) return true;
    return false;
}

oAuth signerFor(const json& in) {
    oAuth o;
    o.setConsumerSecret(in.at("consumer_secret").get<std::string>());
    o.setOAuthTokenSecret(in.at("token_secret").get<std::string>());
    for (const auto& p : in.at("params")) {
        const std::string name = p.at(0), value = p.at(1);
        if (name == "oauth_consumer_key") o.setConsumerKey(value);
        if (name == "oauth_token") o.setOAuthTokenKey(value);
        if (name == "oauth_verifier") o.setOAuthPin(value);
    }
    return o;
}

}  // namespace

// Every published vector whose parameters have one value per name, signed from its parameter
// map (names and values in their encoded form, as the normalisation expects them).
TEST(OAuthSignature, PublishedVectorsFromTheirParameters) {
    const auto vectors = publishedVectors("oauth1_hmac_sha1");
    ASSERT_GE(vectors.size(), 10u);
    int checked = 0;
    for (const auto& v : vectors) {
        SCOPED_TRACE(v.at("name").get<std::string>());
        const auto& in = v.at("inputs");
        if (hasRepeatedName(in.at("params"))) continue;  // one value per name by design
        oAuth o = signerFor(in);
        oAuthKeyValuePairs map;
        for (const auto& p : in.at("params"))
            map[urlencode(p.at(0).get<std::string>())] = urlencode(p.at(1).get<std::string>());
        if (v.at("expected").contains("normalized_params")) {
            EXPECT_EQ(Access::join(o, map, "&"), v.at("expected").at("normalized_params"));
        }
        std::string sig;
        EXPECT_TRUE(Access::signature(o, typeOf(in.at("method")), in.at("base_url"), map, sig));
        EXPECT_EQ(sig, urlencode(expectedSignature(v)));
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(vectors.size()) - 1);
}

// The whole header path (query splitting, form body, protocol parameters, header line) for the
// published requests that carry oauth_version and no oauth_callback, as ours do.
TEST(OAuthSignature, PublishedRequestsThroughTheHeader) {
    int checked = 0;
    for (const auto& v : publishedVectors("oauth1_hmac_sha1")) {
        const auto& in = v.at("inputs");
        std::set<std::string> names;
        for (const auto& p : in.at("params")) names.insert(p.at(0).get<std::string>());
        if (!names.count("oauth_version") || names.count("oauth_callback") ||
            hasRepeatedName(in.at("params")))
            continue;
        SCOPED_TRACE(v.at("name").get<std::string>());

        const std::string method = in.at("method");
        const std::string rawQuery = in.value("raw_query", "");
        std::vector<std::pair<std::string, std::string>> query, body;
        std::string nonce, timestamp;
        for (const auto& p : in.at("params")) {
            const std::string name = p.at(0), value = p.at(1);
            if (name == "oauth_nonce") nonce = value;
            if (name == "oauth_timestamp") timestamp = value;
            if (name.rfind("oauth_", 0) == 0) continue;
            const bool inQuery = method == "GET" || rawQuery.find(name + "=") != std::string::npos;
            (inQuery ? query : body).emplace_back(name, value);
        }
        std::string url = in.at("base_url");
        if (!query.empty()) url += "?" + joinForm(query);

        oAuth o = signerFor(in);
        Access::setNonceTimeStamp(o, nonce, timestamp);
        const std::string header = Access::headerWithCurrentNonce(
            o, typeOf(method), url, joinForm(body), names.count("oauth_verifier") > 0);
        EXPECT_NE(header.find("oauth_signature=\"" + urlencode(expectedSignature(v)) + "\""),
                  std::string::npos)
            << header;
        ++checked;
    }
    EXPECT_GE(checked, 5);
}

TEST(OAuthSignature, StatusUpdateExampleGivesTheExactHeaderLine) {
    oAuth o;
    o.setConsumerKey("xvz1evFS4wEEPTGEFPHBog");
    o.setConsumerSecret("kAcSOqF21Fu85e7zjz7ZN2U4ZRhfV3WpwPAoE3Z7kBw");
    o.setOAuthTokenKey("370773112-GmHxMAgYyLbNEtIKZeRNFsMKPR9EyMZeS9weJAEb");
    o.setOAuthTokenSecret("LswwdoUaIvS8ltyTt5jkRh4J50vUPVVHtR2YPi5kE");
    Access::setNonceTimeStamp(o, "kYjzVBB8Y0ZFabxSWbWovY3uYSQ2pTgmZeNu2VS4cg", "1318622958");
    const std::string header = Access::headerWithCurrentNonce(
        o, eOAuthRequestPost,
        "https://api.twitter.com/1.1/statuses/update.json?include_entities=true",
        "status=" + urlencode("Hello Ladies + Gentlemen, a signed OAuth request!"), false);
    EXPECT_EQ(header,
              "Authorization: OAuth oauth_consumer_key=\"xvz1evFS4wEEPTGEFPHBog\","
              "oauth_nonce=\"kYjzVBB8Y0ZFabxSWbWovY3uYSQ2pTgmZeNu2VS4cg\","
              "oauth_signature=\"hCtSmYh%2BiHYCEqBWrE7C7hYmtUk%3D\","
              "oauth_signature_method=\"HMAC-SHA1\",oauth_timestamp=\"1318622958\","
              "oauth_token=\"370773112-GmHxMAgYyLbNEtIKZeRNFsMKPR9EyMZeS9weJAEb\","
              "oauth_version=\"1.0\"");
}

TEST(OAuthSignature, PhotosExampleThroughQuerySplitting) {
    oAuth o;
    o.setConsumerSecret("kd94hf93k423kf44");
    o.setOAuthTokenSecret("pfkkdhi9sl3r4s00");
    oAuthKeyValuePairs map = Access::split(o, "file=vacation.jpg&size=original", true);
    map["oauth_consumer_key"] = "dpf43f3p2l4k3l03";
    map["oauth_token"] = "nnch734d00sl2jdk";
    map["oauth_signature_method"] = "HMAC-SHA1";
    map["oauth_timestamp"] = "137131202";
    map["oauth_nonce"] = "chapoH";
    std::string sig;
    ASSERT_TRUE(
        Access::signature(o, eOAuthRequestGet, "http://photos.example.net/photos", map, sig));
    EXPECT_EQ(sig, "MdpQcU8iPSUjWoN%2FUDMsK2sui9I%3D");
}

TEST(OAuthSignature, OnlyGetPostAndDeleteCanBeSigned) {
    oAuth o;
    std::string sig = "stale";
    EXPECT_FALSE(
        Access::signature(o, static_cast<eOAuthHttpRequestType>(4), "https://x/", {}, sig));
    EXPECT_EQ(sig, "");

    std::string header = "stale";
    EXPECT_FALSE(o.getOAuthHeader(static_cast<eOAuthHttpRequestType>(4), "https://x/", "", header));
    EXPECT_EQ(header, "") << "no unsigned header line";
}

// HMAC_SHA1 takes an int length: a longer base string would be signed as an empty one.
TEST(OAuthSignature, BaseStringOver2GiBIsRefused) {
    if (threadSanitizer) GTEST_SKIP() << "gigabytes are too much for ThreadSanitizer";
    oAuth o;
    oAuthKeyValuePairs map;
    // Each "%" is "%25" in the base string, so a third of the bound is enough.
    map["s"] = std::string(static_cast<size_t>(std::numeric_limits<int>::max()) / 3 + 1, '%');
    std::string sig = "stale";
    EXPECT_FALSE(Access::signature(o, eOAuthRequestPost, "https://h/p", map, sig));
    EXPECT_EQ(sig, "");
}

TEST(OAuthParameters, SplittingQueryAndBodyData) {
    struct Case {
        std::string data;
        bool encode;
        oAuthKeyValuePairs expected;
    };
    const Case cases[] = {
        {"", true, {}},
        {"a=1&&b=2", false, {{"a", "1"}, {"b", "2"}}},
        {"flag", false, {}},
        {"k=", false, {{"k", ""}}},
        {"=v", false, {{"", "v"}}},
        {"a=1=2&", false, {{"a", "1=2"}}},
        {"a=1&a=2", false, {{"a", "2"}}},
        {"status=a%20b%2B", false, {{"status", "a%20b%2B"}}},  // body values stand as sent
        {"q=a%20b", true, {{"q", "a%20b"}}},                   // not encoded twice
        {"q=%23live%2bmusic", true, {{"q", "%23live%2Bmusic"}}},
        {"q=a+b", true, {{"q", "a%20b"}}},
        {"q=a b&r=x/y", true, {{"q", "a%20b"}, {"r", "x%2Fy"}}},
        {"q=%zz%4", true, {{"q", "%25zz%254"}}},  // a broken escape is taken literally
        {"c%40=1", true, {{"c%40", "1"}}},        // names are encoded like values
        {"a+b=1&x/y=2&%7E~=3", true, {{"a%20b", "1"}, {"x%2Fy", "2"}, {"~~", "3"}}},
    };
    oAuth o;
    for (const auto& c : cases)
        EXPECT_EQ(Access::split(o, c.data, c.encode), c.expected)
            << '"' << c.data << "\" encode=" << c.encode;
}

TEST(OAuthParameters, JoiningSortsWholeItemsAndQuotesOnlyForTheHeader) {
    oAuth o;
    const oAuthKeyValuePairs map = {{"b", "2"}, {"a", "9"}, {"a-b", "1"}, {"\xC3\xA9", "x"}};
    EXPECT_EQ(Access::join(o, map, "&"), "a-b=1&a=9&b=2&\xC3\xA9=x");
    EXPECT_EQ(Access::join(o, map, ","), "a-b=\"1\",a=\"9\",b=\"2\",\xC3\xA9=\"x\"");
    EXPECT_EQ(Access::join(o, {}, "&"), "");
}

TEST(OAuthHeader, QueryValueIsSignedOnceAndTheBodyWinsOverTheQuery) {
    oAuth o;
    o.setConsumerKey("ck");
    o.setConsumerSecret("cs");
    Access::setNonceTimeStamp(o, "n", "1");
    auto header = [&](const std::string& url, const std::string& body) {
        return Access::headerWithCurrentNonce(o, eOAuthRequestPost, url, body, false);
    };
    EXPECT_EQ(header("https://h/p?x=1", "x=2"), header("https://h/p", "x=2"));
    EXPECT_NE(header("https://h/p?x=1", "x=2"), header("https://h/p", "x=1"));
    EXPECT_EQ(header("https://h/p?", ""), header("https://h/p", ""));
    EXPECT_EQ(header("https://h/p?q=a%20b", ""), header("https://h/p?q=a+b", ""));
    EXPECT_EQ(header("https://h/p?q=a%20b", ""), header("https://h/p?q=a b", ""));
}

TEST(OAuthHeader, LineFormatAndOptionalItems) {
    struct Case {
        std::string token, pin;
        bool verifier;
        bool tokenItem, verifierItem;
    };
    const Case cases[] = {
        {"", "", false, false, false},     {"tk", "", false, true, false},
        {"tk", "123", false, true, false}, {"tk", "", true, true, false},
        {"tk", "123", true, true, true},   {"", "123", true, false, true},
    };
    const std::regex shape(
        "Authorization: OAuth oauth_consumer_key=\"ck\",oauth_nonce=\"[A-Za-z0-9]{32}\","
        "oauth_signature=\"[A-Za-z0-9%]{27,}%3D\",oauth_signature_method=\"HMAC-SHA1\","
        "oauth_timestamp=\"[0-9]{10,}\",(oauth_token=\"tk\",)?(oauth_verifier=\"123\",)?"
        "oauth_version=\"1.0\"");
    for (const auto& c : cases) {
        oAuth o;
        o.setConsumerKey("ck");
        o.setConsumerSecret("cs");
        o.setOAuthTokenKey(c.token);
        o.setOAuthPin(c.pin);
        std::string header;
        ASSERT_TRUE(o.getOAuthHeader(eOAuthRequestGet, "https://api.twitter.com/1.1/x.json", "",
                                     header, c.verifier));
        SCOPED_TRACE(header);
        EXPECT_TRUE(std::regex_match(header, shape));
        EXPECT_EQ(header.find("oauth_token=") != std::string::npos, c.tokenItem);
        EXPECT_EQ(header.find("oauth_verifier=") != std::string::npos, c.verifierItem);
        EXPECT_EQ(header.find(' ', 21), std::string::npos) << "no space after the prefix";
    }
}

// The time stamp is this machine's clock moved by the offset, either way.
TEST(OAuthHeader, TheTimeStampFollowsTheClockOffset) {
    for (std::int64_t offset : {std::int64_t{0}, std::int64_t{1200}, std::int64_t{-86400}}) {
        oAuth o;
        o.setConsumerKey("ck");
        o.setConsumerSecret("cs");
        o.setClockOffset(offset);
        EXPECT_EQ(o.getClockOffset(), offset);
        std::string header;
        const std::int64_t before = static_cast<std::int64_t>(std::time(nullptr));
        ASSERT_TRUE(o.getOAuthHeader(eOAuthRequestGet, "https://api.twitter.com/1.1/x.json", "",
                                     header, false));
        const std::int64_t after = static_cast<std::int64_t>(std::time(nullptr));
        std::smatch found;
        ASSERT_TRUE(std::regex_search(header, found, std::regex("oauth_timestamp=\"([0-9]+)\"")));
        const std::int64_t stamp = std::stoll(found[1]);
        EXPECT_GE(stamp, before + offset);
        EXPECT_LE(stamp, after + offset);
        EXPECT_EQ(o.clone().getClockOffset(), offset);
    }
}

// A token from an answer or a PIN from a page can hold anything; none of it may end the value,
// the item or the line.
TEST(OAuthHeader, EveryValueIsPercentEncodedInTheLine) {
    struct Case {
        std::string token, pin, tokenItem, verifierItem;
    };
    const Case cases[] = {
        {"100001-Ab_9", "7654321", "oauth_token=\"100001-Ab_9\"", "oauth_verifier=\"7654321\""},
        {"a\"b,c", "1,2", "oauth_token=\"a%22b%2Cc\"", "oauth_verifier=\"1%2C2\""},
        {"t\r\nX-Injected: 1", "12 34\n", "oauth_token=\"t%0D%0AX-Injected%3A%201\"",
         "oauth_verifier=\"12%2034%0A\""},
    };
    for (const auto& c : cases) {
        oAuth o;
        o.setConsumerKey("ck");
        o.setOAuthTokenKey(c.token);
        o.setOAuthPin(c.pin);
        std::string header;
        ASSERT_TRUE(o.getOAuthHeader(eOAuthRequestGet, "https://h/p", "", header, true));
        SCOPED_TRACE(header);
        EXPECT_NE(header.find("," + c.tokenItem + ","), std::string::npos);
        EXPECT_NE(header.find("," + c.verifierItem + ","), std::string::npos);
        EXPECT_EQ(header.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(std::count(header.begin(), header.end(), '"'), 16) << "eight quoted values";
    }
}

TEST(OAuthHeader, NoncesAreUniqueWithinOneSecondAndTimestampsAreWholeSeconds) {
    oAuth o;
    o.setConsumerKey("ck");
    std::set<std::string> nonces;
    const long long before = static_cast<long long>(std::time(nullptr));
    std::string header;
    const int count = 5000;
    for (int i = 0; i < count; ++i) {
        o.getOAuthHeader(eOAuthRequestGet, "https://h/p", "", header);
        nonces.insert(Access::nonce(o));
        ASSERT_NE(header.find("oauth_nonce=\"" + Access::nonce(o) + "\""), std::string::npos);
    }
    const long long after = static_cast<long long>(std::time(nullptr));
    EXPECT_EQ(nonces.size(), static_cast<size_t>(count));
    const long long ts = std::stoll(Access::timeStamp(o));
    EXPECT_GE(ts, before);
    EXPECT_LE(ts, after);

    // A clone signs with its own nonces.
    oAuth copy = o.clone();
    copy.getOAuthHeader(eOAuthRequestGet, "https://h/p", "", header);
    EXPECT_EQ(nonces.count(Access::nonce(copy)), 0u);
}

// Each thread signs with a generator of its own: two threads signing at once neither race on a
// shared one nor draw the same sequence.
TEST(OAuthHeader, NoncesFromTwoThreadsSigningAtOnceAreDistinct) {
    const size_t perThread = 2000;
    std::vector<std::string> nonces[2];
    std::atomic<int> started{0};
    auto sign = [&](std::vector<std::string>& out) {
        oAuth o;
        o.setConsumerKey("ck");
        std::string header;
        for (++started; started < 2;) std::this_thread::yield();
        for (size_t i = 0; i < perThread; ++i) {
            o.getOAuthHeader(eOAuthRequestGet, "https://h/p", "", header);
            out.push_back(Access::nonce(o));
        }
    };
    std::thread first(sign, std::ref(nonces[0])), second(sign, std::ref(nonces[1]));
    first.join();
    second.join();
    std::set<std::string> distinct(nonces[0].begin(), nonces[0].end());
    distinct.insert(nonces[1].begin(), nonces[1].end());
    EXPECT_EQ(distinct.size(), 2 * perThread);
}

TEST(OAuthHeader, SigningLeavesTheHostsRandomSequenceAlone) {
    std::srand(4242);
    const int a = std::rand(), b = std::rand();
    std::srand(4242);
    oAuth o;
    std::string header;
    for (int i = 0; i < 50; ++i) o.getOAuthHeader(eOAuthRequestPost, "https://h/p", "a=b", header);
    EXPECT_EQ(std::rand(), a);
    EXPECT_EQ(std::rand(), b);
}

TEST(OAuthTokens, ExtractFromTokenAnswers) {
    struct Case {
        std::string body;
        bool result;
        std::string key, secret, screenName;
    };
    // The fields start as "k0", "s0" and "n0".
    const Case cases[] = {
        {"oauth_token=K&oauth_token_secret=S&user_id=1&screen_name=dj", true, "K", "S", "dj"},
        {"oauth_token=K&oauth_token_secret=S&oauth_callback_confirmed=true", true, "K", "S", "n0"},
        {"oauth_token=K&oauth_token_secret=S", true, "K", "S", "n0"},
        {"oauth_token_secret=S&screen_name=dj&oauth_token=K", true, "K", "S", "dj"},
        {"oauth_token=K&oauth_token_secret=S&screen_name=dj&x_auth_expires=0", true, "K", "S",
         "dj"},
        {"oauth_token=K%2B%2F%3D&oauth_token_secret=S+1%26&screen_name=d%C3%A9", true,
         "K+/=", "S 1&", "d\xC3\xA9"},
        {"xoauth_token=X&oauth_token_secretx=Y&my_screen_name=Z", true, "k0", "s0", "n0"},
        {"no names here", true, "k0", "s0", "n0"},
        {"", false, "k0", "s0", "n0"},
        {"{\"errors\":[{\"code\":32}]}", true, "k0", "s0", "n0"},
        {"oauth_token=K&oauth_token_secret=S&screen_name=", true, "K", "S", ""},
        {"oauth_token", true, "k0", "s0", "n0"},
        {"screen_name", true, "k0", "s0", "n0"},
        {"oauth_token=&oauth_token_secret=&x=1", true, "", "", "n0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.body);
        oAuth o;
        o.setOAuthTokenKey("k0");
        o.setOAuthTokenSecret("s0");
        o.setOAuthScreenName("n0");
        EXPECT_EQ(o.extractOAuthTokenKeySecret(c.body), c.result);
        std::string key, secret, name;
        o.getOAuthTokenKey(key);
        o.getOAuthTokenSecret(secret);
        o.getOAuthScreenName(name);
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(secret, c.secret);
        EXPECT_EQ(name, c.screenName);
    }
}

TEST(OAuthTokens, CloneCopiesEveryCredential) {
    oAuth o;
    o.setConsumerKey("ck");
    o.setConsumerSecret("cs");
    o.setOAuthTokenKey("tk");
    o.setOAuthTokenSecret("ts");
    o.setOAuthPin("1234");
    o.setOAuthScreenName("dj");
    oAuth c = o.clone();
    std::string v[6];
    c.getConsumerKey(v[0]);
    c.getConsumerSecret(v[1]);
    c.getOAuthTokenKey(v[2]);
    c.getOAuthTokenSecret(v[3]);
    c.getOAuthPin(v[4]);
    c.getOAuthScreenName(v[5]);
    EXPECT_EQ(std::vector<std::string>(v, v + 6),
              (std::vector<std::string>{"ck", "cs", "tk", "ts", "1234", "dj"}));
}

namespace {

// Texts that make the encodings work: reserved characters, "+", "%", spaces and UTF-8.
std::string randomText(std::mt19937& rng) {
    static const std::vector<std::string> pieces = {"a",
                                                    "Z",
                                                    "9",
                                                    " ",
                                                    "+",
                                                    "%",
                                                    "&",
                                                    "=",
                                                    "/",
                                                    "?",
                                                    "#",
                                                    "!",
                                                    "*",
                                                    "'",
                                                    "(",
                                                    ")",
                                                    ",",
                                                    ";",
                                                    ":",
                                                    "@",
                                                    "~",
                                                    "-",
                                                    ".",
                                                    "_",
                                                    "\xC3\xA9",
                                                    "\xE2\x80\x94",
                                                    "\xF0\x9F\x8E\xA7",
                                                    "%20"};
    std::uniform_int_distribution<size_t> len(0, 12), pick(0, pieces.size() - 1);
    std::string out;
    for (size_t n = len(rng); n > 0; --n) out += pieces[pick(rng)];
    return out;
}

// A query as a URL may carry it: every value encoded, spaces sometimes as "+".
std::string queryEncode(std::mt19937& rng, const std::string& value) {
    std::string out = urlencode(value);
    if (rng() % 2) {
        for (size_t at; (at = out.find("%20")) != std::string::npos;) out.replace(at, 3, "+");
    }
    return out;
}

}  // namespace

// Our headers checked by an independent OAuth implementation (python3-oauthlib).
TEST(OAuthCrossCheck, SignaturesAgreeWithOAuthlib) {
    std::mt19937 rng(9);
    // Names are distinct and none is a prefix of another, as in the service's calls; some need
    // encoding.
    const std::vector<std::string> names = {"status", "count",       "q",           "cursor",
                                            "text",   "screen_name", "include_rts", "since_id",
                                            "tag@dj", "with space",  "list[0]",     "a+b/c"};
    const std::vector<std::string> paths = {"statuses/update", "search/tweets", "users/lookup",
                                            "statuses/destroy/12", "account/verify_credentials"};
    json requests = json::array();
    for (int i = 0; i < 300; ++i) {
        std::vector<std::string> pool = names;
        std::shuffle(pool.begin(), pool.end(), rng);
        const char* methods[] = {"GET", "POST", "DELETE"};
        std::string method = methods[rng() % 3];
        std::string url = "https://api.twitter.com/1.1/" + paths[rng() % paths.size()] + ".json";
        const size_t queryCount = rng() % 3, bodyCount = method == "POST" ? 1 + rng() % 3 : 0;
        for (size_t q = 0; q < queryCount; ++q)
            url += (q ? "&" : "?") + queryEncode(rng, pool[q]) + "=" +
                   queryEncode(rng, randomText(rng));
        std::string body;
        for (size_t b = 0; b < bodyCount; ++b)
            body +=
                (b ? "&" : "") + urlencode(pool[queryCount + b]) + "=" + urlencode(randomText(rng));
        if (i == 0) {  // a long status whose base string exceeds 4032 bytes
            std::string text;
            for (int k = 0; k < 280; ++k) text += "\xF0\x9F\x8E\xA7";
            method = "POST";
            url = "https://api.twitter.com/1.1/statuses/update.json";
            body = "status=" + urlencode(text);
        }

        oAuth o;
        o.setConsumerKey("TpConsumerKey");
        o.setConsumerSecret(rng() % 2 ? "consumer-secret_1" : "cs");
        // Tokens and PINs are mostly the service's alphabet, sometimes anything at all.
        if (rng() % 4) o.setOAuthTokenKey(rng() % 3 ? "100001-token" : "1-" + randomText(rng));
        const std::string tokenSecret = rng() % 3 ? "token.secret~2" : "";
        o.setOAuthTokenSecret(tokenSecret);
        o.setOAuthPin(rng() % 2 ? "7654321" : rng() % 2 ? "" : "\"7,6\r\n" + randomText(rng));
        std::string header;
        o.getOAuthHeader(typeOf(method), url, body, header, rng() % 2);
        std::string consumerSecret;
        o.getConsumerSecret(consumerSecret);
        requests.push_back({{"method", method},
                            {"url", url},
                            {"body", body},
                            {"header", header},
                            {"consumer_secret", consumerSecret},
                            {"token_secret", tokenSecret}});
    }

    const TempFolder folder("trackpost-crosscheck-");
    ASSERT_FALSE(folder.path().empty());
    const std::string in = (folder.path() / "in.json").string(),
                      out = (folder.path() / "out.json").string();
    std::ofstream(in) << requests.dump();
    const std::string command = std::string("/usr/bin/python3 ") + TRACKPOST_TESTS_DIR +
                                "/oauth_crosscheck.py < " + in + " > " + out;
    const int status = std::system(command.c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "python3-oauthlib is missing: install it (scripts/setup does)";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;

    std::ifstream resultFile(out);
    const json results = json::parse(resultFile);
    ASSERT_EQ(results.size(), requests.size());
    for (size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i].at("got"), results[i].at("expected"))
            << requests[i].at("method") << " " << requests[i].at("url") << "\n"
            << requests[i].at("body") << "\n"
            << requests[i].at("header");
}
