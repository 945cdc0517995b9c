#include "config/configuration.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "core/codepage.h"
#include "core/ui_text.h"
#include "fetch/feed_crawler.h"
#include "platform/ini.h"

namespace feedlet {

namespace {

// A setting without a Name is called this and its number ("設定001").
const UiText kDefaultSettingName(u"設定");
const UiText kDefaultZoneName(u"東京");
constexpr uint32_t kMinimumInterval = 300;
constexpr int32_t kDefaultInterval = 1800;

std::string PluginDirectory() { return platform::PluginDirectory(); }

std::string FeedletFolder() { return PluginDirectory() + "Feedlet"; }

// Reading stops at the first allocation that fails, by throwing
// std::bad_alloc up to LoadConfiguration, so that no record is kept with a
// field silently missing or defaulted. The record being read is owned by a
// unique_ptr until its list holds it.
template <typename T>
T* Need(T* allocated) {
    if (!allocated) throw std::bad_alloc();
    return allocated;
}

// The copy of a text into a field, or the reading stops.
void NeedNarrow(TextField& field, const char* text) {
    if (!field.AssignNarrow(text) && text && *text) throw std::bad_alloc();
}
void NeedWide(TextField& field, const char16_t* text) {
    if (!field.AssignWide(text) && text && *text) throw std::bad_alloc();
}

template <typename T>
void AppendOwned(ItemList& list, std::unique_ptr<T>& item) {
    if (!list.Append(item.get())) throw std::bad_alloc();
    item.release();
}

// Copies text into a fixed field, always terminated.
template <size_t N>
void CopyName(char (&field)[N], const char* text) {
    std::snprintf(field, N, "%s", text ? text : "");
}

// Releases a feed's pending edit, if any, together with its crawler.
void ReleasePending(FeedEntry* entry) {
    if (!entry->pending) return;
    DestroyAndFree(entry->pending->crawler);
    delete entry->pending;
    entry->pending = nullptr;
}

void ReleaseFeedEntry(FeedEntry* entry) {
    if (!entry) return;
    ReleasePending(entry);
    DestroyAndFree(entry->crawler);
    delete entry;
}

// Writes a text value so that it reads back the same. Reading trims blanks
// and removes one pair of enclosing quotes, so a text that begins or ends
// with a blank or a quote character is written between double quotes;
// anything else is written as it is.
void WriteText(const char* file, const char* section, const char* key, const char* text) {
    size_t length = text ? std::strlen(text) : 0;
    auto fragile = [](char c) { return c == ' ' || c == '\t' || c == '"' || c == '\''; };
    if (length == 0 || (!fragile(text[0]) && !fragile(text[length - 1]))) {
        platform::IniWriteString(file, section, key, text);
        return;
    }
    std::string quoted = std::string("\"") + text + "\"";
    platform::IniWriteString(file, section, key, quoted.c_str());
}

// Looks for the "Feedlet" folder and creates it when missing; a failure is
// ignored (the writes that follow then fail silently).
void EnsureFeedletFolder() {
    std::string directory = PluginDirectory();
    if (!platform::DirectoryHasEntry(directory.c_str(), "Feedlet"))
        platform::CreateFolder(FeedletFolder().c_str());
}

// The first zone whose short name equals short_name byte for byte, or null.
TimeZoneEntry* FindTimeZone(const ItemList& time_zones, const char* short_name) {
    if (!short_name || !*short_name) return nullptr;
    for (TimeZoneEntry* zone : time_zones.As<TimeZoneEntry>())
        if (zone && std::strcmp(zone->short_name, short_name) == 0) return zone;
    return nullptr;
}

// The first feed entry whose name equals name byte for byte, or null.
FeedEntry* FindFeedByName(const ItemList& feeds, const char* name) {
    if (!name) return nullptr;
    for (FeedEntry* entry : feeds.As<FeedEntry>())
        if (entry && std::strcmp(entry->name, name) == 0) return entry;
    return nullptr;
}

void ReadTimeZones(Configuration& config) {
    std::string file = HostDataFilePath();
    for (int n = 1;; ++n) {
        char section[32];
        std::snprintf(section, sizeof section, "TimeZone%03d", n);
        char short_name[16];
        if (platform::IniReadString(file.c_str(), section, "SName", "", short_name, sizeof short_name) == 0)
            break;
        std::unique_ptr<TimeZoneEntry> zone(Need(new (std::nothrow) TimeZoneEntry));
        CopyName(zone->short_name, short_name);
        char name[255];
        platform::IniReadString(file.c_str(), section, "Name", "", name, sizeof name);
        NeedNarrow(zone->name, name);
        // Unsigned arithmetic: hostile values wrap instead of overflowing.
        uint32_t hours = static_cast<uint32_t>(platform::IniReadInt(file.c_str(), section, "Hour", 0));
        uint32_t minutes = static_cast<uint32_t>(platform::IniReadInt(file.c_str(), section, "Minute", 0));
        uint32_t offset = hours * 60u + minutes;
        if (platform::IniReadInt(file.c_str(), section, "Minus", 0) != 0) offset = 0u - offset;
        zone->offset = static_cast<int32_t>(offset);
        AppendOwned(config.time_zones, zone);
    }
    if (config.time_zones.Empty()) {
        std::unique_ptr<TimeZoneEntry> zone(Need(new (std::nothrow) TimeZoneEntry));
        CopyName(zone->short_name, "TYO");
        NeedNarrow(zone->name, kDefaultZoneName.Narrow());
        zone->offset = 540;
        AppendOwned(config.time_zones, zone);
    }
}

void ReadFeeds(Configuration& config) {
    std::string file = FeedListPath();
    for (int i = 0; i < kMaxFeeds; ++i) {
        char section[32];
        std::snprintf(section, sizeof section, "RSS%03d", i);
        char url[4096];
        if (platform::IniReadString(file.c_str(), section, "URL", "", url, sizeof url) == 0) break;
        char default_name[UiText::kCapacity + 16];  // the word and any int
        std::snprintf(default_name, sizeof default_name, "RSS%03d", i + 1);
        char name[255];
        platform::IniReadString(file.c_str(), section, "RSSName", default_name, name, sizeof name);
        uint32_t interval =
            static_cast<uint32_t>(platform::IniReadInt(file.c_str(), section, "Interval", kDefaultInterval));
        if (interval < kMinimumInterval) interval = kMinimumInterval;
        uint8_t flag = static_cast<uint8_t>(platform::IniReadInt(file.c_str(), section, "Flag", 0));

        FeedEntry* entry = Need(NewFeedEntry(name, url, interval, flag));
        if (!config.feeds.Append(entry)) {
            ReleaseFeedEntry(entry);
            throw std::bad_alloc();
        }
    }
}

// Counts are 16-bit; only the upper limit is a rule of the file, and a
// negative count must never become a loop bound, so it means no settings.
int16_t ReadCount(const char* file, const char* key) {
    int16_t count = static_cast<int16_t>(platform::IniReadInt(file, "Main", key, 10));
    if (count > kMaxSettings) count = kMaxSettings;
    if (count < 0) count = 0;
    return count;
}

char16_t* ReadWideText(const char* file, const char* section, const char* key, size_t size) {
    char text[1024];
    if (size > sizeof text) size = sizeof text;
    if (platform::IniReadString(file, section, key, "", text, size) == 0) return nullptr;
    char16_t* wide = Need(CodePageToUtf16(platform::kCodePageShiftJis, text));
    // Every byte of code page 932 text converts to something (bytes that
    // are no character too): an empty result means the conversion itself
    // could not run, out of memory.
    if (!*wide) {
        free(wide);
        throw std::bad_alloc();
    }
    return wide;
}

// A wide text of at most size bytes of code page 932 into field; a value
// missing or empty leaves it empty.
void ReadWideField(TextField& field, const char* file, const char* section, const char* key, size_t size) {
    std::unique_ptr<char16_t, decltype(&free)> text(ReadWideText(file, section, key, size), &free);
    if (text) NeedWide(field, text.get());
}

void ReadDisplaySettings(Configuration& config, ItemList& list, const char* prefix, int count) {
    std::string file = SettingsPath();
    for (int i = 0; i < count; ++i) {
        char section[32];
        std::snprintf(section, sizeof section, "%s%03d", prefix, i);
        std::unique_ptr<DisplaySetting> setting(Need(new (std::nothrow) DisplaySetting));

        char default_name[UiText::kCapacity + 16];  // the word and any int
        std::snprintf(default_name, sizeof default_name, "%s%03d", kDefaultSettingName.Narrow(), i + 1);
        char name[255];
        if (platform::IniReadString(file.c_str(), section, "Name", "", name, sizeof name) == 0)
            CopyName(setting->name, default_name);
        else
            CopyName(setting->name, name);

        char target[255];
        if (platform::IniReadString(file.c_str(), section, "Target", "", target, sizeof target) > 0) {
            FeedEntry* entry = FindFeedByName(config.feeds, target);
            setting->crawler = entry ? entry->crawler : nullptr;
        }
        setting->flag = static_cast<uint8_t>(platform::IniReadInt(file.c_str(), section, "Flag", 0));
        uint32_t num = static_cast<uint32_t>(platform::IniReadInt(file.c_str(), section, "Num", 3));
        if (num > 99) num = 99;
        if (num == 0) num = 1;
        setting->num = num;
        setting->time = platform::IniReadInt(file.c_str(), section, "Time", 300);

        ReadWideField(setting->split, file.c_str(), section, "Split", 16);
        ReadWideField(setting->format, file.c_str(), section, "Format", 1024);
        char zone[16];
        if (platform::IniReadString(file.c_str(), section, "TimeZone", "", zone, sizeof zone) > 0)
            setting->zone = FindTimeZone(config.time_zones, zone);
        setting->dirty = 0;
        AppendOwned(list, setting);
    }
}

void ReadSettings(Configuration& config) {
    std::string file = SettingsPath();
    config.info_count = ReadCount(file.c_str(), "InfoNum");
    config.item_count = ReadCount(file.c_str(), "ItemNum");
    char zone[16];
    config.menu_time_zone = nullptr;
    if (platform::IniReadString(file.c_str(), "Main", "MenuTimeZone", "", zone, sizeof zone) > 0)
        config.menu_time_zone = FindTimeZone(config.time_zones, zone);
    config.options = static_cast<uint8_t>(platform::IniReadInt(file.c_str(), "Main", "Flag", 1));
    ReadDisplaySettings(config, config.info_settings, "Info", config.info_count);
    ReadDisplaySettings(config, config.item_settings, "Item", config.item_count);
}

// Marks every setting that shows crawler for saving; with clear_target it
// also clears their target (the feed is going), without it only marks them
// (the feed was edited: their Target is rewritten).
void MarkSettingsOf(Configuration& config, FeedCrawler* crawler, bool clear_target) {
    for (ItemList* list : {&config.info_settings, &config.item_settings}) {
        for (DisplaySetting* setting : list->As<DisplaySetting>()) {
            if (!setting || setting->crawler != crawler) continue;
            if (clear_target) setting->crawler = nullptr;
            setting->dirty = 1;
        }
    }
}

const char* FeedNameOf(const ItemList& feeds, const FeedCrawler* crawler) {
    for (FeedEntry* entry : feeds.As<FeedEntry>())
        if (entry && entry->crawler == crawler) return entry->name;
    return nullptr;
}

void WriteDisplaySettings(const Configuration& config, const ItemList& list, const char* prefix) {
    std::string file = SettingsPath();
    int i = 0;
    for (DisplaySetting* setting : list.As<DisplaySetting>()) {
        int index = i++;
        if (!setting || !setting->dirty) continue;
        setting->dirty = 0;
        char section[32];
        std::snprintf(section, sizeof section, "%s%03d", prefix, index);
        const char* f = file.c_str();
        WriteText(f, section, "Name", setting->name);
        if (setting->crawler) {
            // A crawler no entry owns any more: Target is left as it was.
            if (const char* target = FeedNameOf(config.feeds, setting->crawler))
                WriteText(f, section, "Target", target);
        } else {
            platform::IniWriteString(f, section, "Target", "");
        }
        char number[32];
        std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(setting->flag));
        platform::IniWriteString(f, section, "Flag", number);
        std::snprintf(number, sizeof number, "%u", static_cast<unsigned>(setting->num));
        platform::IniWriteString(f, section, "Num", number);
        std::snprintf(number, sizeof number, "%d", static_cast<int>(setting->time));
        platform::IniWriteString(f, section, "Time", number);
        // Quotes keep blanks at either end through the next reading.
        for (auto field : {std::make_pair("Split", &setting->split), std::make_pair("Format", &setting->format)}) {
            const char16_t* text = field.second->Wide();
            char* narrow = (text && *text) ? Utf16ToCodePage(platform::kCodePageShiftJis, text) : nullptr;
            if (narrow) {
                std::string quoted = std::string("\"") + narrow + "\"";
                platform::IniWriteString(f, section, field.first, quoted.c_str());
                free(narrow);
            } else {
                platform::IniWriteString(f, section, field.first, "");
            }
        }
        // A short name read between quotes may begin or end with a blank.
        WriteText(f, section, "TimeZone", setting->zone ? setting->zone->short_name : "");
    }
}

}  // namespace

