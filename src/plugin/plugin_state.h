// The process-wide state of the plugin: one instance per loaded library,
// reached by every part of the plugin through Plugin().
#pragma once

#include <atomic>
#include <cstdint>

#include "config/configuration.h"
#include "fetch/schedule.h"
#include "platform/platform.h"

namespace feedlet {

struct FeedCrawler;

// Who tears the state down, and so what the teardown may do.
enum class Teardown : uint8_t {
    kFree,         // the host's Free: everything, the tray icon's removal included
    kUnload,       // the library's detach after an unload without Free, under the
                   // loader lock: nothing may be sent to another process (the tray
                   // icon stays for Explorer to drop with its window). Every plugin
                   // thread held a reference to the module, so none is left to wait for.
    kProcessExit,  // the detach at process exit: the system has ended every other
                   // thread; nothing is sent, destroyed or waited for
};

// The user interface (tray icon, article menu, dialogs) lives above the
// plugin core and plugs in here; without it those steps do nothing (native
// builds, tests).
struct PluginUi {
    // Init: register the taskbar message, create the message window, the
    // tooltip and icon, and when the option is on the article menu and icon.
    void (*init)();
    // Free, before the schedule stops: remove the tray icon, destroy the icon.
    void (*free_icon)(Teardown how);
    // Free, after the feeds are gone: destroy the message window and menu,
    // and forget everything else of this Init.
    void (*free_windows)(Teardown how);
    // A crawler's document was replaced (worker thread, crawler lock held).
    void (*feed_updated)(FeedCrawler* crawler);
    // ShowSetting 0: the plugin settings dialog and the tray follow-up.
    int (*show_plugin_settings)(void* parent);
    // ShowSetting 1/2: the display setting dialog with its parameter.
    int (*show_display_setting)(void* parent, uint32_t parameter);
};

struct PluginState : Configuration {
    void* module = nullptr;
    platform::Mutex plugin_lock;
    Schedule schedule;
    const PluginUi* ui = nullptr;
    bool initialised = false;  // from the start of Init to the end of Free
};

PluginState& Plugin();

// Installs the user interface (Windows builds, at attach).
void SetPluginUi(const PluginUi* ui);

// The notify callback every crawler created by Init gets.
void OnFeedUpdated(FeedCrawler* crawler);

}  // namespace feedlet
