// Small helpers the settings dialogs share for moving text and choices
// between their controls and the settings layer. Every text crosses here as
// UTF-16: the dialogs are Unicode windows, and the plugin's narrow texts
// (feed and zone names, the settings layer's lists) are converted from code
// page 932 explicitly, whatever the system's ANSI code page.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

#include "config/configuration.h"

namespace feedlet {
namespace ui {

// Code page 932 text (null: empty) as UTF-16, and back.
std::wstring FromCp932(const char* text);
std::string ToCp932(const std::u16string& text);
// A UTF-16 literal (char16_t) as the wchar_t the Win32 API takes.
inline const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// The whole text of a dialog's control.
std::u16string ControlText(HWND dialog, int id);
void SetControlText(HWND dialog, int id, const std::wstring& text);
void LimitText(HWND dialog, int id, int characters);
void ShowControls(HWND dialog, std::initializer_list<int> ids, bool shown);

// Drop-down lists: appends an item (its index, or -1); selects the first
// item with this data (nothing selected when none has it); the selected
// item's data, false when nothing is selected.
int AddChoice(HWND dialog, int id, const std::wstring& text, LPARAM data);
bool SelectChoiceByData(HWND dialog, int id, LPARAM data);
bool SelectedChoice(HWND dialog, int id, LPARAM* data);

// Widens a drop-down list's open list (never the control itself) so that its
// longest item shows whole: a feed name or an appended period can be longer
// than the narrow list is wide.
void FitDroppedWidth(HWND dialog, int id);

// The time-zone list both settings dialogs show: "RSSのタイムゾーンに従う"
// (no zone) first, then every zone of time_zones; selects selected's entry
// (the first for none).
void FillZoneList(HWND dialog, int id, const ItemList& time_zones, const TimeZoneEntry* selected);

// parent when it is a window; a handle that names none (a host's stale or
// hostile argument) would keep the dialog from opening at all, so the dialog
// then has no owner.
HWND DialogOwner(HWND parent);

// What a dialog procedure returns for one message, handled by handle().
// Nothing may leave a dialog procedure: on an exception (out of memory) the
// dialog closes with `closed`, and what was not stored yet stays as it was.
template <typename Handle>
INT_PTR HandleMessageSafely(HWND dialog, INT_PTR closed, Handle handle) noexcept {
    try {
        return handle();
    } catch (...) {
        EndDialog(dialog, closed);
        return TRUE;
    }
}

}  // namespace ui
}  // namespace feedlet
