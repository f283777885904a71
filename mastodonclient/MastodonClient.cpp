#include "MastodonClient.h"

#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

using nlohmann::json;
using Fields = std::vector<std::pair<std::string, std::string>>;

// ---------------------------------------------------------------------------------------------
// Calls

std::string MastodonClient::url(std::string_view path) const {
    return "https://" + server_ + std::string(path);
}

WebAnswer MastodonClient::send(WebRequest request, bool withToken) {
    // Never a request to wherever a mistyped name happens to point, nor a token sent there.
    if (!isServerName(server_)) {
        WebAnswer unsent;
        unsent.error = server_.empty() ? "no server set" : "not a server name: " + server_;
        return unsent;
    }
    if (withToken && !token_.empty())
        request.headers.emplace_back("Authorization", "Bearer " + token_);
    return web_.perform(request);
}

WebAnswer MastodonClient::get(std::string_view path, bool withToken) {
    WebRequest request;
    request.url = url(path);
    return send(std::move(request), withToken);
}

WebAnswer MastodonClient::postForm(std::string_view path, const Fields& fields, bool withToken,
                                   Fields extraHeaders) {
    WebRequest request;
    request.method = "POST";
    request.url = url(path);
    request.headers = std::move(extraHeaders);
    request.contentType = "application/x-www-form-urlencoded";
    request.body = formEncode(fields);
    return send(std::move(request), withToken);
}

WebAnswer MastodonClient::registerApp(const std::string& clientName, const std::string& scopes,
                                      const std::string& website) {
    Fields fields = {
        {"client_name", clientName}, {"redirect_uris", OOB_REDIRECT}, {"scopes", scopes}};
    if (!website.empty()) fields.emplace_back("website", website);
    return postForm("/api/v1/apps", fields, false);
}

WebAnswer MastodonClient::authorizationServerMetadata() {
    return get("/.well-known/oauth-authorization-server", false);
}

std::string MastodonClient::authorizeUrl(const MastodonApp& app, const std::string& scopes) const {
    return url("/oauth/authorize?" + formEncode({{"response_type", "code"},
                                                 {"client_id", app.clientId},
                                                 {"redirect_uri", OOB_REDIRECT},
                                                 {"scope", scopes}}));
}

WebAnswer MastodonClient::exchangeCode(const MastodonApp& app, const std::string& code) {
    return postForm("/oauth/token",
                    {{"grant_type", "authorization_code"},
                     {"code", code},
                     {"client_id", app.clientId},
                     {"client_secret", app.clientSecret},
                     {"redirect_uri", OOB_REDIRECT}},
                    false);
}

WebAnswer MastodonClient::verifyCredentials() {
    return get("/api/v1/accounts/verify_credentials", true);
}

WebAnswer MastodonClient::instance() {
    return get("/api/v2/instance", false);
}

WebAnswer MastodonClient::postStatus(const std::string& text, const std::string& idempotencyKey,
                                     const std::string& language) {
    Fields fields = {{"status", text}};
    if (!language.empty()) fields.emplace_back("language", language);
    Fields headers;
    if (!idempotencyKey.empty()) headers.emplace_back("Idempotency-Key", idempotencyKey);
    return postForm("/api/v1/statuses", fields, true, std::move(headers));
}

WebAnswer MastodonClient::revoke(const MastodonApp& app, const std::string& token) {
    return postForm(
        "/oauth/revoke",
        {{"client_id", app.clientId}, {"client_secret", app.clientSecret}, {"token", token}},
        false);
}

// ---------------------------------------------------------------------------------------------
// Answers

