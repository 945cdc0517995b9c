// Resource identifiers of the plugin's dialogs, controls and icon. The
// numbers are part of the plugin's interface and never change; the names
// group them by dialog.
#pragma once

// Dialogs
#define IDD_PLUGIN_SETTINGS 101
#define IDD_DISPLAY_SETTING 105
#define IDD_FEED_MANAGER 109
#define IDD_MESSAGE_WINDOW 115

// Icon
#define IDI_FEEDLET 117

// Plugin settings dialog (101)
#define IDC_PLUGIN_INFO_COUNT 1060
#define IDC_PLUGIN_INFO_SPIN 1061
#define IDC_PLUGIN_ITEM_COUNT 1062
#define IDC_PLUGIN_ITEM_SPIN 1063
#define IDC_PLUGIN_FEEDS 1064
#define IDC_PLUGIN_TRAY 1073
#define IDC_PLUGIN_MENU_ZONE 1056

// Feed manager dialog (109)
#define IDC_MANAGER_LIST 1046
#define IDC_MANAGER_ADD 1047
#define IDC_MANAGER_DELETE 1048
#define IDC_MANAGER_UPDATE 1049
#define IDC_MANAGER_CHECK 1050
#define IDC_MANAGER_NAME 1000
#define IDC_MANAGER_INTERVAL 1059
#define IDC_MANAGER_SORT 1072
#define IDC_MANAGER_URL 1044

// Display setting dialog (105)
#define IDC_DISPLAY_NAME 1000
#define IDC_DISPLAY_TARGET 1054
#define IDC_DISPLAY_MANAGE 1071
#define IDC_DISPLAY_CONDITION_LABEL 1069
#define IDC_DISPLAY_CONDITION 1057
#define IDC_DISPLAY_AMOUNT_LABEL 1068
#define IDC_DISPLAY_PERIOD 1059
#define IDC_DISPLAY_COUNT 1065
#define IDC_DISPLAY_COUNT_SPIN 1067
#define IDC_DISPLAY_SPLIT_LABEL 1070
#define IDC_DISPLAY_SPLIT 1018
#define IDC_DISPLAY_FORMAT 1017
#define IDC_DISPLAY_TOKENS 1031
#define IDC_DISPLAY_ZONE 1056
#define IDC_DISPLAY_PARAMETER 1006

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
