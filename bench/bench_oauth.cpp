// Authorization header lines signed per second for a typical status update.
#include <benchmark/benchmark.h>

#include "oauthlib.h"
#include "urlencode.h"

namespace {

void SignStatusUpdate(benchmark::State& state) {
    oAuth signer;
    signer.setConsumerKey("TpSandboxConsumerKey22");
    signer.setConsumerSecret("TpSandboxConsumerSecret0123456789abcdefg");
    signer.setOAuthTokenKey("100001-TpSandboxAccessToken00000000000000");
    signer.setOAuthTokenSecret("TpSandboxAccessSecret0000000000000000000000");
    const std::string url = "https://api.twitter.com/1.1/statuses/update.json";
    const std::string body =
        "status=" +
        urlencode("Now playing Daft Punk - Harder, Better, Faster, Stronger on #Spinforge");
    std::string header;
    for (auto _ : state) {
        signer.getOAuthHeader(eOAuthRequestPost, url, body, header);
        benchmark::DoNotOptimize(header);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["header_bytes"] = static_cast<double>(header.size());
}

}  // namespace

BENCHMARK(SignStatusUpdate);
BENCHMARK_MAIN();
