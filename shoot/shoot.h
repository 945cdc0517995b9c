// Screenshots for the documentation (scripts/screenshots): the plugin's
// real windows on the screen, written as 24-bit BMP files. Each command
// runs Init, waits for the start-up fetches (until every display setting
// shows a text, at most wait_seconds), opens its window as a person would,
// captures it once it is painted, closes it and runs Free; 0 when the
// capture was written.
#pragma once

#include <string>

#include "host_plugin.h"

namespace qvshoot {

using qvhost::Plugin;

// The tray menu, opened as the shell does, with the second feed's submenu.
int ShootTrayMenu(const Plugin& plugin, double wait_seconds, const std::string& path);
// The clock window; with_menu: with its right-click menu open on the
// article settings. Prints "window<TAB>N lines", the lines it showed.
int ShootHostWindow(const Plugin& plugin, double wait_seconds, const std::string& path, bool with_menu);
// A person's round trip in the clock window: its menu opens the first
// article setting's display setting dialog, the format becomes "edited:
// %title", OK, and the window's line follows; captured after. Prints the
// setting's line before and after ("before|after<TAB>name<TAB>text").
int ShootWindowEdit(const Plugin& plugin, double wait_seconds, const std::string& path);
// The feed manager, opened from the plugin settings dialog, with the
// second feed chosen; with check_url not empty, while a check of that URL
// runs (a server that never answers).
int ShootFeedManager(const Plugin& plugin, double wait_seconds, const std::string& check_url, const std::string& path);
// The dialog ShowSetting(number, setting) opens.
int ShootSettingDialog(const Plugin& plugin, double wait_seconds, int number, int setting, const std::string& path);

}  // namespace qvshoot
