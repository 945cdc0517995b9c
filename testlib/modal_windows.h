// Modal windows driven from a watcher thread: message boxes found, read and
// answered; a modal loop run on this thread while a watcher works the
// window it opens, closed for it when the watcher could not; and a deadline
// that cancels whatever a modal loop still shows once its time is up.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace feedlet {
namespace win32_testing {

// A message box as its user sees it.
struct MessageBoxView {
    HWND window = nullptr;
    std::string caption;       // UTF-8
    std::string text;          // UTF-8
    std::string icon;          // "warning", "question", "information", "error", "" (none) or "other"
    std::vector<int> buttons;  // the command ids of its buttons, ascending (IDOK, IDYES, IDNO, ...)
};
// A visible dialog-class window of this process owned by owner (a message
// box over a dialog), or null.
HWND FindOwnedDialog(HWND owner);
// Waits for one and reads it; window stays null when none came in time.
MessageBoxView WaitForMessageBox(HWND owner, DWORD timeout_ms);
MessageBoxView ReadMessageBox(HWND box);
// Presses the box's button (IDYES, IDNO, IDOK...) and waits for the box to
// go; false when it stayed.
bool Answer(const MessageBoxView& box, int button, DWORD timeout_ms);

// Posts Cancel to every visible dialog and message box of this process
// (under Wine a message box ends on any of its commands).
void CancelProcessDialogs();

// Bounds a modal loop run on this thread: once timeout_ms have passed, a
// thread timer (dispatched by any modal loop) cancels every visible dialog
// and message box of this process, again and again until the loop has
// returned. fired() says whether it had to.
class ModalDeadline {
public:
    explicit ModalDeadline(DWORD timeout_ms);
    ~ModalDeadline();
    ModalDeadline(const ModalDeadline&) = delete;
    ModalDeadline& operator=(const ModalDeadline&) = delete;
    bool fired() const;

private:
    UINT_PTR timer_ = 0;
};

// Runs show on this thread while act runs on a watcher thread with the
// visible window of this class and caption (a modal dialog show opens), once
// it appears. Whatever act leaves open is cancelled so that show always
// returns; every wait is bounded by timeout_ms.
struct ModalRun {
    bool appeared = false;  // the window appeared and act ran
    bool acted = false;     // act returned
    bool closed = false;    // it was gone once act had finished, without help
    bool joined = false;    // the watcher ended in time
    int result = 0;         // what show returned
};
ModalRun RunModal(const wchar_t* window_class, const wchar_t* caption, const std::function<int()>& show,
                  const std::function<void(HWND)>& act, DWORD timeout_ms);

}  // namespace win32_testing
}  // namespace feedlet
