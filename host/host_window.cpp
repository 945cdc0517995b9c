#include "host_window.h"

#include <windowsx.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qvhost {

namespace {

constexpr wchar_t kClassName[] = L"QvhostClock";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshMilliseconds = 1000;

// Menu commands: the plugin settings, closing, and one per display
// setting (function × 0x1000 + setting; a function has at most 1000).
constexpr UINT kCommandPluginSettings = 1;
constexpr UINT kCommandClose = 2;
constexpr UINT kCommandFunctionStep = 0x1000;

// Layout, in pixels.
constexpr int kClientWidth = 760;
constexpr int kMargin = 12;
constexpr int kHeaderHeight = 64;
constexpr int kLineGap = 8;
constexpr int kTextIndent = 10;

constexpr COLORREF kBackground = RGB(22, 26, 34);
constexpr COLORREF kTimeColour = RGB(255, 255, 255);
constexpr COLORREF kNameColour = RGB(150, 160, 180);
constexpr COLORREF kTextColour = RGB(238, 238, 238);
constexpr COLORREF kEmptyColour = RGB(95, 100, 115);
constexpr COLORREF kRuleColour = RGB(60, 66, 80);

constexpr UINT kTextFormat = DT_LEFT | DT_TOP | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX;

struct Line {
    int number;
    int setting;
    std::wstring label;  // "1-2  name"
    std::wstring text;
    int top = 0;     // in content coordinates
    int bottom = 0;
    int name_height = 0;
};

struct ClockWindow {
    const Plugin* plugin = nullptr;
    HFONT time_font = nullptr;
    HFONT date_font = nullptr;
    HFONT name_font = nullptr;
    HFONT text_font = nullptr;
    std::vector<Line> lines;
    int content_height = 0;
    int scroll = 0;  // pixels of content scrolled above the header's edge
};

ClockWindow* StateOf(HWND window) { return reinterpret_cast<ClockWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

// The Japanese UI font the plugin's dialogs use, so that the window reads
// like them (Wine maps it to an installed Japanese font).
HFONT MakeFont(int pixels, int weight) {
    return CreateFontW(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                       W(u"ＭＳ Ｐゴシック"));
}

int LinesTop() { return kHeaderHeight; }

int TextHeight(HDC dc, HFONT font, const std::wstring& text, int width) {
    HGDIOBJ old = SelectObject(dc, font);
    RECT rect{0, 0, width, 0};
    const std::wstring& shown = text.empty() ? std::wstring(L"-") : text;
    DrawTextW(dc, shown.c_str(), static_cast<int>(shown.size()), &rect, kTextFormat | DT_CALCRECT);
    SelectObject(dc, old);
    return rect.bottom - rect.top;
}

// Reads every display setting's name and text from the plugin and lays the
// lines out below the header.
void ReadLines(HWND window, ClockWindow& state) {
    state.lines.clear();
    for (int number = 1; number <= 2; ++number) {
        int count = FunctionInfo(*state.plugin, number).setting_count;
        if (count > 1000) count = 1000;
        for (int setting = 1; setting <= count; ++setting) {
            Line line{number, setting, L"", L""};
            line.label = std::to_wstring(number) + L"-" + std::to_wstring(setting) + L"  " +
                         SettingName(*state.plugin, number, setting);
            line.text = SettingText(*state.plugin, number, setting);
            state.lines.push_back(std::move(line));
        }
    }
    HDC dc = GetDC(window);
    int y = LinesTop() + kLineGap;
    int text_width = kClientWidth - 2 * kMargin - kTextIndent;
    for (Line& line : state.lines) {
        line.top = y;
        line.name_height = TextHeight(dc, state.name_font, line.label, kClientWidth - 2 * kMargin);
        y += line.name_height + 2 + TextHeight(dc, state.text_font, line.text, text_width);
        line.bottom = y;
        y += kLineGap;
    }
    ReleaseDC(window, dc);
    state.content_height = y + kMargin - kLineGap;
}

// The window grows with its lines, up to the screen's work area; beyond
// that the wheel scrolls them.
void FitWindow(HWND window, ClockWindow& state) {
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    RECT frame{};
    GetWindowRect(window, &frame);
    int room = work.bottom - frame.top - 60;
    int height = state.content_height < room ? state.content_height : (room > kHeaderHeight * 2 ? room : kHeaderHeight * 2);
    RECT wanted{0, 0, kClientWidth, height};
    AdjustWindowRectEx(&wanted, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    int width = wanted.right - wanted.left;
    int total = wanted.bottom - wanted.top;
    if (frame.right - frame.left != width || frame.bottom - frame.top != total)
        SetWindowPos(window, nullptr, 0, 0, width, total, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    int visible = height - LinesTop();
    int most = state.content_height - LinesTop() - visible;
    if (state.scroll > most) state.scroll = most;
    if (state.scroll < 0) state.scroll = 0;
}

void Refresh(HWND window) {
    ClockWindow* state = StateOf(window);
    if (!state) return;
    ReadLines(window, *state);
    FitWindow(window, *state);
    InvalidateRect(window, nullptr, FALSE);
}

std::wstring Digits(unsigned value, size_t width) {
    std::wstring text = std::to_wstring(value);
    return text.size() < width ? std::wstring(width - text.size(), L'0') + text : text;
}

void DrawHeader(HDC dc, const ClockWindow& state, int width) {
    static const char16_t kWeekdays[] = u"日月火水木金土";
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::wstring time = Digits(now.wHour, 2) + L":" + Digits(now.wMinute, 2) + L":" + Digits(now.wSecond, 2);
    std::wstring date = Digits(now.wYear, 4) + L"/" + Digits(now.wMonth, 2) + L"/" + Digits(now.wDay, 2) + L"(" +
                        static_cast<wchar_t>(kWeekdays[now.wDayOfWeek % 7]) + L")";
    SetTextColor(dc, kTimeColour);
    HGDIOBJ old = SelectObject(dc, state.time_font);
    RECT rect{kMargin, 6, width - kMargin, kHeaderHeight};
    DrawTextW(dc, time.c_str(), static_cast<int>(time.size()), &rect, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    SIZE extent{};
    GetTextExtentPoint32W(dc, time.c_str(), static_cast<int>(time.size()), &extent);
    SelectObject(dc, state.date_font);
    SetTextColor(dc, kNameColour);
    RECT date_rect{kMargin + extent.cx + 14, 6, width - kMargin, kHeaderHeight - 14};
    DrawTextW(dc, date.c_str(), static_cast<int>(date.size()), &date_rect,
              DT_LEFT | DT_BOTTOM | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    RECT rule{kMargin, kHeaderHeight - 2, width - kMargin, kHeaderHeight - 1};
    HBRUSH brush = CreateSolidBrush(kRuleColour);
    FillRect(dc, &rule, brush);
    DeleteObject(brush);
}

void DrawLines(HDC dc, const ClockWindow& state, int width, int height) {
    IntersectClipRect(dc, 0, LinesTop(), width, height);
    for (const Line& line : state.lines) {
        int top = line.top - state.scroll;
        if (line.bottom - state.scroll < LinesTop() || top > height) continue;
        HGDIOBJ old = SelectObject(dc, state.name_font);
        SetTextColor(dc, kNameColour);
        RECT name{kMargin, top, width - kMargin, top + line.name_height};
        DrawTextW(dc, line.label.c_str(), static_cast<int>(line.label.size()), &name, kTextFormat);
        SelectObject(dc, state.text_font);
        RECT text{kMargin + kTextIndent, top + line.name_height + 2, width - kMargin, line.bottom - state.scroll};
        if (line.text.empty()) {
            SetTextColor(dc, kEmptyColour);
            DrawTextW(dc, L"-", 1, &text, kTextFormat);
        } else {
            SetTextColor(dc, kTextColour);
            DrawTextW(dc, line.text.c_str(), static_cast<int>(line.text.size()), &text, kTextFormat);
        }
        SelectObject(dc, old);
    }
}

void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    ClockWindow* state = StateOf(window);
    RECT client{};
    GetClientRect(window, &client);
    // Drawn off screen and copied at once, so the second's repaint never
    // flickers.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ old_bitmap = SelectObject(memory, bitmap);
    HBRUSH background = CreateSolidBrush(kBackground);
    FillRect(memory, &client, background);
    DeleteObject(background);
    SetBkMode(memory, TRANSPARENT);
    if (state) {
        DrawHeader(memory, *state, client.right);
        DrawLines(memory, *state, client.right, client.bottom);
    }
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(memory);
    EndPaint(window, &paint);
}

// A menu label shows '&' as itself.
std::wstring MenuLabel(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'&') out += L'&';
        out += c;
    }
    return out;
}

HMENU BuildMenu(const ClockWindow& state) {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, kCommandPluginSettings, W(u"プラグイン設定…"));
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    for (int number = 1; number <= 2; ++number) {
        HMENU settings = CreatePopupMenu();
        for (const Line& line : state.lines) {
            if (line.number != number) continue;
            std::wstring label = std::to_wstring(line.setting) + L": " +
                                 MenuLabel(SettingName(*state.plugin, number, line.setting)) + W(u"…");
            AppendMenuW(settings, MF_STRING, kCommandFunctionStep * static_cast<UINT>(number) + static_cast<UINT>(line.setting),
                        label.c_str());
        }
        FuncInfo info = FunctionInfo(*state.plugin, number);
        std::wstring title = W(u"表示項目設定: ") + MenuLabel(Cp932ToWide(info.name, sizeof info.name));
        AppendMenuW(menu, MF_POPUP | (GetMenuItemCount(settings) > 0 ? 0 : MF_GRAYED),
                    reinterpret_cast<UINT_PTR>(settings), title.c_str());
    }
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, kCommandClose, W(u"閉じる"));
    return menu;
}

void OpenSetting(HWND window, int number, int setting) {
    ClockWindow* state = StateOf(window);
    if (!state) return;
    int result = state->plugin->show_setting(number, setting, window);
    std::printf("ShowSetting(%d, %d) = %d\n", number, setting, result);
    std::fflush(stdout);
    Refresh(window);
}

void RunCommand(HWND window, UINT command) {
    if (command == kCommandPluginSettings) OpenSetting(window, 0, 0);
    else if (command == kCommandClose) DestroyWindow(window);
    else if (command > kCommandFunctionStep)
        OpenSetting(window, static_cast<int>(command / kCommandFunctionStep), static_cast<int>(command % kCommandFunctionStep));
}

void OnContextMenu(HWND window, LPARAM position) {
    ClockWindow* state = StateOf(window);
    if (!state) return;
    POINT at{GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (at.x == -1 && at.y == -1) {  // the menu key: at the window's corner
        at = POINT{0, 0};
        ClientToScreen(window, &at);
    }
    HMENU menu = BuildMenu(*state);
    // The menu closes properly when clicked elsewhere only if its owner is
    // the foreground window.
    SetForegroundWindow(window);
    UINT command = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_LEFTALIGN | TPM_TOPALIGN, at.x, at.y, 0, window, nullptr));
    DestroyMenu(menu);
    if (command) RunCommand(window, command);
}

