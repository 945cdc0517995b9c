// feedlet-tool date rfc822|w3c TEXT: one feed date as the engine reads it.
#include <cstdio>
#include <cstring>
#include <string>

#include "feed/feed_date.h"
#include "tool.h"

namespace feedlet {
namespace tool {

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
    const FeedTime time = ParseFeedDate(FromCommandLine(argv[1]).c_str(), format);
    char line[64];
    std::snprintf(line, sizeof line, "{\"when\":%ld,\"zone_offset\":%ld}\n", static_cast<long>(time.when),
                  static_cast<long>(time.zone_offset));
    Print(line);
    return 0;
}

}  // namespace tool
}  // namespace feedlet
