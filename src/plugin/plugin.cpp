#include "plugin/plugin.h"

#include <cstring>

#include "core/encoding.h"
#include "fetch/feed_crawler.h"
#include "platform/platform.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_state.h"
#include "text/display_text.h"

namespace feedlet {

namespace {

FeedCrawler* CrawlerOfEntry(void* item) { return static_cast<FeedEntry*>(item)->crawler; }

// The setting a host number pair names, within the count the host was told.
DisplaySetting* SettingFor(int number, int setting) {
    const FuncInfo* info = FunctionInfo(number);
    if (!info || setting < 1 || setting > info->setting_count) return nullptr;
    return Plugin().SettingsOf(number)->At<DisplaySetting>(setting - 1);
}

// At process exit the system has already ended every other thread, perhaps
// in the middle of a fetch: a worker count it never lowered would make a
// crawler's destruction wait forever, and a document swap it left half done
// would be released twice. So the feeds are only unlinked, and the system
// reclaims their memory with the process.
void LetGoOfFeeds(PluginState& state) {
    state.feeds.release = nullptr;
    state.feeds.Clear();
    state.feeds.release = ReleaseConfigItem;
}

// Tears down everything Init built and returns the state to what it was at
// load, so that a later Init in the same loaded copy starts from nothing:
// the display settings refer to the crawlers destroyed here, and a second
// Init would otherwise append to the lists of the first.
int FreePlugin(Teardown how) {
    PluginState& state = Plugin();
    bool exiting = how == Teardown::kProcessExit;
    if (state.ui && state.ui->free_icon) state.ui->free_icon(how);
    StopSchedule(&state.schedule, exiting);
    if (exiting) {
        LetGoOfFeeds(state);
    } else {
        // No schedule walk runs any more: the list can go. Each crawler's
        // destruction waits for its running fetch, and every worker and the
        // schedule thread have returned before the state they use is torn
        // down. Every running fetch is cancelled first, all at once, so
        // that the host's Free never waits on a slow server, one feed after
        // another.
        for (FeedEntry* entry : state.feeds.As<FeedEntry>())
            if (entry && entry->crawler) entry->crawler->cancel.store(true);
        state.feeds.Clear();
        CrawlerWorkers().WaitIdle(UINT32_MAX);
    }
    if (state.ui && state.ui->free_windows) state.ui->free_windows(how);
    state.Clear();
    ResetFunctionInfo();
    state.initialised = false;
    // At process exit nothing is waited for: the system may have ended the
    // schedule thread in the middle of a walk.
    if (!exiting) state.plugin_lock.Lock();
    return state.plugin_lock.Close() ? 1 : 0;
}

}  // namespace

PluginState& Plugin() {
    static PluginState state;
    return state;
}

void SetPluginUi(const PluginUi* ui) { Plugin().ui = ui; }

void OnFeedUpdated(FeedCrawler* crawler) {
    const PluginUi* ui = Plugin().ui;
    if (ui && ui->feed_updated) ui->feed_updated(crawler);
}

void PluginAttach(void* module) { Plugin().module = module; }

void PluginDetach(bool process_exiting) {
    if (Plugin().initialised) FreePlugin(process_exiting ? Teardown::kProcessExit : Teardown::kUnload);
}

int PluginInit() {
    PluginState& state = Plugin();
    // A second Init without Free would append a second configuration to the
    // first and start its threads twice: the first is freed.
    if (state.initialised) FreePlugin(Teardown::kFree);
    // From here on Free tears down whatever this Init gets to build.
    state.initialised = true;
    platform::SetUserTimeLocale();
    LoadConfiguration(state);
    FunctionInfo(kFunctionInfo)->setting_count = state.info_count;
    FunctionInfo(kFunctionItem)->setting_count = state.item_count;
    if (state.ui && state.ui->init) state.ui->init();

    // Every feed is fetched once at start-up.
    for (FeedEntry* entry : state.feeds.As<FeedEntry>()) {
        if (!entry || !entry->crawler) continue;
        entry->crawler->notify = OnFeedUpdated;
        Start(entry->crawler);
    }

    state.plugin_lock.Create();

    state.schedule.feeds = &state.feeds;
    state.schedule.crawler_of = CrawlerOfEntry;
    state.schedule.plugin_lock = &state.plugin_lock;
    StartSchedule(&state.schedule);
    return 0;
}

int PluginFree(bool process_exiting) {
    return FreePlugin(process_exiting ? Teardown::kProcessExit : Teardown::kFree);
}

int PluginGetText(int number, int setting, char16_t* buffer, int size) {
    return GetText(Plugin(), number, setting, buffer, size);
}

int PluginGetFuncSettingName(int number, int setting, char* destination, int length) {
    if (!destination || length <= 0) return 0;
    destination[0] = 0;
    DisplaySetting* found = SettingFor(number, setting);
    if (!found) return 0;
    // Always terminated inside the caller's buffer, never half a character.
    size_t n = Cp932Prefix(found->name, static_cast<size_t>(length) - 1);
    std::memcpy(destination, found->name, n);
    destination[n] = 0;
    return static_cast<int>(n);
}

int PluginShowSetting(int number, int setting, void* parent) {
    const PluginUi* ui = Plugin().ui;
    if (number == 0) return (ui && ui->show_plugin_settings) ? ui->show_plugin_settings(parent) : 0;
    const FuncInfo* info = FunctionInfo(number);
    if (!info || setting < 1 || setting > info->setting_count) return number;
    uint32_t parameter = static_cast<uint32_t>(number) * 65536u + (static_cast<uint32_t>(setting) & 0xFFFFu);
    return (ui && ui->show_display_setting) ? ui->show_display_setting(parent, parameter) : 0;
}

}  // namespace feedlet
