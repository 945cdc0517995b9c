// feedlet-tool expand LOCATION FORMAT [options]: what GetText returns for a
// display setting with these values, through the same code path.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "fetch/feed_crawler.h"
#include "text/display_text.h"
#include "text/time_utils.h"
#include "tool.h"

namespace feedlet {
namespace tool {

int RunExpand(int argc, char** argv) {
    if (argc < 2) return 2;
    const char* location = argv[0];
    DisplaySetting setting;
    std::u16string format = FromCommandLine(argv[1]);
    setting.format.AssignWide(format.c_str());
    setting.flag = kConditionAll;
    int function = 2;
    bool sort = false;
    bool have_now = false;
    PluginTime now = 0;
    TimeZoneEntry zone;
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--sort") {
            sort = true;
            continue;
        }
        if (!value) return 2;
        ++i;
        if (option == "--function") function = std::atoi(value);
        else if (option == "--condition") setting.flag = static_cast<uint8_t>(std::atoi(value));
        else if (option == "--num") setting.num = static_cast<uint32_t>(std::strtoul(value, nullptr, 10));
        else if (option == "--time") setting.time = std::atoi(value);
        else if (option == "--split") setting.split.AssignWide(FromCommandLine(value).c_str());
        else if (option == "--zone") {
            zone.offset = std::atoi(value);
            setting.zone = &zone;
        } else if (option == "--now") {
            now = static_cast<PluginTime>(std::strtol(value, nullptr, 10));
            have_now = true;
        } else {
            return 2;
        }
    }

    FeedCrawler crawler;
    Configure(&crawler, location, 300, sort ? kCrawlerSortByTime : 0);
    Lock(&crawler);
    CrawlerThread(&crawler);  // the fetch, on this thread
    Unlock(&crawler);
    setting.crawler = &crawler;
    if (!have_now) now = CurrentTime();

    int needed = GetTextForSetting(function, &setting, now, nullptr, 0);
    std::vector<char16_t> buffer(static_cast<size_t>(needed > 0 ? needed : 1), u'\0');
    GetTextForSetting(function, &setting, now, buffer.data(), static_cast<int>(buffer.size()));
    Print(Utf8(buffer.data()) + "\n");
    bool loaded = crawler.document != nullptr;
    Destroy(&crawler);
    return loaded ? 0 : 1;
}

}  // namespace tool
}  // namespace feedlet
