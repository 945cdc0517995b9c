#include "modal_windows.h"

#include <algorithm>
#include <atomic>

#include "bounded_waits.h"
#include "process_windows.h"

namespace feedlet {
namespace win32_testing {

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

std::atomic<DWORD> g_deadline_at{0};
std::atomic<bool> g_deadline_fired{false};

void CALLBACK DeadlineTick(HWND, UINT, UINT_PTR, DWORD) {
    if (static_cast<LONG>(GetTickCount() - g_deadline_at.load()) < 0) return;
    g_deadline_fired = true;
    CancelProcessDialogs();
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

ModalRun RunModal(const wchar_t* window_class, const wchar_t* caption, const std::function<int()>& show,
                  const std::function<void(HWND)>& act, DWORD timeout_ms) {
    ModalRun run;
    Watcher watcher([&] {
        HWND window = WaitForWindow(window_class, caption, timeout_ms);
        if (!window) return;
        run.appeared = true;
        act(window);
        run.acted = true;
        run.closed = WaitUntilGone(window, timeout_ms);
        // What act left open (a message box or a nested dialog over this
        // one, then this one) is cancelled, the topmost first, each waited
        // for, so that show returns and the caller's checks fail instead of
        // hanging.
        DWORD start = GetTickCount();
        while (IsWindow(window) && IsWindowVisible(window) && GetTickCount() - start < timeout_ms) {
            HWND top = FindProcessWindow(L"#32770");
            if (!top) break;
            CancelProcessDialogs();
            WaitUntil([&] { return !IsWindow(top) || !IsWindowVisible(top) || !IsWindowVisible(window); }, 1000);
        }
    });
    run.result = show();
    run.joined = watcher.Join(timeout_ms);
    return run;
}

}  // namespace win32_testing
}  // namespace feedlet
