// libFuzzer target: feed dates in both forms. The input is read twice: each
// byte as one UTF-16 unit (so the dictionary's ASCII words work), and byte
// pairs as little-endian UTF-16 units (so non-ASCII text is reached too).
// Besides crashes it checks two properties that must hold for any text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "feed/feed_date.h"

namespace {

void Check(const std::u16string& text) {
    using feedlet::FeedTime;
    for (int format : {feedlet::kDateRfc822, feedlet::kDateW3c}) {
        const FeedTime time = feedlet::ParseFeedDate(text.c_str(), format);
        if (time.when < -1) std::abort();
    }
    // The weekday of the RFC 822 form is skipped unread: prefixing one to a
    // text without a comma changes nothing.
    if (text.find(u',') == std::u16string::npos) {
        const FeedTime plain = feedlet::ParseFeedDate(text.c_str(), feedlet::kDateRfc822);
        const FeedTime dated = feedlet::ParseFeedDate((u"Xyz," + text).c_str(), feedlet::kDateRfc822);
        if (plain.when != dated.when || plain.zone_offset != dated.zone_offset) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string bytes(data, data + size);
    Check(bytes);
    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    Check(units);
    return 0;
}
