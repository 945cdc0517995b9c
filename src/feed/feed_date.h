// Feed dates: the RFC 822 form of RSS 2.0 ("Sun, 01 May 2011 10:00:00 +0900")
// and the W3C date-time form of RSS 1.0 and Atom ("2011-05-01T10:00:00+09:00")
// turned into a FeedTime. The reader is forgiving: it never rejects a text,
// reads what it can and lets missing fields default, so every article with a
// date element gets a time that sorts and subtracts against CurrentTime.
#pragma once

#include "core/plugin_time.h"

namespace feedlet {

enum FeedDateFormat : int {
    kDateRfc822 = 0,  // RSS 2.0: pubDate, lastBuildDate
    kDateW3c = 1,     // RSS 1.0 dc:date, Atom updated
};

// Parses text (NUL-terminated UTF-16; null reads as empty) in the given
// format; any format other than kDateW3c reads as RFC 822. The text is not
// modified. `when` is -1 when the instant lies before 1970 or beyond
// 2038-01-19 03:14:07 UTC; `zone_offset` is 0 for an unnamed or unknown zone.
FeedTime ParseFeedDate(const char16_t* text, int format);

}  // namespace feedlet