void OnDoubleClick(HWND window, LPARAM position) {
    ClockWindow* state = StateOf(window);
    if (!state) return;
    int y = GET_Y_LPARAM(position);
    if (y < LinesTop()) return;
    y += state->scroll;
    for (const Line& line : state->lines) {
        if (y >= line.top && y < line.bottom) {
            OpenSetting(window, line.number, line.setting);
            return;
        }
    }
}

void OnWheel(HWND window, WPARAM wparam) {
    ClockWindow* state = StateOf(window);
    if (!state) return;
    state->scroll -= GET_WHEEL_DELTA_WPARAM(wparam) / WHEEL_DELTA * 48;
    FitWindow(window, *state);
    InvalidateRect(window, nullptr, FALSE);
}

LRESULT OnCreate(HWND window, const CREATESTRUCTW* create) {
    auto* state = new ClockWindow;
    state->plugin = static_cast<const Plugin*>(create->lpCreateParams);
    state->time_font = MakeFont(40, FW_BOLD);
    state->date_font = MakeFont(16, FW_NORMAL);
    state->name_font = MakeFont(12, FW_NORMAL);
    state->text_font = MakeFont(16, FW_NORMAL);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    SetTimer(window, kRefreshTimer, kRefreshMilliseconds, nullptr);
    Refresh(window);
    return 0;
}

