// The feed manager dialog (resource 109): registers, changes, deletes and
// tries out feeds, and applies the edits to the running crawlers and RSS.ini
// on OK. Opened from the plugin settings and the display setting dialogs.
#pragma once

#include <windows.h>

namespace feedlet {

struct FeedCrawler;

namespace ui {

// Runs the dialog modally over parent, with the feed whose crawler is
// preselect selected at first (null: none).
void ShowFeedManagerDialog(HWND parent, FeedCrawler* preselect);

}  // namespace ui
}  // namespace feedlet
