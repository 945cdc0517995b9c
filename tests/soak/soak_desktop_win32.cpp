// The real Windows user interface in the soak (see soak_desktop.h).
#include "soak/soak_desktop.h"

#include <windows.h>

#include <atomic>

#include "plugin/plugin.h"
#include "plugin/plugin_state.h"
#include "ui/user_interface.h"
#include "ui_test_util.h"

namespace feedlet {
namespace soak {

namespace {

PluginUi g_table;
std::atomic<uint64_t> g_updates{0};

// A worker thread, the crawler's lock held: counted, then the real post.
void CountedFeedUpdated(FeedCrawler* crawler) {
    ++g_updates;
    ui::UserInterface().feed_updated(crawler);
}

HMENU Top() {
    ui::ArticleMenu* menu = ui::State().article_menu;
    return menu ? menu->top_popup() : nullptr;
}

int PopupCount() { return testing_util::CountProcessWindows(L"#32768"); }

}  // namespace

void InstallDesktop() {
    // The resources the message window and icon are made from are linked
    // into this program, as into the DLL.
    PluginAttach(GetModuleHandleW(nullptr));
    g_table = ui::UserInterface();
    g_table.feed_updated = CountedFeedUpdated;
    SetPluginUi(&g_table);
}

void RemoveDesktop() { SetPluginUi(nullptr); }

bool CatchUp(uint32_t timeout_ms) {
    testing_util::PumpPending();
    // A rebuild that found its crawler busy is retried by the window's timer.
    return testing_util::PumpUntil(
        [] { return !ui::State().article_menu || !ui::State().article_menu->HasStale(); }, timeout_ms);
}

int MenuEntries(size_t feed) {
    HMENU top = Top();
    HMENU own = top ? GetSubMenu(top, static_cast<int>(feed)) : nullptr;
    return own ? GetMenuItemCount(own) : -1;
}

int64_t MenuIds() {
    ui::ArticleMenu* menu = ui::State().article_menu;
    return menu ? static_cast<int64_t>(menu->model().NodeCount()) : -1;
}

uint64_t Updates() { return g_updates.load(); }

bool HasPopup() { return true; }

bool OpenAndClosePopup(const std::function<bool()>& while_open, uint32_t timeout_ms) {
    HWND window = ui::State().message_window.load();
    if (!window || !Top()) return false;
    bool done = false;
    testing_util::Watcher watcher([&] {
        HWND popup = testing_util::WaitForWindow(L"#32768", nullptr, timeout_ms);
        if (!popup) return;
        HMENU shown = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
        HMENU first = GetSubMenu(shown, 0);
        bool walked = testing_util::WalkPopup(popup, {{VK_DOWN, shown, 0}, {VK_RIGHT, first, 0}}, timeout_ms);
        bool ran = while_open();
        // Escape closes the open submenu, then the popup.
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
        bool submenu_closed = testing_util::WaitUntil([] { return PopupCount() <= 1; }, timeout_ms);
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
        bool closed = testing_util::WaitUntil([] { return PopupCount() == 0; }, timeout_ms);
        done = walked && ran && submenu_closed && closed;
    });
    // The popup's modal loop runs inside this call, on this thread.
    SendMessageW(window, ui::Tray().callback_message(), ui::Tray().id(), WM_RBUTTONUP);
    return watcher.Join(timeout_ms) && done;
}

}  // namespace soak
}  // namespace feedlet