void ReleaseConfigItem(void* item, uint32_t kind, uint32_t /*unused*/) {
    if (!item) return;
    switch (kind) {
        case kReleaseFeedEntry:
            ReleaseFeedEntry(static_cast<FeedEntry*>(item));
            break;
        case kReleaseDisplaySetting:
            // Nothing refers to a setting once its list lets go of it.
            delete static_cast<DisplaySetting*>(item);
            break;
        case kReleaseTimeZone:
            delete static_cast<TimeZoneEntry*>(item);
            break;
        default:
            break;
    }
}

FeedEntry* NewFeedEntry(const char* name, const char* location, uint32_t interval, uint8_t flags) {
    auto* entry = new (std::nothrow) FeedEntry;
    auto* crawler = new (std::nothrow) FeedCrawler;
    if (!entry || !crawler) {
        delete entry;
        delete crawler;
        return nullptr;
    }
    Configure(crawler, location, interval, flags);
    // A crawler without its lock or its location would run unguarded or
    // fetch nothing: out of memory, the feed is not registered at all.
    bool whole = crawler->mutex.IsCreated() && (!location || !*location || crawler->url.Narrow());
    if (!whole) {
        DestroyAndFree(crawler);
        delete entry;
        return nullptr;
    }
    CopyName(entry->name, name);
    entry->crawler = crawler;
    return entry;
}

