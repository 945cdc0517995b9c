#include "ui/article_menu_view.h"

#include <string>

#include "text/time_utils.h"
#include "ui/dialog_controls.h"

namespace feedlet {
namespace ui {

namespace {

// A label as UTF-16: narrow labels (feed names) are code page 932 whatever
// the system's ANSI code page.
std::wstring WideLabel(const TextField& label) {
    if (const char16_t* wide = label.Wide()) return std::wstring(reinterpret_cast<const wchar_t*>(wide));
    return FromCp932(label.Narrow());
}

constexpr UINT kAppend = static_cast<UINT>(-1);

}  // namespace

ArticleMenu::~ArticleMenu() {
    // The model's nodes go with it; DestroyMenu takes every submenu along.
    if (top_popup_) DestroyMenu(top_popup_);
}

void ArticleMenu::Insert(MenuNode* node, HMENU menu) {
    std::wstring label = WideLabel(node->label);
    switch (node->kind) {
        case MenuNodeKind::kItem:
            node->menu = menu;
            InsertMenuW(menu, kAppend, MF_BYPOSITION | MF_STRING, node->command, label.c_str());
            break;
        case MenuNodeKind::kDisabled:
            node->menu = menu;
            InsertMenuW(menu, kAppend, MF_BYPOSITION | MF_GRAYED | MF_DISABLED, node->command, label.c_str());
            break;
        case MenuNodeKind::kSeparator:
            node->menu = menu;
            InsertMenuW(menu, kAppend, MF_BYPOSITION | MF_SEPARATOR, node->command, nullptr);
            break;
        case MenuNodeKind::kSubmenu: {
            auto own = static_cast<HMENU>(node->menu);
            if (!own) {
                own = CreatePopupMenu();
                if (!own) return;
                node->menu = own;
                InsertMenuW(menu, kAppend, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(own), label.c_str());
            }
            InsertChildren(node, own);
            break;
        }
        case MenuNodeKind::kRoot:
            InsertChildren(node, menu);
            break;
    }
}

void ArticleMenu::InsertChildren(MenuNode* node, HMENU menu) {
    for (MenuNode* child : node->children.As<MenuNode>())
        if (child) Insert(child, menu);
}

bool ArticleMenu::BuildMenu(const ItemList* feeds, const TimeZoneEntry* menu_zone) {
    return BuildMenu(feeds, menu_zone, CurrentTime());
}

bool ArticleMenu::BuildMenu(const ItemList* feeds, const TimeZoneEntry* menu_zone, PluginTime now) {
    if (!feeds) return false;
    if (top_popup_) DestroyMenu(top_popup_);
    top_popup_ = nullptr;
    model_.Build(*feeds, menu_zone, now);
    top_popup_ = CreatePopupMenu();
    if (top_popup_) Insert(&model_.root(), top_popup_);
    return true;
}

ArticleMenuModel::Refresh ArticleMenu::RebuildFeedMenu(FeedCrawler* crawler, const TimeZoneEntry* menu_zone) {
    MenuNode* feed = nullptr;
    auto result = model_.RebuildFeed(crawler, menu_zone, CurrentTime(), &feed);
    if (result != ArticleMenuModel::Refresh::kRebuilt || !feed || !feed->menu) return result;
    // The old entries leave the feed's popup first, so the new ones appear
    // in order; the feed's own entry and every other feed stay.
    auto own = static_cast<HMENU>(feed->menu);
    while (GetMenuItemCount(own) > 0)
        if (!RemoveMenu(own, 0, MF_BYPOSITION)) break;
    InsertChildren(feed, own);
    return result;
}

bool ArticleMenu::RetryStale(const TimeZoneEntry* menu_zone) {
    bool clean = true;
    for (MenuNode* feed : model_.root().children.As<MenuNode>()) {
        if (!feed || !feed->stale) continue;
        if (RebuildFeedMenu(feed->crawler, menu_zone) == ArticleMenuModel::Refresh::kBusy) clean = false;
    }
    return clean;
}

bool ArticleMenu::HasStale() const {
    for (const MenuNode* feed : model_.root().children.As<MenuNode>())
        if (feed && feed->stale) return true;
    return false;
}

UINT ArticleMenu::ShowPopup(HWND owner) {
    if (!top_popup_) return 0;
    // A menu only closes on a click elsewhere when its owner is the
    // foreground window. The click on the icon gave the icon's owner the
    // right to take the foreground, so SetForegroundWindow comes first,
    // before TrackPopupMenu; nothing session-wide is changed for it.
    SetForegroundWindow(owner);
    POINT cursor{};
    GetCursorPos(&cursor);
    BOOL command = TrackPopupMenu(top_popup_, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, owner, nullptr);
    // Without a message after the menu, the next click on the icon can be
    // swallowed by the menu's leftover mouse capture.
    PostMessageW(owner, WM_NULL, 0, 0);
    return static_cast<UINT>(command);
}

const char16_t* ArticleMenu::OpenableLink(UINT command) const {
    const MenuNode* node = model_.Find(static_cast<uint32_t>(command));
    if (!node || node->kind != MenuNodeKind::kItem) return nullptr;
    const char16_t* link = node->link.Wide();
    return IsOpenableLink(link) ? link : nullptr;
}

}  // namespace ui
}  // namespace feedlet
