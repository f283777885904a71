// What comes from a Bluesky server about Bluesky: an answer (status, its RateLimit-Reset and
// Retry-After, its body) read by the verdict and the client's readers; and what the client
// builds from any text: a record, a time, a key. Fields: status\ reset\ retry\ body.
#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "BlueskyClient.h"
#include "BlueskyVerdict.h"
#include "MastodonClient.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::FieldReader fields(data, size);
    const std::string status = fields.field();
    const std::string reset = fields.field();
    const std::string retry = fields.field();
    const std::string body = fields.field();

    WebAnswer answer;
    answer.carriedOut = !status.empty();
    answer.status = status.size() <= 4 ? std::atol(status.c_str()) : 0;
    answer.body = body;
    answer.headers = {{"ratelimit-reset", reset}, {"retry-after", retry}};
    answer.hasDate = true;
    answer.dateSeconds = static_cast<std::int64_t>(body.size()) * 1'000'003;

    const BlueskyVerdict verdict = blueskyVerdict(answer);
    if (verdict.result == PostResult::Accepted)
        FUZZ_CHECK(answer.status >= 200 && answer.status < 300 &&
                   body.find("at://") != std::string::npos);
    if (verdict.refresh) FUZZ_CHECK(verdict.result == PostResult::LoginInvalid);
    const std::int64_t wall = 1'800'000'000'000;
    const std::int64_t ends = blueskyLimitEndsAt(answer, wall);
    FUZZ_CHECK(ends == 0 || (ends >= wall + 1000 && ends <= wall + 24 * 3600 * 1000));
    if (ends != 0) FUZZ_CHECK(answer.status == 429);

    // A session read names a PDS a request may go to.
    BlueskySession session;
    if (parseSession(body, BlueskyClient::ENTRYWAY, session))
        FUZZ_CHECK(!session.did.empty() && !session.accessJwt.empty() &&
                   !session.refreshJwt.empty() && isServerName(session.pds));
    parseError(body);
    if (isAppPassword(body)) FUZZ_CHECK(body.size() == 19);

    // A record of any text is a JSON object of its type.
    std::vector<RecordFacet> facets;
    for (std::size_t i = 0; i + 1 < reset.size(); i += 2)
        facets.push_back({static_cast<unsigned char>(reset[i]),
                          static_cast<unsigned char>(reset[i + 1]),
                          i % 4 ? RecordFacet::Kind::Tag : RecordFacet::Kind::Link, retry});
    const nlohmann::json record =
        nlohmann::json::parse(postRecord(body, retry, {status, reset}, facets), nullptr, false);
    FUZZ_CHECK(record.is_object() && record.at("$type") == "app.bsky.feed.post");
    FUZZ_CHECK(facets.empty() ? !record.contains("facets")
                              : record.at("facets").size() == facets.size());

    // Any clock gives a time that reads back as the clock within four-digit years, and a key.
    std::int64_t clock = 0;
    std::memcpy(&clock, body.data(), std::min(body.size(), sizeof clock));
    const std::string time = rfc3339Millis(clock);
    std::int64_t read = -1;
    FUZZ_CHECK(time.size() == 24 && parseIsoTimeMillis(time, read));
    FUZZ_CHECK(read == std::min<std::int64_t>(std::max<std::int64_t>(clock, 0), 253402300799999));
    const std::string tid =
        newTid(static_cast<std::uint64_t>(clock), static_cast<std::uint32_t>(clock));
    FUZZ_CHECK(tid.size() == 13 &&
               tid.find_first_not_of("234567abcdefghijklmnopqrstuvwxyz") == std::string::npos &&
               tid[0] <= 'b');
    return 0;
}
