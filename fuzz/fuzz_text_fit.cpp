// Counting and fitting any bytes: template words and fields from the input, fitted to X's limit,
// to a Mastodon server's, to Bluesky's and to small limits (also with estimates of cuts that are
// wrong); never a crash, the result always fits and is valid UTF-8, a text that fits comes back
// whole.
#include "BlueskyText.h"
#include "Fitting.h"
#include "MastodonLength.h"
#include "TagRepair.h"
#include "Utf8.h"
#include "XLength.h"
#include "fuzz_support.h"

using fuzzsupport::FieldReader;

namespace {

// Counts bytes, but estimates every cut at half its length: fitting must not trust estimates.
class MisleadingByteMeasure : public ByteMeasure {
  public:
    using ByteMeasure::ByteMeasure;
    std::vector<std::size_t> prefixLengths(std::string_view, const TextLayout&,
                                           const std::vector<std::size_t>& ends) const override {
        std::vector<std::size_t> halves;
        for (const std::size_t end : ends) halves.push_back(end / 2);
        return halves;
    }
};

void checkFits(const std::string& fitted, const TextMeasure& measure) {
    FUZZ_CHECK(isValidUtf8(fitted));
    if (measure.limit() >= 1) FUZZ_CHECK(measure.fits(fitted));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FieldReader in(data, size);
    const std::string limitField = in.field();
    std::vector<TextPart> parts;
    for (bool field = false; !in.empty(); field = !field) parts.push_back({in.field(), field});

    const std::string joined = joinParts(parts);
    (void)xWeightedLength(joined);
    const std::string repaired = repairTag(joined);
    FUZZ_CHECK(isValidUtf8(repaired));
    FUZZ_CHECK(repaired.find("  ") == std::string::npos);

    const XMeasure x;
    // Bytes against a limit taken from the input, for the edges X's 280 never reaches.
    const ByteMeasure small(limitField.size() * 7 % 300);
    const MisleadingByteMeasure misleading(limitField.size() * 5 % 300);
    const MastodonMeasure mastodon(limitField.size() * 3 % 300);
    const BlueskyMeasure bluesky;
    for (const TextMeasure* measure :
         {static_cast<const TextMeasure*>(&x), static_cast<const TextMeasure*>(&small),
          static_cast<const TextMeasure*>(&misleading), static_cast<const TextMeasure*>(&mastodon),
          static_cast<const TextMeasure*>(&bluesky)}) {
        const std::string fitted = fitAnnouncement(parts, *measure);
        checkFits(fitted, *measure);
        if (isValidUtf8(joined) && measure->fits(joined)) FUZZ_CHECK(fitted == joined);
        checkFits(cutToFit(joined, *measure), *measure);
    }
    return 0;
}
