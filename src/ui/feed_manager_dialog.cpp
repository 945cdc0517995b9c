#include "ui/feed_manager_dialog.h"

#include <commctrl.h>

#include <string>

#include "plugin/plugin_state.h"
#include "settings/feed_check_run.h"
#include "settings/feed_edits.h"
#include "settings/intervals.h"
#include "ui/dialog_controls.h"
#include "ui/resource.h"
#include "ui/user_interface.h"

namespace feedlet {
namespace ui {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 at the Windows boundary");

// The list's columns: title (UTF-16) and width in pixels.
struct Column {
    const wchar_t* title;
    int width;
};
const Column kColumns[] = {
    {L"名前", 120},
    {L"更新頻度", 70},
    {L"URL", 200},
    {L"ソート", 30},
};

// Posted by a check's worker when the check has ended.
constexpr UINT kCheckEndedMessage = WM_APP + 1;
// What the Check button says while a check runs.
constexpr wchar_t kCheckRunningText[] = L"チェック中…";
// The buttons a running check disables: everything but Cancel, which ends
// the check and the dialog.
constexpr int kBusyButtons[] = {IDC_MANAGER_ADD, IDC_MANAGER_UPDATE, IDC_MANAGER_DELETE, IDC_MANAGER_CHECK, IDOK};

// The dialog's inputs and state, one per open dialog, reached from the
// window through GWLP_USERDATA.
struct FeedManagerDialogData {
    PluginState* state = nullptr;
    // The feed selected when the dialog opens (null: none).
    FeedCrawler* preselect = nullptr;
    // Set by any notification from the four fields, cleared when they are
    // loaded from the selected row and when the dialog opens: OK asks before
    // it leaves typed values behind.
    bool edited = false;
    // The trial fetch while it runs, and the Check button's own text.
    FeedCheckRun check;
    std::u16string check_text;
};

FeedManagerDialogData* DataOf(HWND dialog) {
    return reinterpret_cast<FeedManagerDialogData*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

// The whole text of a field as code page 932; what is kept of it is cut
// later, on a character boundary.
std::string FieldText(HWND dialog, int id) { return ToCp932(ControlText(dialog, id)); }

int Show(HWND dialog, const DialogMessage& message, UINT type) {
    return MessageBoxW(dialog, reinterpret_cast<const wchar_t*>(message.text.c_str()),
                       reinterpret_cast<const wchar_t*>(message.caption), type);
}

// ---------------------------------------------------------------------------
// The list and the interval list.

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_MANAGER_LIST); }

int SelectedRow(HWND dialog) {
    return static_cast<int>(SendMessageW(List(dialog), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// The entry a row stands for, through the index the row keeps.
FeedEntry* EntryOf(HWND dialog, const FeedManagerDialogData& data, int row) {
    if (row < 0) return nullptr;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageW(List(dialog), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return nullptr;
    return EntryOfRow(data.state->feeds, static_cast<intptr_t>(item.lParam));
}

// The selected row and its entry; null (row -1) without a selection.
FeedEntry* SelectedEntry(HWND dialog, const FeedManagerDialogData& data, int* row) {
    *row = SelectedRow(dialog);
    return EntryOf(dialog, data, *row);
}

void SetCell(HWND list, int row, int column, const std::wstring& text) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

void SetRowCells(HWND list, int row, const FeedEntry& entry) {
    FeedRowCells cells = FeedRow(entry);
    SetCell(list, row, 0, FromCp932(cells.name.c_str()));
    SetCell(list, row, 1, FromCp932(cells.interval.c_str()));
    SetCell(list, row, 2, FromCp932(cells.url.c_str()));
    SetCell(list, row, 3, FromCp932(cells.sort));
}

// A row at the end for the entry at index in feeds; the row's number.
int AppendRow(HWND list, const FeedEntry& entry, int32_t index) {
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    item.lParam = static_cast<LPARAM>(index);
    int row = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    if (row >= 0) SetRowCells(list, row, entry);
    return row;
}

void SelectRow(HWND list, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(row), FALSE);
}

// Selects the item with these seconds; a value the list lacks (an interval
// written into RSS.ini by hand) is appended under its own text first.
void SelectInterval(HWND dialog, uint32_t seconds) {
    if (SelectChoiceByData(dialog, IDC_MANAGER_INTERVAL, static_cast<LPARAM>(seconds))) return;
    AddChoice(dialog, IDC_MANAGER_INTERVAL, FromCp932(IntervalText(seconds).c_str()), static_cast<LPARAM>(seconds));
    SelectChoiceByData(dialog, IDC_MANAGER_INTERVAL, static_cast<LPARAM>(seconds));
}

uint32_t SelectedInterval(HWND dialog) {
    LPARAM seconds = 0;
    if (!SelectedChoice(dialog, IDC_MANAGER_INTERVAL, &seconds)) return kDefaultFeedInterval;
    return static_cast<uint32_t>(seconds);
}

FeedFields ReadFields(HWND dialog) {
    return ReadFeedFields(FieldText(dialog, IDC_MANAGER_NAME).c_str(), FieldText(dialog, IDC_MANAGER_URL).c_str(),
                          SelectedInterval(dialog),
                          IsDlgButtonChecked(dialog, IDC_MANAGER_SORT) == BST_CHECKED);
}

// The checks of Add and Update; false (after the warning) when one fails.
bool FieldsPass(HWND dialog, const FeedManagerDialogData& data, const FeedFields& fields, const FeedEntry* updated) {
    FeedFieldProblem problem = CheckFeedFields(data.state->feeds, fields, updated);
    if (problem == FeedFieldProblem::kNone) return true;
    Show(dialog, FeedFieldMessage(problem), MB_OK | MB_ICONWARNING);
    return false;
}

// ---------------------------------------------------------------------------
// The dialog's messages.

BOOL OnInitDialog(HWND dialog, FeedManagerDialogData* data) {
    if (!data) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
    SendDlgItemMessageW(dialog, IDC_MANAGER_NAME, EM_LIMITTEXT, kFeedNameChars, 0);
    SendDlgItemMessageW(dialog, IDC_MANAGER_URL, EM_LIMITTEXT, kFeedUrlChars, 0);

    HWND list = List(dialog);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    for (int i = 0; i < static_cast<int>(sizeof kColumns / sizeof kColumns[0]); ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = LVCFMT_LEFT;
        column.cx = kColumns[i].width;
        column.pszText = const_cast<wchar_t*>(kColumns[i].title);
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    int preselected = -1;
    int32_t index = 0;
    for (const FeedEntry* entry : data->state->feeds.As<FeedEntry>()) {
        int32_t own = index++;
        if (!entry || !entry->crawler) continue;
        int row = AppendRow(list, *entry, own);
        if (entry->crawler == data->preselect) preselected = row;
    }

    for (size_t i = 0; i < kIntervalCount; ++i)
        AddChoice(dialog, IDC_MANAGER_INTERVAL, FromCp932(kIntervalTable[i].text.Narrow()),
                  static_cast<LPARAM>(kIntervalTable[i].seconds));
    SelectInterval(dialog, kDefaultFeedInterval);
    data->edited = false;
    // The selection's notification loads the fields.
    if (preselected >= 0) SelectRow(list, preselected);
    return TRUE;
}

void LoadSelectedRow(HWND dialog, FeedManagerDialogData& data) {
    int row;
    FeedEntry* entry = SelectedEntry(dialog, data, &row);
    if (!entry) return;
    FeedFields fields = FieldsOf(*entry);
    SetDlgItemTextW(dialog, IDC_MANAGER_NAME, FromCp932(fields.name.c_str()).c_str());
    SetDlgItemTextW(dialog, IDC_MANAGER_URL, FromCp932(fields.url.c_str()).c_str());
    SelectInterval(dialog, fields.interval);
    CheckDlgButton(dialog, IDC_MANAGER_SORT, fields.sort ? BST_CHECKED : BST_UNCHECKED);
    // Loading set it through the fields' own notifications.
    data.edited = false;
}

// Only a change of the selection loads the fields. The list also reports
// every change of a row's text, and Add and Update change rows: reloading
// then would overwrite what was typed with the selected row's values.
void OnNotify(HWND dialog, FeedManagerDialogData& data, const NMHDR* header) {
    if (!header || header->idFrom != IDC_MANAGER_LIST || header->code != LVN_ITEMCHANGED) return;
    const auto* change = reinterpret_cast<const NMLISTVIEW*>(header);
    if (!(change->uChanged & LVIF_STATE) || !((change->uNewState ^ change->uOldState) & LVIS_SELECTED)) return;
    LoadSelectedRow(dialog, data);
}

void OnAdd(HWND dialog, FeedManagerDialogData& data) {
    FeedFields fields = ReadFields(dialog);
    if (!FieldsPass(dialog, data, fields, nullptr)) return;
    PluginState& state = *data.state;
    int32_t index = AddFeed(state.feeds, state.plugin_lock, fields);
    if (index < 0) return;
    AppendRow(List(dialog), *state.feeds.At<FeedEntry>(index), index);
}

void OnUpdate(HWND dialog, FeedManagerDialogData& data) {
    int row;
    FeedEntry* entry = SelectedEntry(dialog, data, &row);
    if (!entry) return;
    FeedFields fields = ReadFields(dialog);
    if (!FieldsPass(dialog, data, fields, entry)) return;
    if (UpdateFeed(*entry, fields)) SetRowCells(List(dialog), row, *entry);
}

void OnDelete(HWND dialog, FeedManagerDialogData& data) {
    int row;
    FeedEntry* entry = SelectedEntry(dialog, data, &row);
    if (!entry) return;
    if (Show(dialog, DeleteQuestion(ShownFeed(*entry).name), MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    MarkFeedDeleted(*entry);
    SendMessageW(List(dialog), LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
}

// The worker thread, when the check has ended: only a post.
void OnCheckEnded(void* context) { PostMessageW(static_cast<HWND>(context), kCheckEndedMessage, 0, 0); }

void ShowCheckRunning(HWND dialog, FeedManagerDialogData& data, bool running) {
    for (int id : kBusyButtons) EnableWindow(GetDlgItem(dialog, id), running ? FALSE : TRUE);
    HWND button = GetDlgItem(dialog, IDC_MANAGER_CHECK);
    if (running) {
        data.check_text = ControlText(dialog, IDC_MANAGER_CHECK);
        SetWindowTextW(button, kCheckRunningText);
        // The focus must not stay on a button that no longer answers.
        SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDCANCEL)), TRUE);
    } else {
        SetWindowTextW(button, reinterpret_cast<const wchar_t*>(data.check_text.c_str()));
    }
}

// The trial fetch runs on a worker thread, within the fetch's own time-outs
// and size limit; the dialog goes on painting and answering meanwhile.
void OnCheck(HWND dialog, FeedManagerDialogData& data) {
    if (data.check.Running()) return;
    std::string url = ReadFields(dialog).url;
    if (!data.check.Start(url.c_str(), OnCheckEnded, dialog)) {
        Show(dialog, FeedCheckMessage(FeedCheck{}), MB_OK);
        return;
    }
    ShowCheckRunning(dialog, data, true);
}

void OnCheckDone(HWND dialog, FeedManagerDialogData& data) {
    if (!data.check.Running()) return;
    FeedCheck check = data.check.Take();
    ShowCheckRunning(dialog, data, false);
    Show(dialog, FeedCheckMessage(check), MB_OK);
}

// Cancel, Escape and the close box end a running check with the dialog.
void OnCancel(HWND dialog, FeedManagerDialogData& data) {
    data.check.Cancel();
    EndDialog(dialog, IDCANCEL);
}

void OnOk(HWND dialog, FeedManagerDialogData& data) {
    if (data.edited && Show(dialog, LeaveQuestion(), MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    PluginState& state = *data.state;
    if (CommitFeedEdits(state, state.plugin_lock, 1, OnFeedUpdated)) {
        SaveFeeds(state);
        // Deleted feeds' crawlers are gone: no submenu may refer to them.
        RebuildArticleMenu();
    }
    EndDialog(dialog, IDOK);
}

void OnCommand(HWND dialog, FeedManagerDialogData& data, int id, int code) {
    switch (id) {
        case IDC_MANAGER_NAME:
        case IDC_MANAGER_URL:
        case IDC_MANAGER_INTERVAL:
        case IDC_MANAGER_SORT:
            data.edited = true;
            return;
        case IDOK:
            OnOk(dialog, data);
            return;
        case IDCANCEL:
            OnCancel(dialog, data);
            return;
        default:
            break;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
        case IDC_MANAGER_ADD:
            OnAdd(dialog, data);
            break;
        case IDC_MANAGER_UPDATE:
            OnUpdate(dialog, data);
            break;
        case IDC_MANAGER_DELETE:
            OnDelete(dialog, data);
            break;
        case IDC_MANAGER_CHECK:
            OnCheck(dialog, data);
            break;
        default:
            break;
    }
}

// However the dialog ends, no mark and no pending copy outlive it; after OK
// there is nothing left to discard. No check outlives it either.
void OnDestroy(FeedManagerDialogData& data) {
    data.check.Cancel();
    CommitFeedEdits(*data.state, data.state->plugin_lock, 0, OnFeedUpdated);
}

INT_PTR CALLBACK FeedManagerProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return HandleMessageSafely(dialog, IDCANCEL, [&]() -> INT_PTR {
        if (message == WM_INITDIALOG) return OnInitDialog(dialog, reinterpret_cast<FeedManagerDialogData*>(lparam));
        // Controls may speak before WM_INITDIALOG has stored the data.
        FeedManagerDialogData* data = DataOf(dialog);
        if (!data) return FALSE;
        switch (message) {
            case WM_NOTIFY:
                OnNotify(dialog, *data, reinterpret_cast<const NMHDR*>(lparam));
                return FALSE;
            case WM_COMMAND:
                OnCommand(dialog, *data, LOWORD(wparam), HIWORD(wparam));
                return TRUE;
            case WM_CLOSE:
                OnCancel(dialog, *data);
                return TRUE;
            case kCheckEndedMessage:
                OnCheckDone(dialog, *data);
                return TRUE;
            case WM_DESTROY:
                OnDestroy(*data);
                return TRUE;
            default:
                return FALSE;
        }
    });
}

}  // namespace

void ShowFeedManagerDialog(HWND parent, FeedCrawler* preselect) {
    FeedManagerDialogData data;
    data.state = &Plugin();
    data.preselect = preselect;
    DialogBoxParamW(static_cast<HINSTANCE>(Plugin().module), MAKEINTRESOURCEW(IDD_FEED_MANAGER), parent,
                    FeedManagerProc, reinterpret_cast<LPARAM>(&data));
}

}  // namespace ui
}  // namespace feedlet