void OnDestroy(HWND window) {
    KillTimer(window, kRefreshTimer);
    ClockWindow* state = StateOf(window);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (state) {
        for (HFONT font : {state->time_font, state->date_font, state->name_font, state->text_font})
            if (font) DeleteObject(font);
        delete state;
    }
    PostQuitMessage(0);
}

LRESULT CALLBACK ClockProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    try {
        switch (message) {
            case WM_CREATE:
                return OnCreate(window, reinterpret_cast<const CREATESTRUCTW*>(lparam));
            case WM_TIMER:
                if (wparam == kRefreshTimer) Refresh(window);
                return 0;
            case WM_PAINT:
                OnPaint(window);
                return 0;
            case WM_ERASEBKGND:
                return 1;  // the paint covers everything
            case WM_CONTEXTMENU:
                OnContextMenu(window, lparam);
                return 0;
            case WM_LBUTTONDBLCLK:
                OnDoubleClick(window, lparam);
                return 0;
            case WM_MOUSEWHEEL:
                OnWheel(window, wparam);
                return 0;
            case WM_DESTROY:
                OnDestroy(window);
                return 0;
            default:
                return DefWindowProcW(window, message, wparam, lparam);
        }
    } catch (...) {
        // Nothing may leave a window procedure; the message is dropped.
        return 0;
    }
}

}  // namespace

