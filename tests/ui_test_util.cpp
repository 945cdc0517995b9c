#include "ui_test_util.h"

#include "test_util.h"

#include "fetch/feed_crawler.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_state.h"
#include "ui/user_interface.h"
#include <commctrl.h>

namespace feedlet {
namespace testing_util {

bool PumpUntilFetchesEnd(DWORD timeout_ms) {
    bool ended = PumpUntil(
        [] {
            for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>())
                if (entry && entry->crawler && entry->crawler->workers.load() != 0) return false;
            return true;
        },
        timeout_ms);
    // An update handled while its fetch still held the lock is retried
    // shortly: the menu has caught up once no submenu is left stale.
    return ended && PumpUntil([] { return !ui::State().article_menu || !ui::State().article_menu->HasStale(); },
                              timeout_ms);
}

std::string Cp932(const std::string& utf8) {
    std::wstring wide = Wide(utf8);
    return testing_util::Cp932(reinterpret_cast<const char16_t*>(wide.c_str()));
}

std::vector<std::string> MenuLines(HMENU menu) {
    std::vector<std::string> lines;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        wchar_t label[256] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), label, 256, MF_BYPOSITION);
        // A popup's state carries its item count in the high byte.
        if (state & MF_POPUP) lines.push_back("popup " + Utf8(label));
        else if (state & MF_SEPARATOR) lines.push_back("----");
        else if (state & (MF_GRAYED | MF_DISABLED)) lines.push_back("grayed " + Utf8(label));
        else lines.push_back("item " + Utf8(label));
    }
    return lines;
}

PluginHost::PluginHost(ui::TrayIcon::NotifyFn notify) {
    plugin_dir_ = host_.path() + "Plugins\\";
    platform::CreateFolder(plugin_dir_.c_str());
    platform::CreateFolder((plugin_dir_ + "Feedlet").c_str());
    saved_dir_ = platform::PluginDirectory();
    platform::SetPluginDirectory(plugin_dir_.c_str());
    PluginAttach(GetModuleHandleW(nullptr));
    SetPluginUi(&ui::UserInterface());
    ui::TrayIcon::SetNotifyFunction(notify);
}

PluginHost::~PluginHost() {
    PluginDetach(false);
    SetPluginUi(nullptr);
    ui::TrayIcon::SetNotifyFunction(nullptr);
    ResetFunctionInfo();
    platform::SetPluginDirectory(saved_dir_.c_str());
    PumpPending();
}

std::string PluginHost::File(const std::string& name, const std::string& bytes) const {
    std::string path = host_.path() + name;
    WriteFile(path, bytes);
    return path;
}

void TypeText(HWND dialog, int id, const std::string& utf8) {
    HWND control = GetDlgItem(dialog, id);
    for (wchar_t unit : Wide(utf8)) SendMessageW(control, WM_CHAR, unit, 1);
}

bool IsControlShown(HWND dialog, int id) {
    return (GetWindowLongPtrW(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

std::vector<std::string> ComboItems(HWND dialog, int id) {
    std::vector<std::string> items;
    LRESULT count = SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendDlgItemMessageW(dialog, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(length > 0 ? length : 0));
        items.push_back(Utf8(text));
    }
    return items;
}

int ComboSelection(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

void ChooseComboItem(HWND dialog, int id, int index) {
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string ListViewText(HWND list, int row, int column) {
    wchar_t text[1024] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 1024;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return Utf8(text);
}

std::vector<std::string> ListViewColumns(HWND list) {
    std::vector<std::string> titles;
    for (int i = 0;; ++i) {
        wchar_t text[256] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = 256;
        if (!SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column))) break;
        titles.push_back(Utf8(text));
    }
    return titles;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

}  // namespace testing_util
}  // namespace feedlet
