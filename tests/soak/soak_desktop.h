// The plugin's user-interface side in the soak. On Windows it is the real
// one the DLL installs (message window, tray icon, article menu) with the
// tray option on; the soak only counts the "feed updated" notifications on
// their way to it and drives the popup through the tray icon's callback
// message. Natively, where the plugin has no user interface, a stand-in
// keeps the article menu's model the way the message window keeps the real
// menu: a worker's update is only queued, and the main thread rebuilds the
// feed's submenu, so the model's code runs its long life under the
// sanitizers too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace feedlet {
namespace soak {

// Installs the user interface before the first Init; Remove takes it out
// after the last Free.
void InstallDesktop();
void RemoveDesktop();

// Handles what the fetches posted, on this (the Init) thread: each replaced
// document's submenu is rebuilt. False when the menu had not caught up
// within timeout_ms.
bool CatchUp(uint32_t timeout_ms);

// The entries of a feed's submenu; -1 when there is no menu or no such
// submenu.
int MenuEntries(size_t feed);
// Menu commands in use (-1: no menu).
int64_t MenuIds();
// "Feed updated" notifications so far.
uint64_t Updates();

// True where there is a popup to open (Windows).
bool HasPopup();
// Right-clicks the tray icon. While the popup is open a watcher thread goes
// into the first feed's submenu, runs while_open (which may let fetches run:
// their updates reach an open menu, which only notes them), and closes the
// popup with Escape, the submenu first. False when a step did not show
// within timeout_ms or while_open failed.
bool OpenAndClosePopup(const std::function<bool()>& while_open, uint32_t timeout_ms);

}  // namespace soak
}  // namespace feedlet
