// feedlet-tool date rfc822|w3c TEXT: one feed date as the engine reads it.
#include <cstdio>
#include <cstring>
#include <string>

#include "feed/feed_date.h"
#include "platform/platform.h"
#include "tool.h"

namespace feedlet {
namespace tool {

namespace {

// Command-line text as UTF-16: on Windows the arguments arrive in the ANSI
// code page (932 for our users), elsewhere in UTF-8.
std::u16string ArgumentText(const char* argument) {
    std::u16string text;
#ifdef _WIN32
    const int units = platform::MultiByteToUtf16(platform::kCodePageShiftJis, argument, -1, nullptr, 0);
    if (units <= 0) return text;
    text.resize(static_cast<size_t>(units));
    platform::MultiByteToUtf16(platform::kCodePageShiftJis, argument, -1, &text[0], units);
    text.resize(static_cast<size_t>(units) - 1);
#else
    // A byte that does not start or continue a sequence becomes U+FFFD.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(argument);
    while (*p) {
        uint32_t cp = *p++;
        int more = 0;
        if (cp >= 0xF0 && cp <= 0xF4) more = 3, cp &= 0x07;
        else if (cp >= 0xE0 && cp <= 0xEF) more = 2, cp &= 0x0F;
        else if (cp >= 0xC2 && cp <= 0xDF) more = 1, cp &= 0x1F;
        else if (cp >= 0x80) cp = 0xFFFD;
        for (; more > 0 && (*p & 0xC0) == 0x80; --more) cp = cp << 6 | (*p++ & 0x3F);
        if (more > 0) cp = 0xFFFD;
        if (cp >= 0x10000) {
            text += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            text += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            text += static_cast<char16_t>(cp);
        }
    }
#endif
    return text;
}

}  // namespace

int RunDate(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: feedlet-tool date rfc822|w3c TEXT\n");
        return 2;
    }
    int format;
    if (std::strcmp(argv[0], "rfc822") == 0) format = kDateRfc822;
    else if (std::strcmp(argv[0], "w3c") == 0) format = kDateW3c;
    else {
        std::fprintf(stderr, "date: format must be rfc822 or w3c\n");
        return 2;
    }
    const FeedTime time = ParseFeedDate(ArgumentText(argv[1]).c_str(), format);
    char line[64];
    std::snprintf(line, sizeof line, "{\"when\":%ld,\"zone_offset\":%ld}\n", static_cast<long>(time.when),
                  static_cast<long>(time.zone_offset));
    Print(line);
    return 0;
}

}  // namespace tool
}  // namespace feedlet