std::string HostDataFilePath() {
    // Cut the plugin directory's own trailing separator, then everything after
    // the separator before it.
    std::string directory = PluginDirectory();
    if (!directory.empty()) directory.pop_back();
    const char* cut = platform::LastPathSeparator(directory.c_str());
    std::string parent = cut ? directory.substr(0, static_cast<size_t>(cut - directory.c_str()) + 1) : std::string();
    return parent + "QVL_Data.ini";
}

std::string FeedListPath() { return FeedletFolder() + platform::kPathSeparator + "RSS.ini"; }

std::string SettingsPath() { return FeedletFolder() + platform::kPathSeparator + "Setting.ini"; }

void Configuration::Clear() {
    info_settings.Clear();
    item_settings.Clear();
    feeds.Clear();
    time_zones.Clear();
    info_count = 0;
    item_count = 0;
    menu_time_zone = nullptr;
    options = 0;
}

const ItemList* Configuration::SettingsOf(int number) const {
    if (number == 1) return &info_settings;
    if (number == 2) return &item_settings;
    return nullptr;
}

void LoadConfiguration(Configuration& config) {
    try {
        ReadTimeZones(config);
        ReadFeeds(config);
        ReadSettings(config);
    } catch (const std::bad_alloc&) {
        // What was read whole stays; see Need.
    }
}

