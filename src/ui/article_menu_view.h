// ArticleMenu: the tray icon's popup menu. It keeps the model's tree
// (menu/article_menu.h) mirrored in real menus and shows the popup. Every
// call runs on the thread that owns the tray's message window.
#pragma once

#include <windows.h>

#include "menu/article_menu.h"

namespace feedlet {
namespace ui {

class ArticleMenu {
public:
    ArticleMenu() = default;
    // Destroys the tree and every menu.
    ~ArticleMenu();
    ArticleMenu(const ArticleMenu&) = delete;
    ArticleMenu& operator=(const ArticleMenu&) = delete;

    // Discards the old tree and top popup and builds both anew from feeds.
    // False when no list is given. Article dates are aged against now
    // (CurrentTime() when not given).
    bool BuildMenu(const ItemList* feeds, const TimeZoneEntry* menu_zone);
    bool BuildMenu(const ItemList* feeds, const TimeZoneEntry* menu_zone, PluginTime now);
    // Rebuilds the submenu of this feed in place (the crawler's document was
    // replaced); a feed whose fetch still holds its lock is tried again by
    // RetryStale. Returns what the model did.
    ArticleMenuModel::Refresh RebuildFeedMenu(FeedCrawler* crawler, const TimeZoneEntry* menu_zone);
    // Rebuilds the submenus left stale; true when none is left.
    bool RetryStale(const TimeZoneEntry* menu_zone);
    // Notes that this feed's submenu must be rebuilt, without touching it
    // (the popup is open).
    void MarkStale(FeedCrawler* crawler) { model_.MarkStale(crawler); }
    // True while some submenu waits for its crawler's lock.
    bool HasStale() const;
    // Shows the popup at the cursor as a foreground menu owned by owner;
    // returns the chosen entry's command, or 0.
    UINT ShowPopup(HWND owner);
    // The link of the entry with this command, when it is one the shell may
    // open; null otherwise.
    const char16_t* OpenableLink(UINT command) const;

    HMENU top_popup() const { return top_popup_; }
    const ArticleMenuModel& model() const { return model_; }

private:
    void Insert(MenuNode* node, HMENU menu);
    void InsertChildren(MenuNode* node, HMENU menu);

    ArticleMenuModel model_;
    HMENU top_popup_ = nullptr;
};

}  // namespace ui
}  // namespace feedlet
