// Counting and fitting a long announcement for X: a ~400-character title with CJK and emoji, a
// template with a link and a tag; fitting it for Mastodon too; and fitting a title of CJK without
// blanks. The reference is the
// plain code point count a naive plug-in would make (NFC and clusters included), to show what the
// service's rules cost on top.
#include <benchmark/benchmark.h>

#include "Fitting.h"
#include "MastodonLength.h"
#include "Utf8.h"
#include "XLength.h"

namespace {

std::string longTitle() {
    std::string title;
    for (int i = 0; i < 20; ++i)
        title +=
            u8"Extended Mix \u6771\u4eac\u306e\u591c \U0001f468\u200d\U0001f469\u200d\U0001f467 ";
    return title;
}

std::vector<TextPart> announcement() {
    return {{"Now playing ", false},
            {"Deadline & The Arc", true},
            {" - ", false},
            {longTitle(), true},
            {" https://example.com/dj #Spinforge", false}};
}

void CountLongAnnouncement(benchmark::State& state) {
    const std::string text = joinParts(announcement());
    for (auto _ : state) benchmark::DoNotOptimize(xWeightedLength(text));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CountLongAnnouncement);

void FitLongAnnouncement(benchmark::State& state) {
    const std::vector<TextPart> parts = announcement();
    const XMeasure x;
    for (auto _ : state) benchmark::DoNotOptimize(fitAnnouncement(parts, x));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FitLongAnnouncement);

// The announcement is 468 characters to a Mastodon server: a limit of 300 makes it cut.
void FitLongAnnouncementMastodon(benchmark::State& state) {
    const std::vector<TextPart> parts = announcement();
    const MastodonMeasure mastodon(300);
    for (auto _ : state) benchmark::DoNotOptimize(fitAnnouncement(parts, mastodon));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FitLongAnnouncementMastodon);

// A Japanese title has no blanks: 600 CJK characters in one word, which the search for links must
// not read again from each of its places.
void FitBlanklessCjkTitle(benchmark::State& state) {
    std::string title;
    for (int i = 0; i < 150; ++i) title += u8"\u6771\u4eac\u306e\u591c";
    const std::vector<TextPart> parts = {{"Now playing ", false},
                                         {"Deadline", true},
                                         {" - ", false},
                                         {title, true},
                                         {" #Spinforge", false}};
    const XMeasure x;
    for (auto _ : state) benchmark::DoNotOptimize(fitAnnouncement(parts, x));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(FitBlanklessCjkTitle);

void ReferenceCodePointsAndClusters(benchmark::State& state) {
    const std::string text = joinParts(announcement());
    for (auto _ : state) benchmark::DoNotOptimize(clusterBounds(nfc(text)).size());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ReferenceCodePointsAndClusters);

}  // namespace

BENCHMARK_MAIN();
