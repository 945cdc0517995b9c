#include "ui/feed_manager_dialog.h"

#include "plugin/plugin_state.h"
#include "ui/resource.h"

namespace feedlet {
namespace ui {

namespace {

INT_PTR CALLBACK FeedManagerProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    try {
        switch (message) {
            case WM_INITDIALOG:
                return TRUE;
            case WM_COMMAND:
                if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) EndDialog(dialog, 0);
                return TRUE;
            case WM_CLOSE:
                EndDialog(dialog, 0);
                return TRUE;
            case WM_DESTROY:
                CommitFeedEdits(Plugin(), Plugin().plugin_lock, 0);
                return TRUE;
            default:
                return FALSE;
        }
    } catch (...) {
        return FALSE;
    }
}

}  // namespace

void ShowFeedManagerDialog(HWND parent, FeedCrawler* preselect) {
    DialogBoxParamW(static_cast<HINSTANCE>(Plugin().module), MAKEINTRESOURCEW(IDD_FEED_MANAGER), parent,
                    FeedManagerProc, reinterpret_cast<LPARAM>(preselect));
}

}  // namespace ui
}  // namespace feedlet
