// What comes from a Mastodon server or the host about Mastodon: an answer (status, its
// X-RateLimit-Reset, its body) read by the verdict and the client's readers, a kept block, and a
// typed server name. Fields: status\ reset\ body (see FieldReader).
#include <string>

#include "MastodonClient.h"
#include "MastodonKept.h"
#include "MastodonVerdict.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzsupport::FieldReader fields(data, size);
    const std::string status = fields.field();
    const std::string reset = fields.field();
    const std::string body = fields.field();

    WebAnswer answer;
    answer.carriedOut = !status.empty();
    answer.status = status.size() <= 4 ? std::atol(status.c_str()) : 0;
    answer.body = body;
    answer.headers = {{"x-ratelimit-reset", reset}};
    answer.hasDate = true;
    answer.dateSeconds = static_cast<std::int64_t>(body.size()) * 1'000'003;

    const PostResult result = mastodonVerdict(answer);
    if (result == PostResult::Accepted)
        FUZZ_CHECK(answer.status >= 200 && answer.status < 300 &&
                   body.find("\"id\"") != std::string::npos);
    const std::int64_t wall = 1'800'000'000'000;
    const std::int64_t ends = mastodonLimitEndsAt(answer, wall);
    FUZZ_CHECK(ends == 0 || (ends >= wall + 1000 && ends <= wall + 24 * 3600 * 1000));
    std::int64_t millis = 0;
    parseIsoTimeMillis(reset, millis);

    MastodonApp app;
    std::string text;
    MastodonTextLimit limit;
    parseApp(body, app);
    parseAccessToken(body, text);
    parseAccountName(body, text);
    if (parseTextLimit(body, limit)) FUZZ_CHECK(limit.maxCharacters > 0);
    serverOffersProfileScope(body);
    answerError(body);

    // A kept block: what it gives back is kept again as it was.
    const MastodonKept kept = MastodonKept::fromBlock(body);
    const std::string block = kept.toBlock(1024);
    if (!block.empty()) {
        const MastodonKept again = MastodonKept::fromBlock(block);
        FUZZ_CHECK(again.server == kept.server && again.clientId == kept.clientId &&
                   again.clientSecret == kept.clientSecret && again.token == kept.token &&
                   again.account == kept.account);
    }
    // A typed server: a host name in lower case, or nothing.
    if (const auto server = mastodonServer(reset)) {
        FUZZ_CHECK(!server->empty() &&
                   server->find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789.-") ==
                       std::string::npos);
    }
    return 0;
}
