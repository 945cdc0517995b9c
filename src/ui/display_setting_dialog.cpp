#include "ui/display_setting_dialog.h"

#include <commctrl.h>

#include "plugin/plugin_state.h"
#include "settings/display_setting_edit.h"
#include "text/display_text.h"
#include "ui/dialog_controls.h"
#include "ui/feed_manager_dialog.h"
#include "ui/resource.h"

namespace feedlet {
namespace ui {

namespace {

constexpr int kTokenColumnWidth = 90;        // pixels
constexpr int kDescriptionColumnWidth = 190;

DisplaySettingDialogData* DataOf(HWND dialog) {
    return reinterpret_cast<DisplaySettingDialogData*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

// The dialog keeps its parameter as the text of the invisible label and
// reads it back from there whenever it needs to know what it edits.
uint32_t ParameterOf(HWND dialog) { return ParseDialogParameter(ControlText(dialog, IDC_DISPLAY_PARAMETER).c_str()); }

// The count edit with its up-down and the period list share one place
// beside the condition; the label over it names whichever is shown.
void ShowAmountFor(HWND dialog, int condition) {
    ShowControls(dialog, {IDC_DISPLAY_AMOUNT_LABEL, IDC_DISPLAY_PERIOD, IDC_DISPLAY_COUNT, IDC_DISPLAY_COUNT_SPIN},
                 false);
    AmountField field = AmountFieldFor(condition);
    const char* label = AmountLabel(field);
    if (!label) return;
    SetControlText(dialog, IDC_DISPLAY_AMOUNT_LABEL, FromCp932(label));
    ShowControls(dialog, {IDC_DISPLAY_AMOUNT_LABEL}, true);
    if (field == AmountField::kCount) ShowControls(dialog, {IDC_DISPLAY_COUNT, IDC_DISPLAY_COUNT_SPIN}, true);
    else ShowControls(dialog, {IDC_DISPLAY_PERIOD}, true);
}

int SelectedCondition(HWND dialog) {
    LPARAM value = 0;
    return SelectedChoice(dialog, IDC_DISPLAY_CONDITION, &value) ? static_cast<int>(value) : -1;
}

// One entry per registered feed, named as it is now; selected's entry is
// selected (none when no feed has that crawler any more).
void FillTargetList(HWND dialog, const ItemList& feeds, LPARAM selected) {
    SendDlgItemMessageW(dialog, IDC_DISPLAY_TARGET, CB_RESETCONTENT, 0, 0);
    for (FeedEntry* entry : feeds.As<FeedEntry>())
        if (entry && entry->crawler)
            AddChoice(dialog, IDC_DISPLAY_TARGET, FromCp932(entry->name), reinterpret_cast<LPARAM>(entry->crawler));
    SelectChoiceByData(dialog, IDC_DISPLAY_TARGET, selected);
    FitDroppedWidth(dialog, IDC_DISPLAY_TARGET);
}

void FillArticleControls(HWND dialog, const DisplaySetting& setting) {
    for (const ConditionChoice& choice : kConditionChoices)
        AddChoice(dialog, IDC_DISPLAY_CONDITION, FromCp932(choice.text.Narrow()), choice.value);
    int condition = ConditionChoiceIndex(setting.flag);
    SendDlgItemMessageW(dialog, IDC_DISPLAY_CONDITION, CB_SETCURSEL, static_cast<WPARAM>(condition), 0);

    PeriodList periods = PeriodChoices(setting.time);
    for (const PeriodChoice& choice : periods.choices)
        AddChoice(dialog, IDC_DISPLAY_PERIOD, FromCp932(choice.text.c_str()), choice.seconds);
    SendDlgItemMessageW(dialog, IDC_DISPLAY_PERIOD, CB_SETCURSEL, static_cast<WPARAM>(periods.selected), 0);
    FitDroppedWidth(dialog, IDC_DISPLAY_PERIOD);

    SendDlgItemMessageW(dialog, IDC_DISPLAY_COUNT_SPIN, UDM_SETRANGE32, kMinArticleCount, kMaxArticleCount);
    LimitText(dialog, IDC_DISPLAY_COUNT, kCountCharacters);
    SetDlgItemInt(dialog, IDC_DISPLAY_COUNT, setting.num, FALSE);
    ShowAmountFor(dialog, condition >= 0 ? kConditionChoices[condition].value : -1);
}

void FillTokenList(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DISPLAY_TOKENS);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
    const struct {
        const char16_t* title;
        int width;
    } columns[] = {{u"項目", kTokenColumnWidth}, {u"説明", kDescriptionColumnWidth}};
    for (int i = 0; i < 2; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(W(columns[i].title));
        column.cx = columns[i].width;
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column));
    }
    int row = 0;
    for (const FormatToken& token : kFormatTokens) {
        std::u16string insertion = TokenInsertion(row);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_PARAM;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(W(insertion.c_str()));
        item.lParam = row;  // the token's row, whatever the list's order
        int index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        LVITEMW sub{};
        sub.iSubItem = 1;
        sub.pszText = const_cast<wchar_t*>(W(token.description));
        SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&sub));
        ++row;
    }
}