namespace {

json parsed(std::string_view body) {
    return json::parse(body.begin(), body.end(), nullptr, false);
}

// The member `name` of an object; null when `value` is no object or lacks it.
const json* member(const json& value, const char* name) {
    if (!value.is_object()) return nullptr;
    const auto it = value.find(name);
    return it == value.end() ? nullptr : &*it;
}

// A member that is a non-empty string.
bool stringMember(const json& value, const char* name, std::string& out) {
    const json* m = member(value, name);
    if (!m || !m->is_string() || m->get_ref<const std::string&>().empty()) return false;
    out = m->get<std::string>();
    return true;
}

// A member that is a whole number in [low, high].
bool countMember(const json& value, const char* name, std::size_t low, std::size_t high,
                 std::size_t& out) {
    const json* m = member(value, name);
    if (!m || !m->is_number_unsigned()) return false;
    const auto n = m->get<std::uint64_t>();
    if (n < low || n > high) return false;
    out = static_cast<std::size_t>(n);
    return true;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

bool parseApp(std::string_view body, MastodonApp& app) {
    const json value = parsed(body);
    MastodonApp read;
    if (!stringMember(value, "client_id", read.clientId) ||
        !stringMember(value, "client_secret", read.clientSecret))
        return false;
    app = std::move(read);
    return true;
}

bool parseAccessToken(std::string_view body, std::string& token) {
    const json value = parsed(body);
    std::string read, type;
    if (!stringMember(value, "access_token", read)) return false;
    // Only a bearer token is ever sent back; the servers spell the type in either case.
    if (member(value, "token_type") &&
        (!stringMember(value, "token_type", type) || !equalsIgnoringCase(type, "bearer")))
        return false;
    token = std::move(read);
    return true;
}

bool parseAccountName(std::string_view body, std::string& username) {
    return stringMember(parsed(body), "username", username);
}

bool parseTextLimit(std::string_view body, MastodonTextLimit& limit) {
    const json value = parsed(body);
    const json* configuration = member(value, "configuration");
    const json* statuses = configuration ? member(*configuration, "statuses") : nullptr;
    if (!statuses) return false;
    // Servers allow from a few hundred to some hundred thousand characters; anything outside
    // that is no limit a text could be fitted to.
    constexpr std::size_t MOST_CHARACTERS = 10'000'000;
    MastodonTextLimit read;
    if (!countMember(*statuses, "max_characters", 1, MOST_CHARACTERS, read.maxCharacters))
        return false;
    // Missing on no server we know of, so Mastodon's own value when absent.
    if (member(*statuses, "characters_reserved_per_url") &&
        !countMember(*statuses, "characters_reserved_per_url", 0, read.maxCharacters,
                     read.charactersPerUrl))
        return false;
    limit = read;
    return true;
}

bool serverOffersProfileScope(std::string_view metadataBody) {
    const json value = parsed(metadataBody);
    const json* scopes = member(value, "scopes_supported");
    if (!scopes || !scopes->is_array()) return false;
    for (const json& scope : *scopes)
        if (scope.is_string() && scope.get_ref<const std::string&>() == "profile") return true;
    return false;
}

std::string answerError(std::string_view body) {
    const json value = parsed(body);
    std::string error, description;
    if (!stringMember(value, "error", error)) return "";
    if (stringMember(value, "error_description", description)) error += ": " + description;
    return error;
}

// ---------------------------------------------------------------------------------------------
// Times

namespace {

// Exactly `count` decimal digits at `pos`, which moves past them.
bool readDigits(std::string_view text, size_t& pos, size_t count, int& value) {
    if (text.size() - pos < count) return false;
    value = 0;
    for (size_t i = 0; i < count; ++i, ++pos) {
        const char c = text[pos];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

bool readChar(std::string_view text, size_t& pos, std::string_view oneOf) {
    if (pos >= text.size() || oneOf.find(text[pos]) == std::string_view::npos) return false;
    ++pos;
    return true;
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the date in the proleptic Gregorian calendar: whole 400-year eras of
// 146097 days, then the years, with the year taken to start in March so that the leap day is
// the last day of its year.
std::int64_t daysSinceEpoch(int year, int month, int day) {
    const int y = month <= 2 ? year - 1 : year;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yearOfEra = y - era * 400;
    const int dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

}  // namespace

bool parseIsoTimeMillis(std::string_view text, std::int64_t& millis) {
    size_t pos = 0;
    int year, month, day, hour, minute, second;
    if (!readDigits(text, pos, 4, year) || !readChar(text, pos, "-") ||
        !readDigits(text, pos, 2, month) || !readChar(text, pos, "-") ||
        !readDigits(text, pos, 2, day) || !readChar(text, pos, "Tt") ||
        !readDigits(text, pos, 2, hour) || !readChar(text, pos, ":") ||
        !readDigits(text, pos, 2, minute) || !readChar(text, pos, ":") ||
        !readDigits(text, pos, 2, second))
        return false;
    // A leap second (:60) is taken as the first moment of the next minute.
    if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 60)
        return false;

    int fraction = 0;
    if (readChar(text, pos, ".")) {
        const size_t first = pos;
        for (int weight = 100; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
            fraction += (text[pos] - '0') * weight;
            weight /= 10;
        }
        if (pos == first) return false;
    }

    int offsetMinutes = 0;
    if (!readChar(text, pos, "Zz")) {
        const bool ahead = pos < text.size() && text[pos] == '+';
        int offsetHour, offsetMinute;
        if (!readChar(text, pos, "+-") || !readDigits(text, pos, 2, offsetHour) ||
            !readChar(text, pos, ":") || !readDigits(text, pos, 2, offsetMinute) ||
            offsetHour > 23 || offsetMinute > 59)
            return false;
        offsetMinutes = (ahead ? 1 : -1) * (offsetHour * 60 + offsetMinute);
    }
    if (pos != text.size()) return false;

    const std::int64_t seconds = daysSinceEpoch(year, month, day) * 86400 + hour * 3600 +
                                 minute * 60 + second - offsetMinutes * 60;
    millis = seconds * 1000 + fraction;
    return true;
}
