#include "process_windows.h"

#include "bounded_waits.h"

namespace feedlet {
namespace win32_testing {

namespace {

struct Search {
    const wchar_t* window_class;
    std::vector<HWND> found;
};

BOOL CALLBACK Visit(HWND window, LPARAM raw) {
    auto* search = reinterpret_cast<Search*>(raw);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    wchar_t name[256];
    if (GetClassNameW(window, name, 256) && lstrcmpW(name, search->window_class) == 0) search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> ProcessWindows(const wchar_t* window_class) {
    Search search{window_class, {}};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindProcessWindow(const wchar_t* window_class, const wchar_t* caption) {
    for (HWND window : ProcessWindows(window_class)) {
        if (!caption) return window;
        wchar_t text[512];
        GetWindowTextW(window, text, 512);
        if (lstrcmpW(text, caption) == 0) return window;
    }
    return nullptr;
}

HWND WaitForWindow(const wchar_t* window_class, const wchar_t* caption, DWORD timeout_ms) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindProcessWindow(window_class, caption)) != nullptr; }, timeout_ms);
    return found;
}

int CountProcessWindows(const wchar_t* window_class) { return static_cast<int>(ProcessWindows(window_class).size()); }

RECT WindowsBounds(const wchar_t* window_class, int margin) {
    RECT bounds{0, 0, 0, 0};
    for (HWND window : ProcessWindows(window_class)) {
        RECT rect;
        GetWindowRect(window, &rect);
        if (IsRectEmpty(&bounds)) bounds = rect;
        else UnionRect(&bounds, &bounds, &rect);
    }
    if (!IsRectEmpty(&bounds)) InflateRect(&bounds, margin, margin);
    RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&bounds, &bounds, &screen);
    return bounds;
}

bool WaitUntilGone(HWND window, DWORD timeout_ms) {
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout_ms);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
    return out;
}

std::string WindowText(HWND window) {
    int n = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    GetWindowTextW(window, &text[0], n + 1);
    text.resize(static_cast<size_t>(n));
    return Utf8(text);
}

void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void ClickDialogButton(HWND dialog, int id) { Click(GetDlgItem(dialog, id)); }

bool ClickAndWait(HWND button, DWORD timeout_ms) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, timeout_ms, &result) != 0;
}

void SetControlText(HWND dialog, int id, const std::string& utf8) {
    SetWindowTextW(GetDlgItem(dialog, id), Wide(utf8).c_str());
}

std::string ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool WaitForHighlight(HMENU menu, int position, DWORD timeout_ms) {
    return WaitUntil(
        [&] {
            UINT state = GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION);
            return state != static_cast<UINT>(-1) && (state & MF_HILITE) != 0;  // -1: no such entry
        },
        timeout_ms);
}

bool WalkPopup(HWND popup, const std::vector<MenuKey>& keys, DWORD timeout_ms) {
    for (const MenuKey& step : keys) {
        PostMessageW(popup, WM_KEYDOWN, step.key, 0);
        if (step.menu && !WaitForHighlight(step.menu, step.position, timeout_ms)) return false;
    }
    return true;
}

HMENU PopupMenuOf(HWND popup) { return reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0)); }

}  // namespace win32_testing
}  // namespace feedlet
