// SHA-1 and HMAC-SHA1 throughput, ours against OpenSSL in the same run.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <vector>

#include "HMAC_SHA1.h"
#include "SHA1.h"
#include "ratio_reporter.h"

namespace {

std::vector<unsigned char> message(size_t n) {
    std::vector<unsigned char> m(n);
    for (size_t i = 0; i < n; ++i) m[i] = static_cast<unsigned char>(i * 131 + 7);
    return m;
}

const unsigned char key[] = "kd94hf93k423kf44&pfkkdhi9sl3r4s00";

void SHA1_Ours(benchmark::State& state) {
    const auto msg = message(static_cast<size_t>(state.range(0)));
    unsigned char out[20];
    for (auto _ : state) {
        CSHA1 sha;
        sha.Update(msg.data(), static_cast<unsigned int>(msg.size()));
        sha.Final();
        sha.GetHash(out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void SHA1_OpenSSL(benchmark::State& state) {
    const auto msg = message(static_cast<size_t>(state.range(0)));
    unsigned char out[20];
    unsigned int len = 0;
    for (auto _ : state) {
        EVP_Digest(msg.data(), msg.size(), out, &len, EVP_sha1(), nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void HMAC_Ours(benchmark::State& state) {
    const auto msg = message(static_cast<size_t>(state.range(0)));
    unsigned char out[20];
    for (auto _ : state) {
        CHMAC_SHA1 hmac;  // one object per signature, as the signer uses it
        hmac.HMAC_SHA1(msg.data(), static_cast<int>(msg.size()), key, sizeof key - 1, out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void HMAC_OpenSSL(benchmark::State& state) {
    const auto msg = message(static_cast<size_t>(state.range(0)));
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    for (auto _ : state) {
        HMAC(EVP_sha1(), key, sizeof key - 1, msg.data(), msg.size(), out, &len);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

// Signature base strings are short; 1 MiB shows the block function's steady rate.
void messageSizes(benchmark::internal::Benchmark* b) {
    for (const int size : {64, 1024, 64 * 1024, 1024 * 1024}) b->Arg(size);
}

BENCHMARK(SHA1_Ours)->Name("SHA1/Ours")->Apply(messageSizes);
BENCHMARK(SHA1_OpenSSL)->Name("SHA1/OpenSSL")->Apply(messageSizes);
BENCHMARK(HMAC_Ours)->Name("HMAC/Ours")->Apply(messageSizes);
BENCHMARK(HMAC_OpenSSL)->Name("HMAC/OpenSSL")->Apply(messageSizes);

int main(int argc, char** argv) {
    return runBenchmarksWithRatios(argc, argv);
}
