// The configuration: the host's time zones, the registered feeds (RSS.ini),
// the global options and the display settings of both text functions
// (Setting.ini), their records, their release and their saving.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/item_list.h"
#include "core/text_field.h"
#include "fetch/feed_crawler.h"
#include "platform/platform.h"

namespace feedlet {

struct TimeZoneEntry {
    char short_name[16] = {};  // key used by Setting.ini ("TYO")
    TextField name;            // narrow display name ("東京")
    int32_t offset = 0;        // minutes east of UTC
};

enum EditMark : uint8_t { kEditNone = 0, kEditAdded = 1, kEditModified = 2, kEditDeleted = 3 };

struct FeedEntry {
    char name[256] = {};
    FeedCrawler* crawler = nullptr;  // owned
    uint8_t edit_mark = kEditNone;
    FeedEntry* pending = nullptr;  // owned: the edited copy for kEditModified
};

struct DisplaySetting {
    char name[256] = {};
    FeedCrawler* crawler = nullptr;  // the target feed's crawler, not owned
    uint8_t flag = 0;                // bits 0-2: article condition
    uint32_t num = 3;                // 1..99
    int32_t time = 300;              // seconds, age limit
    TextField split;                 // wide
    TextField format;                // wide
    TimeZoneEntry* zone = nullptr;   // not owned; none: the feed's own zone
    int32_t dirty = 0;
};

// Release kinds: the first context word of each configuration list.
enum ConfigKind : uint32_t { kReleaseFeedEntry = 0, kReleaseDisplaySetting = 1, kReleaseTimeZone = 2 };

// The release callback of all four configuration lists.
void ReleaseConfigItem(void* item, uint32_t kind, uint32_t unused);

// A new feed entry named name (cut to its field) with a new crawler
// configured with location, interval and flags, not started; no mark, no
// pending copy. Null when memory ran out. Released with ReleaseConfigItem.
FeedEntry* NewFeedEntry(const char* name, const char* location, uint32_t interval, uint8_t flags);

constexpr int kMaxFeeds = 1000;
constexpr int kMaxSettings = 1000;

struct Configuration {
    ItemList time_zones{ReleaseConfigItem, kReleaseTimeZone};
    ItemList feeds{ReleaseConfigItem, kReleaseFeedEntry};
    ItemList info_settings{ReleaseConfigItem, kReleaseDisplaySetting};
    ItemList item_settings{ReleaseConfigItem, kReleaseDisplaySetting};
    int16_t info_count = 0;
    int16_t item_count = 0;
    TimeZoneEntry* menu_time_zone = nullptr;
    uint8_t options = 0;  // bit 0: show the notification-area icon

    // The display settings of text function 1 (Info) or 2 (Item); null for
    // any other number.
    const ItemList* SettingsOf(int number) const;

    // Back to the state at load: every list empty (each crawler destroyed,
    // after its running fetch), no counts, no options, no menu zone, so that
    // a later LoadConfiguration starts from nothing. Lists are released in
    // reverse dependency order: settings refer to crawlers and zones.
    void Clear();
    ~Configuration() { Clear(); }
};

// File locations, from the plugin directory (with its trailing separator).
std::string HostDataFilePath();   // parent of the plugin directory + QVL_Data.ini
std::string FeedListPath();       // plugin directory + Feedlet\RSS.ini
std::string SettingsPath();       // plugin directory + Feedlet\Setting.ini

// Reads the time zones, the feeds (creating and configuring a crawler for
// each, not started) and Setting.ini into config, which must be empty.
// When memory runs out the reading stops: the records read whole before stay
// (every reference into the lists), the one being read and all after it are
// missing, and no file is touched.
void LoadConfiguration(Configuration& config);

// Applies (apply != 0) or discards the feed manager's edit marks under
// plugin_lock; returns 1 when something was applied that needs saving.
// A feed added in the dialog (mark 1) stays registered either way and gets
// notify (when given) like every feed Init registers, so whatever menu is
// built from the list later follows its fetches; with apply it is also
// fetched at once, like a modified feed, instead of staying empty for a
// whole interval. A fetch running on a crawler it changes is cancelled, not
// waited out, so OK in the feed manager never waits on a slow server.
int CommitFeedEdits(Configuration& config, platform::Mutex& plugin_lock, int apply,
                    CrawlerNotifyFn notify = nullptr);
// Writes RSS.ini, then the dirty display settings.
void SaveFeeds(Configuration& config);
void SaveMainSettings(const Configuration& config);
void SaveDisplaySettings(Configuration& config);

}  // namespace feedlet
