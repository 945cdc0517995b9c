#include "ui_test_util.h"

namespace feedlet {
namespace testing_util {

void PumpPending() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        PumpPending();
        if (done()) return true;
        DWORD spent = GetTickCount() - start;
        if (spent >= timeout_ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(5);
    }
    return true;
}

namespace {

struct Search {
    const wchar_t* window_class;
    const wchar_t* caption;
    HWND found;
    int count;
};

BOOL CALLBACK Visit(HWND window, LPARAM raw) {
    auto* search = reinterpret_cast<Search*>(raw);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    wchar_t name[256];
    if (!GetClassNameW(window, name, 256) || lstrcmpW(name, search->window_class) != 0) return TRUE;
    if (search->caption) {
        wchar_t text[512];
        GetWindowTextW(window, text, 512);
        if (lstrcmpW(text, search->caption) != 0) return TRUE;
    }
    if (!search->found) search->found = window;
    ++search->count;
    return TRUE;
}

}  // namespace

HWND FindProcessWindow(const wchar_t* window_class, const wchar_t* caption) {
    Search search{window_class, caption, nullptr, 0};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int CountProcessWindows(const wchar_t* window_class) {
    Search search{window_class, nullptr, nullptr, 0};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

HWND WaitForWindow(const wchar_t* window_class, const wchar_t* caption, DWORD timeout_ms) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindProcessWindow(window_class, caption)) != nullptr; }, timeout_ms);
    return found;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
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

std::vector<std::string> MenuLines(HMENU menu) {
    std::vector<std::string> lines;
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        wchar_t label[256] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), label, 256, MF_BYPOSITION);
        // A popup's state carries its item count in the high byte.
        if (state & MF_POPUP) lines.push_back("popup " + Utf8(label));
        else if (state & MF_SEPARATOR) lines.push_back("----");
        else if (state & (MF_GRAYED | MF_DISABLED)) lines.push_back("grayed " + Utf8(label));
        else lines.push_back("item " + Utf8(label));
    }
    return lines;
}

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

Watcher::Watcher(std::function<void()> work) : work_(std::move(work)) {
    thread_ = CreateThread(nullptr, 0, Main, this, 0, nullptr);
}

Watcher::~Watcher() {
    if (thread_) {
        // A watcher must never outlive what it works on: one that is stuck
        // (the test has failed by then) is ended.
        if (!Join(10000)) TerminateThread(thread_, 1);
        CloseHandle(thread_);
    }
}

DWORD WINAPI Watcher::Main(void* self) {
    static_cast<Watcher*>(self)->work_();
    return 0;
}

bool Watcher::Join(DWORD timeout_ms) {
    if (!thread_) return false;
    return PumpUntil([&] { return WaitForSingleObject(thread_, 0) == WAIT_OBJECT_0; }, timeout_ms);
}

}  // namespace testing_util
}  // namespace feedlet
