// qvhost's clock window: a small stand-in for the host's desktop clock. It
// shows the current time and, below it, every display setting's name and
// line, read through GetFuncSettingName and GetText (measure, then fill) and
// repainted every second. Its right-click menu offers the plugin settings
// dialog and each setting's display setting dialog (ShowSetting with the
// window as parent); a double click on a line opens that line's dialog. So
// a person can try the whole plugin by hand.
#pragma once

#include <windows.h>

#include "host_plugin.h"

namespace qvhost {

// Creates and shows the window over an initialised plugin (which must
// outlive it), at the screen position given. Null on failure.
HWND CreateHostWindow(const Plugin& plugin, int x, int y);
// Dispatches messages until the window is closed.
void RunHostWindow(HWND window);
// The number of display setting lines the window showed at its last
// refresh.
int ShownLines(HWND window);
// The name and text the window showed for a setting at its last refresh
// ("name<TAB>text"), empty when it shows no such setting.
std::wstring ShownLine(HWND window, int number, int setting);
// Opens the window's right-click menu at its top left corner, as a right
// click there would (posted: the menu's own loop runs in the message loop).
void OpenHostMenu(HWND window);

}  // namespace qvhost