int CommitFeedEdits(Configuration& config, platform::Mutex& plugin_lock, int apply, CrawlerNotifyFn notify) {
    platform::MutexLock hold(plugin_lock);
    int result = 0;
    // From the last entry to the first, so removing one never shifts an entry
    // still to be visited.
    for (int32_t i = static_cast<int32_t>(config.feeds.Count()) - 1; i >= 0; --i) {
        auto* entry = config.feeds.At<FeedEntry>(i);
        if (!entry) continue;
        bool removed = apply && entry->edit_mark == kEditDeleted;
        // Only feeds the dialog added lack a callback, whatever mark a later
        // change in the same session left on them. Each gets one before any
        // fetch below starts; the schedule may be fetching it already, and
        // the worker reads the callback under the crawler's lock.
        FeedCrawler* crawler = entry->crawler;
        if (notify && crawler && !crawler->notify && !removed) {
            LockCancellingFetch(crawler);
            crawler->notify = notify;
            Unlock(crawler);
        }
        switch (entry->edit_mark) {
            case kEditAdded:
                if (apply) Start(crawler);
                result = 1;
                break;
            case kEditModified:
                if (!apply) break;
                if (FeedEntry* pending = entry->pending) {
                    CopyName(entry->name, pending->name);
                    if (FeedCrawler* edited = pending->crawler) {
                        if (FeedCrawler* own = entry->crawler) {
                            // A fetch of the old settings is cut short, not
                            // waited out: the new ones are fetched at once.
                            LockCancellingFetch(own);
                            Configure(own, edited->url.Narrow(), edited->interval, edited->flags);
                            Unlock(own);
                            Start(own);
                        }
                        MarkSettingsOf(config, entry->crawler, false);
                    }
                }
                result = 1;
                break;
            case kEditDeleted:
                if (!apply) break;
                MarkSettingsOf(config, entry->crawler, true);
                config.feeds.RemoveAt(i, 1);
                result = 1;
                continue;
            default:
                break;
        }
        entry->edit_mark = kEditNone;
        ReleasePending(entry);
    }
    return result;
}

