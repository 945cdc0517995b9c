#include "ui/tray_icon.h"

#include "core/encoding.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "core/codepage.h"

namespace feedlet {
namespace ui {

#if !defined(_WIN64)
// The layouts the shell knows: version 5 and the original one.
static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "shell version 5 record");
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "original record");
#endif

namespace {

TrayIcon::NotifyFn g_notify = Shell_NotifyIconA;

// The shell takes the version 5 record on Windows 2000 and later (and on
// the 9x family's version 4, with the updated shell).
bool ShellTakesExtendedRecord() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version)) return false;
#pragma GCC diagnostic pop
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return version.dwMajorVersion == 4;
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) return version.dwMajorVersion >= 5;
    return false;
}

}  // namespace

void TrayIcon::SetNotifyFunction(NotifyFn notify) { g_notify = notify ? notify : Shell_NotifyIconA; }

TrayIcon::TrayIcon() {
    extended_ = ShellTakesExtendedRecord();
    callback_message_ = RegisterWindowMessageA(kTrayCallbackMessageName);
    char name[64];
    std::snprintf(name, sizeof name, "FEEDLET_NOTIFYICON_%" PRIxPTR, reinterpret_cast<uintptr_t>(this));
    atom_ = GlobalAddAtomA(name);
}

TrayIcon::~TrayIcon() {
    // No Remove here: this runs at unload, under the loader lock, where a
    // Shell_NotifyIcon (a message to Explorer) could wait on another
    // process. Free has removed the icon.
    if (atom_) GlobalDeleteAtom(atom_);
}

void TrayIcon::SetTip(const char* tip) {
    // At most 127 bytes, never half a double-byte character.
    size_t n = Cp932Prefix(tip, sizeof tip_ - 1);
    if (n) std::memcpy(tip_, tip, n);
    tip_[n] = 0;
}

void TrayIcon::Fill() {
    data_ = NOTIFYICONDATAA{};
    data_.cbSize = extended_ ? NOTIFYICONDATAA_V2_SIZE : NOTIFYICONDATAA_V1_SIZE;
    data_.uID = atom_;
}

bool TrayIcon::Send(DWORD message) {
    Fill();
    data_.hWnd = window_;
    data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data_.uCallbackMessage = callback_message_;
    data_.hIcon = icon_;
    std::memcpy(data_.szTip, tip_, sizeof tip_);
    return g_notify(message, &data_) != FALSE;
}

bool TrayIcon::Add() { return Send(NIM_ADD); }

bool TrayIcon::Modify() { return Send(NIM_MODIFY); }

bool TrayIcon::Remove() {
    Fill();
    data_.hWnd = window_;
    return g_notify(NIM_DELETE, &data_) != FALSE;
}

}  // namespace ui
}  // namespace feedlet