HWND CreateHostWindow(const Plugin& plugin, int x, int y) {
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.style = CS_DBLCLKS;
    type.lpfnWndProc = ClockProc;
    type.hInstance = GetModuleHandleW(nullptr);
    type.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW, whose macro is narrow here
    type.lpszClassName = kClassName;
    RegisterClassExW(&type);  // already registered on a second call
    PluginInfo info{};
    plugin.get_info(&info);
    std::wstring title = L"qvhost - " + Cp932ToWide(info.name, sizeof info.name);
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    RECT frame{0, 0, kClientWidth, kHeaderHeight * 2};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    HWND window = CreateWindowExW(0, kClassName, title.c_str(), style, x, y, frame.right - frame.left,
                                  frame.bottom - frame.top, nullptr, nullptr, type.hInstance,
                                  const_cast<Plugin*>(&plugin));
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}

void RunHostWindow(HWND window) {
    MSG message;
    while (IsWindow(window) && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

int ShownLines(HWND window) {
    ClockWindow* state = StateOf(window);
    return state ? static_cast<int>(state->lines.size()) : 0;
}

std::wstring ShownLine(HWND window, int number, int setting) {
    ClockWindow* state = StateOf(window);
    if (!state) return std::wstring();
    for (const Line& line : state->lines)
        if (line.number == number && line.setting == setting)
            return SettingName(*state->plugin, number, setting) + L"\t" + line.text;
    return std::wstring();
}

void OpenHostMenu(HWND window) {
    POINT corner{24, 24};
    ClientToScreen(window, &corner);
    PostMessageW(window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(window), MAKELPARAM(corner.x, corner.y));
}

}  // namespace qvhost