void SaveFeeds(Configuration& config) {
    EnsureFeedletFolder();
    std::string file = FeedListPath();
    const char* f = file.c_str();
    int i = 0;
    for (FeedEntry* entry : config.feeds.As<FeedEntry>()) {
        char section[32];
        std::snprintf(section, sizeof section, "RSS%03d", i++);
        if (!entry) continue;
        WriteText(f, section, "RSSName", entry->name);
        if (FeedCrawler* crawler = entry->crawler) {
            WriteText(f, section, "URL", crawler->url.Narrow());
            char number[32];
            std::snprintf(number, sizeof number, "%d", static_cast<int>(crawler->interval));
            platform::IniWriteString(f, section, "Interval", number);
            std::snprintf(number, sizeof number, "0x%x", static_cast<unsigned>(crawler->flags));
            platform::IniWriteString(f, section, "Flag", number);
        }
    }
    // An empty URL ends the list for the next reading; later sections stay.
    char section[32];
    std::snprintf(section, sizeof section, "RSS%03d", i);
    for (const char* key : {"RSSName", "URL", "Interval", "Flag"}) platform::IniWriteString(f, section, key, "");
    SaveDisplaySettings(config);
}

void SaveMainSettings(const Configuration& config) {
    EnsureFeedletFolder();
    std::string file = SettingsPath();
    const char* f = file.c_str();
    char number[32];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(config.info_count));
    platform::IniWriteString(f, "Main", "InfoNum", number);
    std::snprintf(number, sizeof number, "%d", static_cast<int>(config.item_count));
    platform::IniWriteString(f, "Main", "ItemNum", number);
    std::snprintf(number, sizeof number, "0x%x", static_cast<unsigned>(config.options));
    platform::IniWriteString(f, "Main", "Flag", number);
    WriteText(f, "Main", "MenuTimeZone", config.menu_time_zone ? config.menu_time_zone->short_name : "");
}

void SaveDisplaySettings(Configuration& config) {
    EnsureFeedletFolder();
    WriteDisplaySettings(config, config.info_settings, "Info");
    WriteDisplaySettings(config, config.item_settings, "Item");
}

}  // namespace feedlet
