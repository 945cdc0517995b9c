#include "ui/dialog_controls.h"

#include "settings/zone_choices.h"

namespace feedlet {
namespace ui {

std::wstring FromCp932(const char* text) {
    if (!text || !*text) return std::wstring();
    int n = MultiByteToWideChar(932, 0, text, -1, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(932, 0, text, -1, &wide[0], n);
    wide.resize(static_cast<size_t>(n) - 1);
    return wide;
}

std::string ToCp932(const std::u16string& text) {
    if (text.empty()) return std::string();
    auto wide = reinterpret_cast<const wchar_t*>(text.data());
    int length = static_cast<int>(text.size());
    int n = WideCharToMultiByte(932, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(932, 0, wide, length, &narrow[0], n, nullptr, nullptr);
    return narrow;
}

std::u16string ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    int length = control ? GetWindowTextLengthW(control) : 0;
    if (length <= 0) return std::u16string();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    int n = GetWindowTextW(control, &text[0], length + 1);
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), static_cast<size_t>(n > 0 ? n : 0));
}

void SetControlText(HWND dialog, int id, const std::wstring& text) { SetDlgItemTextW(dialog, id, text.c_str()); }

void LimitText(HWND dialog, int id, int characters) {
    SendDlgItemMessageW(dialog, id, EM_LIMITTEXT, static_cast<WPARAM>(characters), 0);
}

void ShowControls(HWND dialog, std::initializer_list<int> ids, bool shown) {
    for (int id : ids) ShowWindow(GetDlgItem(dialog, id), shown ? SW_SHOW : SW_HIDE);
}

int AddChoice(HWND dialog, int id, const std::wstring& text, LPARAM data) {
    LRESULT index = SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (index < 0) return -1;
    SendDlgItemMessageW(dialog, id, CB_SETITEMDATA, static_cast<WPARAM>(index), data);
    return static_cast<int>(index);
}

bool SelectChoiceByData(HWND dialog, int id, LPARAM data) {
    LRESULT count = SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        if (SendDlgItemMessageW(dialog, id, CB_GETITEMDATA, static_cast<WPARAM>(i), 0) == data) {
            SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(i), 0);
            return true;
        }
    }
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    return false;
}

bool SelectedChoice(HWND dialog, int id, LPARAM* data) {
    // With nothing selected the list would answer its error value, which
    // is no item's data: it is never handed on.
    LRESULT index = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
    if (index < 0) return false;
    *data = static_cast<LPARAM>(SendDlgItemMessageW(dialog, id, CB_GETITEMDATA, static_cast<WPARAM>(index), 0));
    return true;
}

void FitDroppedWidth(HWND dialog, int id) {
    HWND combo = GetDlgItem(dialog, id);
    if (!combo) return;
    HDC dc = GetDC(combo);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(combo, WM_GETFONT, 0, 0)));
    int widest = 0;
    LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length <= 0) continue;
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
        SIZE extent{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(length), &extent);
        if (extent.cx > widest) widest = extent.cx;
    }
    SelectObject(dc, old);
    ReleaseDC(combo, dc);
    int wanted = widest + GetSystemMetrics(SM_CXVSCROLL) + 4 * GetSystemMetrics(SM_CXEDGE);
    if (wanted > SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0)) SendMessageW(combo, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(wanted), 0);
}

void FillZoneList(HWND dialog, int id, const ItemList& time_zones, const TimeZoneEntry* selected) {
    SendDlgItemMessageW(dialog, id, CB_RESETCONTENT, 0, 0);
    AddChoice(dialog, id, FromCp932(kFollowFeedZoneText.Narrow()), 0);
    for (TimeZoneEntry* zone : time_zones.As<TimeZoneEntry>())
        if (zone) AddChoice(dialog, id, FromCp932(ZoneChoiceText(*zone).c_str()), reinterpret_cast<LPARAM>(zone));
    SelectChoiceByData(dialog, id, reinterpret_cast<LPARAM>(selected));
}

HWND DialogOwner(HWND parent) { return (parent && IsWindow(parent)) ? parent : nullptr; }

}  // namespace ui
}  // namespace feedlet
