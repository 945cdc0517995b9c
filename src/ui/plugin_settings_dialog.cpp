#include "ui/plugin_settings_dialog.h"

#include <commctrl.h>

#include "plugin/plugin_state.h"
#include "settings/plugin_settings.h"
#include "ui/dialog_controls.h"
#include "ui/feed_manager_dialog.h"
#include "ui/resource.h"

namespace feedlet {
namespace ui {

namespace {

PluginSettingsDialogData* DataOf(HWND dialog) {
    return reinterpret_cast<PluginSettingsDialogData*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
}

void ShowCount(HWND dialog, int edit, int spin, int16_t count) {
    SendDlgItemMessageW(dialog, spin, UDM_SETRANGE32, kMinTypedSettingCount, kMaxTypedSettingCount);
    LimitText(dialog, edit, kSettingCountCharacters);
    SetDlgItemInt(dialog, edit, static_cast<UINT>(static_cast<int>(count)), TRUE);
}

INT_PTR OnInitDialog(HWND dialog, PluginSettingsDialogData* data) {
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(data));
    if (!data || !data->config) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    const Configuration& config = *data->config;
    PluginSettingsValues values = CurrentPluginSettings(config);
    ShowCount(dialog, IDC_PLUGIN_INFO_COUNT, IDC_PLUGIN_INFO_SPIN, values.info_count);
    ShowCount(dialog, IDC_PLUGIN_ITEM_COUNT, IDC_PLUGIN_ITEM_SPIN, values.item_count);
    CheckDlgButton(dialog, IDC_PLUGIN_TRAY, values.tray ? BST_CHECKED : BST_UNCHECKED);
    FillZoneList(dialog, IDC_PLUGIN_MENU_ZONE, config.time_zones, config.menu_time_zone);
    return TRUE;  // the first control gets the keyboard focus
}

void OnOk(HWND dialog) {
    PluginSettingsDialogData* data = DataOf(dialog);
    if (data && data->config) {
        PluginSettingsValues values;
        values.info_count = TypedSettingCount(ControlText(dialog, IDC_PLUGIN_INFO_COUNT).c_str());
        values.item_count = TypedSettingCount(ControlText(dialog, IDC_PLUGIN_ITEM_COUNT).c_str());
        values.tray = IsDlgButtonChecked(dialog, IDC_PLUGIN_TRAY) == BST_CHECKED;
        LPARAM zone = 0;
        values.menu_zone = SelectedChoice(dialog, IDC_PLUGIN_MENU_ZONE, &zone) ? reinterpret_cast<void*>(zone) : nullptr;
        StorePluginSettings(*data->config, values);
        data->stored = true;
    }
    EndDialog(dialog, 0);
}

INT_PTR OnCommand(HWND dialog, int id, int code) {
    switch (id) {
        case IDOK:
            OnOk(dialog);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 0);
            return TRUE;
        case IDC_PLUGIN_FEEDS:
            // The feed manager applies or drops its own edits; this
            // dialog's OK or Cancel does not undo them.
            if (code == BN_CLICKED) ShowFeedManagerDialog(dialog, nullptr);
            return TRUE;
        default:
            return FALSE;
    }
}

INT_PTR CALLBACK PluginSettingsProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    return HandleMessageSafely(dialog, 0, [&]() -> INT_PTR {
        switch (message) {
            case WM_INITDIALOG:
                return OnInitDialog(dialog, reinterpret_cast<PluginSettingsDialogData*>(lparam));
            case WM_COMMAND:
                return OnCommand(dialog, LOWORD(wparam), HIWORD(wparam));
            case WM_CLOSE:
                EndDialog(dialog, 0);
                return TRUE;
            default:
                return FALSE;
        }
    });
}

}  // namespace

int ShowPluginSettingsDialog(HWND parent, PluginSettingsDialogData* data) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    INT_PTR result = DialogBoxParamW(static_cast<HINSTANCE>(Plugin().module), MAKEINTRESOURCEW(IDD_PLUGIN_SETTINGS),
                                     DialogOwner(parent), PluginSettingsProc, reinterpret_cast<LPARAM>(data));
    return static_cast<int>(result);
}

}  // namespace ui
}  // namespace feedlet
