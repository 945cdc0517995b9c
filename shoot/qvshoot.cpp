// qvshoot: the screenshots of the documentation (scripts/screenshots). It
// loads the plugin as qvhost does, opens one of its windows as a person
// would, and writes what the screen shows as a 24-bit BMP file:
//
//   qvshoot [--plugin PATH] [--wait SECONDS] WHAT FILE.bmp
//
// Init, then at most SECONDS (30 unless given) until every display setting
// shows a text, then WHAT:
//   menu                 the tray menu with the second feed's submenu
//   window               qvhost's clock window ("window<TAB>N lines")
//   window-menu          the same with its right-click menu open
//   window-edit          a display setting changed through the window's
//                        menu, the window after ("before" and "after" lines)
//   manager              the feed manager, opened from the plugin settings
//   manager-check URL    the same while a check of URL runs
//   plugin-settings      the plugin settings dialog
//   display-setting F S  the display setting dialog of function F, setting S
// then Free. The status is 0 when the picture was written.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "host_plugin.h"
#include "shoot.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: qvshoot [--plugin PATH] [--wait SECONDS] WHAT FILE.bmp, where WHAT is\n"
                 "       menu|window|window-menu|window-edit|manager|manager-check URL|plugin-settings|\n"
                 "       display-setting F S\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);  // UTF-8 lines with plain LF ends
    // A bound, not a pause: the wait ends as soon as every setting shows.
    qvhost::HostOptions options = qvhost::ReadHostOptions(argc, argv, 30);
    double wait = options.wait_seconds;
    int i = options.next;
    if (i + 1 >= argc) return Usage();
    std::string what = argv[i];
    int last = argc - 1;  // the picture's file comes last
    std::string path = argv[last];
    int arguments = last - i - 1;

    qvhost::Plugin plugin;
    if (!qvhost::LoadPlugin(options.plugin_path, &plugin)) return 1;
    int rc;
    if (what == "menu" && arguments == 0) rc = qvshoot::ShootTrayMenu(plugin, wait, path);
    else if (what == "window" && arguments == 0) rc = qvshoot::ShootHostWindow(plugin, wait, path, false);
    else if (what == "window-menu" && arguments == 0) rc = qvshoot::ShootHostWindow(plugin, wait, path, true);
    else if (what == "window-edit" && arguments == 0) rc = qvshoot::ShootWindowEdit(plugin, wait, path);
    else if (what == "manager" && arguments == 0) rc = qvshoot::ShootFeedManager(plugin, wait, std::string(), path);
    else if (what == "manager-check" && arguments == 1) rc = qvshoot::ShootFeedManager(plugin, wait, argv[i + 1], path);
    else if (what == "plugin-settings" && arguments == 0) rc = qvshoot::ShootSettingDialog(plugin, wait, 0, 0, path);
    else if (what == "display-setting" && arguments == 2)
        rc = qvshoot::ShootSettingDialog(plugin, wait, qvhost::Number(argv[i + 1], 0), qvhost::Number(argv[i + 2], 0),
                                         path);
    else rc = Usage();
    std::fflush(stdout);
    FreeLibrary(plugin.module);
    return rc;
}
