// TrayIcon: the plugin's one icon in the notification area. The record lives
// as long as the library is loaded; the icon itself is shown only while the
// tray option is on (and again after Explorer restarts).
#pragma once

#include <windows.h>
#include <shellapi.h>

namespace feedlet {
namespace ui {

class TrayIcon {
public:
    // At library load: decides the record size the shell takes, registers
    // the callback message and creates the atom that identifies this copy of
    // the plugin's icon. Nothing is shown.
    TrayIcon();
    // At library unload: deletes the atom. The icon is not removed here
    // (under the loader lock nothing is sent to Explorer): Free removes it.
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Shows the icon (NIM_ADD); the shell's success value.
    bool Add();
    // Sends the same record with NIM_MODIFY: succeeds only when the shell
    // shows the icon already (an add it reported as failed may have been
    // done all the same).
    bool Modify();
    // Removes it (NIM_DELETE); harmless when it is not shown.
    bool Remove();

    void SetWindow(HWND window) { window_ = window; }
    // Code page 932 text, cut to 127 bytes on a character boundary.
    void SetTip(const char* tip);
    void SetIcon(HICON icon) { icon_ = icon; }

    UINT callback_message() const { return callback_message_; }
    // The icon's uID: the atom of "FEEDLET_NOTIFYICON_%x" made from this
    // record's address, so two loaded copies of the plugin never share one.
    ATOM id() const { return atom_; }
    bool extended() const { return extended_; }
    HWND window() const { return window_; }
    HICON icon() const { return icon_; }
    const char* tip() const { return tip_; }

    // Where the records go: Shell_NotifyIconA, or what a test puts there.
    using NotifyFn = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAA data);
    static void SetNotifyFunction(NotifyFn notify);

private:
    void Fill();
    bool Send(DWORD message);  // the whole record: window, icon, tip, message

    NOTIFYICONDATAA data_{};
    bool extended_ = false;  // the shell takes the version 5 record (488 bytes on 32-bit)
    UINT callback_message_ = 0;
    ATOM atom_ = 0;
    HWND window_ = nullptr;
    char tip_[128] = {};
    HICON icon_ = nullptr;
};

// The callback message's name and the atom text's pattern.
constexpr char kTrayCallbackMessageName[] = "FEEDLET_NOTIFYICON_MESSAGE By Marlun";
constexpr char kTrayAtomFormat[] = "FEEDLET_NOTIFYICON_%x";

}  // namespace ui
}  // namespace feedlet
