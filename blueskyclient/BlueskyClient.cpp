#include "BlueskyClient.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

using nlohmann::json;

// ---------------------------------------------------------------------------------------------
// Calls

namespace {

constexpr char POST_COLLECTION[] = "app.bsky.feed.post";

// Never a JSON text that throws: bytes that are not UTF-8 become U+FFFD.
std::string dumped(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

WebAnswer unsent(std::string why) {
    WebAnswer answer;
    answer.error = std::move(why);
    return answer;
}

}  // namespace

WebAnswer BlueskyClient::post(const std::string& server, std::string_view nsid,
                              const std::string& bearer, std::string body) {
    // Never a request to wherever a mistyped name happens to point, nor a password sent there.
    if (!isServerName(server))
        return unsent(server.empty() ? "no server given" : "not a server name: " + server);
    WebRequest request;
    request.method = "POST";
    request.url = "https://" + server + "/xrpc/" + std::string(nsid);
    if (!bearer.empty()) request.headers.emplace_back("Authorization", "Bearer " + bearer);
    if (!body.empty()) {
        request.contentType = "application/json";
        request.body = std::move(body);
    }
    return web_.perform(request);
}

WebAnswer BlueskyClient::createSession(const std::string& server, const std::string& identifier,
                                       const std::string& password) {
    return post(server, "com.atproto.server.createSession", "",
                dumped({{"identifier", identifier}, {"password", password}}));
}

WebAnswer BlueskyClient::refreshSession(const std::string& server, const std::string& refreshJwt) {
    return post(server, "com.atproto.server.refreshSession", refreshJwt, "");
}

WebAnswer BlueskyClient::deleteSession(const std::string& server, const std::string& refreshJwt) {
    return post(server, "com.atproto.server.deleteSession", refreshJwt, "");
}

WebAnswer BlueskyClient::putRecord(const std::string& server, const std::string& accessJwt,
                                   const std::string& repo, const std::string& rkey,
                                   const std::string& recordJson) {
    json record = json::parse(recordJson, nullptr, false);
    if (!record.is_object()) return unsent("the record is not a JSON object");
    return post(server, "com.atproto.repo.putRecord", accessJwt,
                dumped({{"repo", repo},
                        {"collection", POST_COLLECTION},
                        {"rkey", rkey},
                        {"record", std::move(record)}}));
}

// ---------------------------------------------------------------------------------------------
// Answers

namespace {

json parsed(std::string_view body) {
    return json::parse(body.begin(), body.end(), nullptr, false);
}

// A member that is a string; empty when `value` is no object, lacks it or has another type.
std::string stringMember(const json& value, const char* name) {
    if (!value.is_object()) return "";
    const auto it = value.find(name);
    return it != value.end() && it->is_string() ? it->get<std::string>() : "";
}

bool endsWith(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The host[:port] of an endpoint "https://host[:port]" (a lone trailing '/' allowed); "" for
// anything else: another scheme, a path, a user.
std::string httpsHost(std::string_view endpoint) {
    constexpr std::string_view SCHEME = "https://";
    if (endpoint.substr(0, SCHEME.size()) != SCHEME) return "";
    std::string_view host = endpoint.substr(SCHEME.size());
    if (endsWith(host, "/")) host.remove_suffix(1);
    return isServerName(host) ? std::string(host) : "";
}

// The PDS the didDoc names: its service whose id is (or ends in) "#atproto_pds"; "" when none
// is usable.
std::string pdsOf(const json& didDoc) {
    if (!didDoc.is_object()) return "";
    const auto services = didDoc.find("service");
    if (services == didDoc.end() || !services->is_array()) return "";
    for (const json& service : *services) {
        if (!endsWith(stringMember(service, "id"), "#atproto_pds") ||
            stringMember(service, "type") != "AtprotoPersonalDataServer")
            continue;
        return httpsHost(stringMember(service, "serviceEndpoint"));
    }
    return "";
}

}  // namespace

bool parseSession(std::string_view body, const std::string& server, BlueskySession& session) {
    const json value = parsed(body);
    BlueskySession read;
    read.did = stringMember(value, "did");
    read.handle = stringMember(value, "handle");
    read.accessJwt = stringMember(value, "accessJwt");
    read.refreshJwt = stringMember(value, "refreshJwt");
    if (read.did.empty() || read.handle.empty() || read.accessJwt.empty() ||
        read.refreshJwt.empty())
        return false;
    const auto didDoc = value.find("didDoc");
    read.pds = didDoc == value.end() ? "" : pdsOf(*didDoc);
    if (read.pds.empty()) read.pds = server;
    if (!isServerName(read.pds)) return false;
    session = std::move(read);
    return true;
}

BlueskyError parseError(std::string_view body) {
    const json value = parsed(body);
    return {stringMember(value, "error"), stringMember(value, "message")};
}

// ---------------------------------------------------------------------------------------------
// Records

std::string postRecord(const std::string& text, const std::string& createdAt,
                       const std::vector<std::string>& langs,
                       const std::vector<RecordFacet>& facets) {
    json record = {{"$type", POST_COLLECTION}, {"text", text}, {"createdAt", createdAt}};
    if (!langs.empty()) record["langs"] = langs;
    if (!facets.empty()) {
        json& out = record["facets"] = json::array();
        for (const RecordFacet& facet : facets) {
            const bool link = facet.kind == RecordFacet::Kind::Link;
            json feature = {
                {"$type", link ? "app.bsky.richtext.facet#link" : "app.bsky.richtext.facet#tag"},
                {link ? "uri" : "tag", facet.value}};
            out.push_back({{"index", {{"byteStart", facet.byteStart}, {"byteEnd", facet.byteEnd}}},
                           {"features", json::array({std::move(feature)})}});
        }
    }
    return dumped(record);
}

namespace {

// The date of a day counted from 1970-01-01 (not before it) in the proleptic Gregorian calendar:
// whole 400-year eras of 146097 days, the year taken to start in March so that the leap day ends
// it.
void civilDate(std::int64_t days, std::int64_t& year, std::int64_t& month, std::int64_t& day) {
    days += 719468;  // from 0000-03-01
    const std::int64_t era = days / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
}

// A number that is not negative with leading zeros to `width` digits.
void appendDigits(std::string& out, std::int64_t value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), '0');
    out += digits;
}

}  // namespace

