#include "ini_check.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "config/configuration.h"
#include "core/codepage.h"
#include "core/text_field.h"
#include "fetch/feed_crawler.h"
#include "platform/ini.h"
#include "platform/platform.h"

namespace feedlet {
namespace ini_check {

namespace {

namespace fs = std::filesystem;

// Settings marked for saving in the load-save-load check, per list: every
// write rewrites the whole file, and a count of 1000 costs the input only a
// dozen bytes. Settings left unmarked must read back unchanged too.
constexpr int kSavedSettings = 12;
// Settings whose default name is checked against the file.
constexpr int kNamedSettings = 20;

// A host folder of its own for the whole process, removed at exit.
class Workspace {
public:
    Workspace() {
        std::random_device seed;
        fs::path base = fs::temp_directory_path();
        std::error_code error;
        do {
            host_ = base / ("feedlet-ini-check-" + std::to_string(seed()));
        } while (!fs::create_directory(host_, error) && !error);
        plugins_ = host_ / "Plugins";
        fs::create_directory(plugins_, error);
    }
    ~Workspace() {
        std::error_code ignored;
        fs::remove_all(host_, ignored);
    }
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    const fs::path& host() const { return host_; }
    const fs::path& plugins() const { return plugins_; }
    fs::path feedlet() const { return plugins_ / "Feedlet"; }

private:
    fs::path host_;
    fs::path plugins_;
};

Workspace& TheWorkspace() {
    static Workspace workspace;
    return workspace;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Splits the input at up to two separators; a part that is not there is
// a file that does not exist.
struct Files {
    bool present[3] = {false, false, false};
    std::string bytes[3];
};

Files Split(const unsigned char* data, size_t size) {
    Files files;
    const char* p = reinterpret_cast<const char*>(data);
    const char* end = p + size;
    for (int part = 0; part < 3; ++part) {
        files.present[part] = true;
        const char* stop = part < 2 ? static_cast<const char*>(std::memchr(p, kFileSeparator, end - p)) : nullptr;
        if (!stop) {
            files.bytes[part].assign(p, end);
            break;
        }
        files.bytes[part].assign(p, stop);
        p = stop + 1;
    }
    return files;
}

std::string Cp932(const char16_t* text) {
    char* bytes = Utf16ToCodePage(platform::kCodePageShiftJis, text);
    std::string result = bytes ? bytes : "";
    free(bytes);
    return result;
}

bool Terminated(const char* field, size_t width) { return std::memchr(field, 0, width) != nullptr; }

std::string Quoted(const char* text) { return std::string("\"") + (text ? text : "(null)") + "\""; }

bool IsZoneOf(const Configuration& c, const TimeZoneEntry* zone) {
    for (TimeZoneEntry* z : c.time_zones.As<TimeZoneEntry>())
        if (z == zone) return true;
    return false;
}

// The name of the first feed with crawler, as saving writes it; "" for none.
std::string TargetName(const Configuration& c, const FeedCrawler* crawler) {
    if (!crawler) return "";
    for (FeedEntry* e : c.feeds.As<FeedEntry>())
        if (e && e->crawler == crawler) return e->name;
    return "(unregistered)";
}

std::string ZoneName(const TimeZoneEntry* zone) { return zone ? zone->short_name : ""; }

std::u16string Wide(const TextField& field) {
    const char16_t* text = field.Wide();
    return text ? std::u16string(text) : std::u16string();
}

// True when text comes back from code page 932 as it was and fits the
// buffer it is read into: only then can any file carry it.
bool Survives(const std::u16string& text, size_t buffer) {
    if (text.empty()) return true;
    char* bytes = Utf16ToCodePage(platform::kCodePageShiftJis, text.c_str());
    if (!bytes) return false;
    bool fits = std::strlen(bytes) < buffer;
    char16_t* back = CodePageToUtf16(platform::kCodePageShiftJis, bytes);
    bool same = back && text == back;
    free(back);
    free(bytes);
    return fits && same;
}

std::string CheckZones(const Configuration& c, const Files& files) {
    if (c.time_zones.Empty()) return "no time zone: the default zone is missing";
    for (TimeZoneEntry* z : c.time_zones.As<TimeZoneEntry>()) {
        if (!z) return "a null time zone";
        if (!Terminated(z->short_name, sizeof z->short_name)) return "a zone short name is not terminated";
        if (!z->short_name[0]) return "a zone with an empty short name (an empty SName ends the list)";
        if (z->name.text && (z->name.kind != kTextNarrow || std::strlen(z->name.Narrow()) > 254))
            return "a zone name is not narrow or longer than its 255-byte buffer allows";
    }
    if (!files.present[2]) {
        auto* zone = c.time_zones.At<TimeZoneEntry>(0);
        if (c.time_zones.Count() != 1 || std::strcmp(zone->short_name, "TYO") != 0 || zone->offset != 540 ||
            !zone->name.Narrow() || zone->name.Narrow() != Cp932(u"東京"))
            return "without a host data file the zones are not exactly TYO / 東京 / +540";
    }
    return "";
}

std::string CheckFeeds(const Configuration& c) {
    if (c.feeds.Count() > static_cast<uint32_t>(kMaxFeeds)) return "more than 1000 feeds";
    // The list ends at the first section without a URL, whatever follows.
    std::string file = FeedListPath();
    uint32_t leading = 0;
    for (; leading < static_cast<uint32_t>(kMaxFeeds); ++leading) {
        char section[32], url[8];
        std::snprintf(section, sizeof section, "RSS%03u", leading);
        if (platform::IniReadString(file.c_str(), section, "URL", "", url, sizeof url) == 0 || !url[0]) break;
    }
    if (c.feeds.Count() != leading)
        return "read " + std::to_string(c.feeds.Count()) + " feeds where " + std::to_string(leading) +
               " sections with a URL lead the file";
    int index = 0;
    for (FeedEntry* e : c.feeds.As<FeedEntry>()) {
        int i = index++;
        if (!e) return "a null feed entry";
        if (!Terminated(e->name, sizeof e->name) || std::strlen(e->name) > 254)
            return "a feed name is not terminated within its 255-byte buffer";
        if (i < kNamedSettings) {
            // Only a missing RSSName has the default; an empty one is empty.
            char section[32], name[255];
            std::snprintf(section, sizeof section, "RSS%03d", i);
            // A value never holds a line end: "\n" comes back only for a missing key.
            platform::IniReadString(file.c_str(), section, "RSSName", "\n", name, sizeof name);
            std::string expected = name;
            if (expected == "\n") {
                char number[16];
                std::snprintf(number, sizeof number, "RSS%03d", i + 1);
                expected = number;
            }
            if (e->name != expected)
                return "feed " + std::to_string(i) + ": name " + Quoted(e->name) + " where the file gives " +
                       Quoted(expected.c_str());
        }
        if (!e->crawler) return "a feed without a crawler";
        const char* url = e->crawler->url.Narrow();
        if (!url || !*url) return "a feed with an empty URL: it should have ended the list";
        if (std::strlen(url) > 4095) return "a URL longer than its 4096-byte buffer allows";
        if (e->crawler->interval < 300) return "an interval below 300 seconds";
        if (e->edit_mark != kEditNone || e->pending) return "a freshly read feed carries an edit";
        if (e->crawler->document || e->crawler->workers.load() != 0) return "a crawler was started by reading";
    }
    return "";
}

std::string CheckSettings(const Configuration& c) {
    if (c.info_count < 0 || c.info_count > kMaxSettings || c.item_count < 0 || c.item_count > kMaxSettings)
        return "a settings count outside 0..1000: " + std::to_string(c.info_count) + ", " +
               std::to_string(c.item_count);
    if (c.info_settings.Count() != static_cast<uint32_t>(c.info_count) ||
        c.item_settings.Count() != static_cast<uint32_t>(c.item_count))
        return "the settings lists do not hold the counts read";
    if (c.menu_time_zone && !IsZoneOf(c, c.menu_time_zone)) return "the menu zone is not one of the zones";
    const std::string default_prefix = Cp932(u"設定");
    std::string file = SettingsPath();
    for (const ItemList* list : {&c.info_settings, &c.item_settings}) {
        const char* prefix = list == &c.info_settings ? "Info" : "Item";
        int index = 0;
        for (DisplaySetting* s : list->As<DisplaySetting>()) {
            int i = index++;
            std::string where = std::string(prefix) + std::to_string(i) + ": ";
            if (!s) return where + "a null setting";
            if (!Terminated(s->name, sizeof s->name) || std::strlen(s->name) > 254)
                return where + "a setting name is not terminated within its 255-byte buffer";
            if (!s->name[0]) return where + "a setting without a name (Name defaults to 設定%03d)";
            if (s->crawler && TargetName(c, s->crawler) == "(unregistered)")
                return where + "a setting's target is no registered feed's crawler";
            if (s->zone && !IsZoneOf(c, s->zone)) return where + "a setting's zone is not one of the zones";
            if (s->num < 1 || s->num > 99) return where + "num outside 1..99";
            if (s->dirty) return where + "a freshly read setting is marked for saving";
            if (s->split.text && (s->split.kind != kTextWide || s->split.Length() > 15))
                return where + "the separator is not wide or longer than its 16-byte buffer allows";
            if (s->format.text && (s->format.kind != kTextWide || s->format.Length() > 1023))
                return where + "the format is not wide or longer than its 1024-byte buffer allows";
            if (i < kNamedSettings) {
                char section[32], name[255];
                std::snprintf(section, sizeof section, "%s%03d", prefix, i);
                platform::IniReadString(file.c_str(), section, "Name", "", name, sizeof name);
                char number[16];
                std::snprintf(number, sizeof number, "%03d", i + 1);
                std::string expected = name[0] ? std::string(name) : default_prefix + number;
                if (s->name != expected)
                    return where + "name " + Quoted(s->name) + " where the file gives " + Quoted(expected.c_str());
            }
        }
    }
    return "";
}

// What a second reading must give again after everything was saved.
std::string CompareAfterSaving(const Configuration& a, const Configuration& b) {
    if (a.info_count != b.info_count || a.item_count != b.item_count) return "the counts changed";
    if (a.options != b.options) return "the options changed";
    if (ZoneName(a.menu_time_zone) != ZoneName(b.menu_time_zone))
        return "the menu zone changed from " + Quoted(ZoneName(a.menu_time_zone).c_str()) + " to " +
               Quoted(ZoneName(b.menu_time_zone).c_str());
    if (a.feeds.Count() != b.feeds.Count())
        return "the feed count changed from " + std::to_string(a.feeds.Count()) + " to " +
               std::to_string(b.feeds.Count());
    for (uint32_t i = 0; i < a.feeds.Count(); ++i) {
        const FeedEntry* x = a.feeds.At<FeedEntry>(static_cast<int32_t>(i));
        const FeedEntry* y = b.feeds.At<FeedEntry>(static_cast<int32_t>(i));
        std::string where = "feed " + std::to_string(i) + ": ";
        if (std::strcmp(x->name, y->name) != 0)
            return where + "name " + Quoted(x->name) + " came back as " + Quoted(y->name);
        if (std::strcmp(x->crawler->url.Narrow(), y->crawler->url.Narrow()) != 0)
            return where + "URL " + Quoted(x->crawler->url.Narrow()) + " came back as " +
                   Quoted(y->crawler->url.Narrow());
        if (x->crawler->interval != y->crawler->interval || x->crawler->flags != y->crawler->flags)
            return where + "interval or flag changed";
    }
    for (const ItemList* list : {&a.info_settings, &a.item_settings}) {
        const ItemList* other = list == &a.info_settings ? &b.info_settings : &b.item_settings;
        for (uint32_t i = 0; i < list->Count(); ++i) {
            const auto* x = list->At<DisplaySetting>(static_cast<int32_t>(i));
            const auto* y = other->At<DisplaySetting>(static_cast<int32_t>(i));
            std::string where = std::string(list == &a.info_settings ? "Info" : "Item") + std::to_string(i) + ": ";
            if (std::strcmp(x->name, y->name) != 0)
                return where + "name " + Quoted(x->name) + " came back as " + Quoted(y->name);
            if (TargetName(a, x->crawler) != TargetName(b, y->crawler))
                return where + "target " + Quoted(TargetName(a, x->crawler).c_str()) + " came back as " +
                       Quoted(TargetName(b, y->crawler).c_str());
            if (x->flag != y->flag || x->num != y->num || x->time != y->time)
                return where + "flag, num or time changed";
            if (ZoneName(x->zone) != ZoneName(y->zone))
                return where + "zone " + Quoted(ZoneName(x->zone).c_str()) + " came back as " +
                       Quoted(ZoneName(y->zone).c_str());
            // A text that code page 932 cannot carry is lost by any file;
            // every other text must come back.
            if (Survives(Wide(x->split), 16) && Wide(x->split) != Wide(y->split))
                return where + "the separator changed";
            if (Survives(Wide(x->format), 1024) && Wide(x->format) != Wide(y->format))
                return where + "the format changed";
        }
    }
    return "";
}

std::string CheckLoaded(const Files& files, Configuration& first) {
    if (!files.present[0] && !files.present[1] &&
        platform::DirectoryHasEntry((TheWorkspace().plugins().string() + platform::kPathSeparator).c_str(),
                                    "Feedlet"))
        return "reading created the Feedlet folder";
    std::string fault = CheckZones(first, files);
    if (fault.empty()) fault = CheckFeeds(first);
    if (fault.empty()) fault = CheckSettings(first);
    if (!fault.empty()) return fault;

    for (ItemList* list : {&first.info_settings, &first.item_settings}) {
        int i = 0;
        for (DisplaySetting* s : list->As<DisplaySetting>())
            if (i++ < kSavedSettings) s->dirty = 1;
    }
    SaveMainSettings(first);
    SaveFeeds(first);
    Configuration second;
    LoadConfiguration(second);
    fault = CompareAfterSaving(first, second);
    return fault.empty() ? "" : "after saving and reading again: " + fault;
}

}  // namespace

std::string CheckInput(const unsigned char* data, size_t size) {
    Workspace& workspace = TheWorkspace();
    Files files = Split(data, size);
    std::error_code ignored;
    fs::remove_all(workspace.feedlet(), ignored);
    fs::remove(workspace.host() / "QVL_Data.ini", ignored);
    if (files.present[0] || files.present[1]) fs::create_directory(workspace.feedlet(), ignored);
    if (files.present[0]) WriteBytes(workspace.feedlet() / "RSS.ini", files.bytes[0]);
    if (files.present[1]) WriteBytes(workspace.feedlet() / "Setting.ini", files.bytes[1]);
    if (files.present[2]) WriteBytes(workspace.host() / "QVL_Data.ini", files.bytes[2]);

    std::string saved = platform::PluginDirectory();
    platform::SetPluginDirectory(workspace.plugins().string().c_str());
    std::string fault;
    {
        Configuration first;
        LoadConfiguration(first);
        fault = CheckLoaded(files, first);
    }
    platform::SetPluginDirectory(saved.c_str());
    return fault;
}

}  // namespace ini_check
}  // namespace feedlet
