#include "ui_test_util.h"

#include "test_util.h"

#include <algorithm>
#include <atomic>

#include "fetch/feed_crawler.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_state.h"
#include "ui/user_interface.h"
#include <commctrl.h>

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

bool PumpUntilFetchesEnd(DWORD timeout_ms) {
    bool ended = PumpUntil(
        [] {
            for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>())
                if (entry && entry->crawler && entry->crawler->workers.load() != 0) return false;
            return true;
        },
        timeout_ms);
    // An update handled while its fetch still held the lock is retried
    // shortly: the menu has caught up once no submenu is left stale.
    return ended && PumpUntil([] { return !ui::State().article_menu || !ui::State().article_menu->HasStale(); },
                              timeout_ms);
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

int CountProcessWindows(const wchar_t* window_class) { return static_cast<int>(ProcessWindows(window_class).size()); }

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

std::string Cp932(const std::string& utf8) {
    std::wstring wide = Wide(utf8);
    return testing_util::Cp932(reinterpret_cast<const char16_t*>(wide.c_str()));
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

bool WaitUntilGone(HWND window, DWORD timeout_ms) {
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout_ms);
}

namespace {

std::string ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return Utf8(name);
}

// The standard icons a message box shows are the shared system icons.
std::string IconName(HICON icon) {
    if (!icon) return "";
    struct {
        LPCWSTR id;
        const char* name;
    } icons[] = {
        {MAKEINTRESOURCEW(32515), "warning"},      // IDI_WARNING (IDI_EXCLAMATION)
        {MAKEINTRESOURCEW(32514), "question"},     // IDI_QUESTION
        {MAKEINTRESOURCEW(32516), "information"},  // IDI_INFORMATION (IDI_ASTERISK)
        {MAKEINTRESOURCEW(32513), "error"},        // IDI_ERROR (IDI_HAND)
    };
    for (const auto& known : icons)
        if (LoadIconW(nullptr, known.id) == icon) return known.name;
    return "other";
}

BOOL CALLBACK VisitBoxChild(HWND child, LPARAM raw) {
    auto* view = reinterpret_cast<MessageBoxView*>(raw);
    std::string kind = ClassOf(child);
    LONG style = GetWindowLongW(child, GWL_STYLE);
    if (kind == "Button") {
        if (IsWindowVisible(child)) view->buttons.push_back(GetDlgCtrlID(child));
    } else if (kind == "Static") {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            if (IsWindowVisible(child))
                view->icon = IconName(reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0)));
        } else if (view->text.empty()) {
            view->text = WindowText(child);
        }
    }
    return TRUE;
}

}  // namespace

HWND FindOwnedDialog(HWND owner) {
    for (HWND window : ProcessWindows(L"#32770"))
        if (GetWindow(window, GW_OWNER) == owner) return window;
    return nullptr;
}

MessageBoxView ReadMessageBox(HWND box) {
    MessageBoxView view;
    view.window = box;
    view.caption = WindowText(box);
    EnumChildWindows(box, VisitBoxChild, reinterpret_cast<LPARAM>(&view));
    std::sort(view.buttons.begin(), view.buttons.end());
    return view;
}

MessageBoxView WaitForMessageBox(HWND owner, DWORD timeout_ms) {
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindOwnedDialog(owner)) != nullptr; }, timeout_ms);
    // A box is shown only once its controls are filled in.
    return box ? ReadMessageBox(box) : MessageBoxView();
}

bool Answer(const MessageBoxView& box, int button, DWORD timeout_ms) {
    if (!box.window) return false;
    HWND control = GetDlgItem(box.window, button);
    if (!control) return false;
    Click(control);
    return WaitUntilGone(box.window, timeout_ms);
}

namespace {

std::atomic<DWORD> g_deadline_at{0};
std::atomic<bool> g_deadline_fired{false};

void CALLBACK DeadlineTick(HWND, UINT, UINT_PTR, DWORD) {
    if (static_cast<LONG>(GetTickCount() - g_deadline_at.load()) < 0) return;
    g_deadline_fired = true;
    CancelProcessDialogs();
}

}  // namespace