std::string rfc3339Millis(std::int64_t wallMillis) {
    // Four-digit years only: a clock before 1970 or past 9999 is taken as that end.
    constexpr std::int64_t LATEST = 253402300799999;  // 9999-12-31T23:59:59.999Z
    const std::int64_t millis = std::clamp<std::int64_t>(wallMillis, 0, LATEST);
    const std::int64_t seconds = millis / 1000, secondOfDay = seconds % 86400;
    std::int64_t year, month, day;
    civilDate(seconds / 86400, year, month, day);
    std::string out;
    appendDigits(out, year, 4);
    out += '-';
    appendDigits(out, month, 2);
    out += '-';
    appendDigits(out, day, 2);
    out += 'T';
    appendDigits(out, secondOfDay / 3600, 2);
    out += ':';
    appendDigits(out, secondOfDay / 60 % 60, 2);
    out += ':';
    appendDigits(out, secondOfDay % 60, 2);
    out += '.';
    appendDigits(out, millis % 1000, 3);
    out += 'Z';
    return out;
}

std::string newTid(std::uint64_t micros, std::uint32_t clockId) {
    static constexpr char ALPHABET[] = "234567abcdefghijklmnopqrstuvwxyz";
    constexpr std::uint64_t MICROS_MASK = (std::uint64_t{1} << 53) - 1;
    // 13 characters hold 65 bits: the first holds a bit above the 64, then the top bit, both 0.
    std::uint64_t value = (micros & MICROS_MASK) << 10 | (clockId & 0x3FF);
    std::string tid(13, ALPHABET[0]);
    for (std::size_t i = tid.size(); i-- > 0; value >>= 5) tid[i] = ALPHABET[value & 31];
    return tid;
}

bool isAppPassword(std::string_view text) {
    if (text.size() != 19) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool ok = i % 5 == 4 ? c == '-' : (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!ok) return false;
    }
    return true;
}