INT_PTR OnInitDialog(HWND dialog, DisplaySettingDialogData* data) {
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
    ShowControls(dialog, {IDC_DISPLAY_AMOUNT_LABEL, IDC_DISPLAY_PERIOD, IDC_DISPLAY_COUNT, IDC_DISPLAY_COUNT_SPIN},
                 false);
    const DisplaySetting* setting = data && data->config ? FindEditedSetting(*data->config, data->parameter) : nullptr;
    if (!setting) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    const Configuration& config = *data->config;
    bool article = IsArticleKind(data->parameter);
    ShowControls(dialog, {IDC_DISPLAY_CONDITION_LABEL, IDC_DISPLAY_CONDITION, IDC_DISPLAY_SPLIT_LABEL, IDC_DISPLAY_SPLIT},
                 article);
    SetControlText(dialog, IDC_DISPLAY_PARAMETER, FromCp932(FormatDialogParameter(data->parameter).c_str()));
    LimitText(dialog, IDC_DISPLAY_NAME, kNameCharacters);
    SetControlText(dialog, IDC_DISPLAY_NAME, FromCp932(setting->name));
    FillTargetList(dialog, config.feeds, reinterpret_cast<LPARAM>(setting->crawler));
    if (article) FillArticleControls(dialog, *setting);
    LimitText(dialog, IDC_DISPLAY_SPLIT, kSplitCharacters);
    SetControlText(dialog, IDC_DISPLAY_SPLIT, setting->split.Wide() ? W(setting->split.Wide()) : L"");
    LimitText(dialog, IDC_DISPLAY_FORMAT, kFormatCharacters);
    SetControlText(dialog, IDC_DISPLAY_FORMAT, setting->format.Wide() ? W(setting->format.Wide()) : L"");
    FillTokenList(dialog);
    FillZoneList(dialog, IDC_DISPLAY_ZONE, config.time_zones, setting->zone);
    return TRUE;  // the first control gets the keyboard focus
}

// The selected token goes where the format edit's caret or selection is, as
// an undoable replacement, and typing goes on there.
void InsertSelectedToken(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_DISPLAY_TOKENS);
    int row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (row < 0) return;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return;
    std::u16string insertion = TokenInsertion(static_cast<int>(item.lParam));
    if (insertion.empty()) return;
    SendDlgItemMessageW(dialog, IDC_DISPLAY_FORMAT, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(insertion.c_str()));
    SetFocus(GetDlgItem(dialog, IDC_DISPLAY_FORMAT));
}

INT_PTR OnNotify(HWND dialog, const NMHDR* header) {
    if (!header || header->idFrom != IDC_DISPLAY_TOKENS) return FALSE;
    if (header->code == NM_DBLCLK) InsertSelectedToken(dialog);
    SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
    return TRUE;
}

void OnConditionChanged(HWND dialog) {
    if (!IsArticleKind(ParameterOf(dialog))) return;
    ShowAmountFor(dialog, SelectedCondition(dialog));
}

void OnManage(HWND dialog) {
    DisplaySettingDialogData* data = DataOf(dialog);
    if (!data || !data->config) return;
    LPARAM target = 0;
    SelectedChoice(dialog, IDC_DISPLAY_TARGET, &target);
    ShowFeedManagerDialog(dialog, reinterpret_cast<FeedCrawler*>(target));
    // Names may have changed and feeds may be gone; the target is looked for
    // among the feeds as they are now.
    FillTargetList(dialog, data->config->feeds, target);
}

void OnOk(HWND dialog) {
    DisplaySettingDialogData* data = DataOf(dialog);
    if (data && data->config) {
        DisplaySettingEdit edit;
        LPARAM choice = 0;
        edit.name = ControlText(dialog, IDC_DISPLAY_NAME);
        if (SelectedChoice(dialog, IDC_DISPLAY_TARGET, &choice)) edit.target = reinterpret_cast<const void*>(choice);
        edit.condition = SelectedCondition(dialog);
        if (SelectedChoice(dialog, IDC_DISPLAY_PERIOD, &choice)) {
            edit.period_chosen = true;
            edit.period = static_cast<int32_t>(choice);
        }
        edit.count = ControlText(dialog, IDC_DISPLAY_COUNT);
        edit.split = ControlText(dialog, IDC_DISPLAY_SPLIT);
        edit.format = ControlText(dialog, IDC_DISPLAY_FORMAT);
        if (SelectedChoice(dialog, IDC_DISPLAY_ZONE, &choice)) edit.zone = reinterpret_cast<const void*>(choice);
        data->stored = StoreDisplaySetting(*data->config, ParameterOf(dialog), edit);
    }
    EndDialog(dialog, 0);
}

INT_PTR OnCommand(HWND dialog, int id, int code) {
    switch (id) {
        case IDOK:
            OnOk(dialog);
            return TRUE;
        case IDCANCEL:  // the button, the Escape key and the close box
            EndDialog(dialog, 0);
            return TRUE;
        case IDC_DISPLAY_CONDITION:
            if (code == CBN_SELCHANGE) OnConditionChanged(dialog);
            return TRUE;
        case IDC_DISPLAY_MANAGE:
            if (code == BN_CLICKED) OnManage(dialog);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK DisplaySettingProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return HandleMessageSafely(dialog, 0, [&]() -> INT_PTR {
        switch (message) {
            case WM_INITDIALOG:
                return OnInitDialog(dialog, reinterpret_cast<DisplaySettingDialogData*>(lparam));
            case WM_COMMAND:
                return OnCommand(dialog, LOWORD(wparam), HIWORD(wparam));
            case WM_NOTIFY:
                return OnNotify(dialog, reinterpret_cast<const NMHDR*>(lparam));
            case WM_CLOSE:
                EndDialog(dialog, 0);
                return TRUE;
            default:
                return FALSE;
        }
    });
}

}  // namespace

int ShowDisplaySettingDialog(HWND parent, DisplaySettingDialogData* data) {
    if (!data || !data->config || !FindEditedSetting(*data->config, data->parameter)) return 0;
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    INT_PTR result = DialogBoxParamW(static_cast<HINSTANCE>(Plugin().module), MAKEINTRESOURCEW(IDD_DISPLAY_SETTING),
                                     DialogOwner(parent), DisplaySettingProc, reinterpret_cast<LPARAM>(data));
    return static_cast<int>(result);
}

}  // namespace ui
}  // namespace feedlet