void CancelProcessDialogs() {
    for (HWND window : ProcessWindows(L"#32770")) PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

ModalDeadline::ModalDeadline(DWORD timeout_ms) {
    g_deadline_at = GetTickCount() + timeout_ms;
    g_deadline_fired = false;
    timer_ = SetTimer(nullptr, 0, 250, DeadlineTick);
}

ModalDeadline::~ModalDeadline() {
    if (timer_) KillTimer(nullptr, timer_);
}

bool ModalDeadline::fired() const { return g_deadline_fired.load(); }

PluginHost::PluginHost(ui::TrayIcon::NotifyFn notify) {
    plugin_dir_ = host_.path() + "Plugins\\";
    platform::CreateFolder(plugin_dir_.c_str());
    platform::CreateFolder((plugin_dir_ + "Feedlet").c_str());
    saved_dir_ = platform::PluginDirectory();
    platform::SetPluginDirectory(plugin_dir_.c_str());
    PluginAttach(GetModuleHandleW(nullptr));
    SetPluginUi(&ui::UserInterface());
    ui::TrayIcon::SetNotifyFunction(notify);
}

PluginHost::~PluginHost() {
    PluginDetach(false);
    SetPluginUi(nullptr);
    ui::TrayIcon::SetNotifyFunction(nullptr);
    ResetFunctionInfo();
    platform::SetPluginDirectory(saved_dir_.c_str());
    PumpPending();
}

std::string PluginHost::File(const std::string& name, const std::string& bytes) const {
    std::string path = host_.path() + name;
    WriteFile(path, bytes);
    return path;
}

void TypeText(HWND dialog, int id, const std::string& utf8) {
    HWND control = GetDlgItem(dialog, id);
    for (wchar_t unit : Wide(utf8)) SendMessageW(control, WM_CHAR, unit, 1);
}

bool IsControlShown(HWND dialog, int id) {
    return (GetWindowLongPtrW(GetDlgItem(dialog, id), GWL_STYLE) & WS_VISIBLE) != 0;
}

std::vector<std::string> ComboItems(HWND dialog, int id) {
    std::vector<std::string> items;
    LRESULT count = SendDlgItemMessageW(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendDlgItemMessageW(dialog, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        SendDlgItemMessageW(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(length > 0 ? length : 0));
        items.push_back(Utf8(text));
    }
    return items;
}

int ComboSelection(HWND dialog, int id) {
    return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

void ChooseComboItem(HWND dialog, int id, int index) {
    SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string ListViewText(HWND list, int row, int column) {
    wchar_t text[512] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 512;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return Utf8(text);
}

std::vector<std::string> ListViewColumns(HWND list) {
    std::vector<std::string> titles;
    for (int i = 0;; ++i) {
        wchar_t text[256] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        column.cchTextMax = 256;
        if (!SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column))) break;
        titles.push_back(Utf8(text));
    }
    return titles;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

ModalRun RunModal(const wchar_t* window_class, const wchar_t* caption, const std::function<int()>& show,
                  const std::function<void(HWND)>& act, DWORD timeout_ms) {
    ModalRun run;
    Watcher watcher([&] {
        HWND window = WaitForWindow(window_class, caption, timeout_ms);
        if (!window) return;
        run.appeared = true;
        act(window);
        run.closed = WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout_ms);
        // What act left open (a nested dialog first, then this one) is closed,
        // so that show returns and the test fails instead of hanging.
        for (int i = 0; i < 20 && IsWindow(window) && IsWindowVisible(window); ++i) {
            if (HWND top = FindProcessWindow(L"#32770")) PostMessageW(top, WM_CLOSE, 0, 0);
            Sleep(100);
        }
    });
    run.result = show();
    watcher.Join(timeout_ms);
    return run;
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
