// The plugin settings and display setting dialogs as the host opens them:
// the plugin's real Init with the Windows user interface installed, real
// INI files and feeds in a host folder, ShowSetting through the plugin's
// export path, the real dialogs driven from a watcher thread while this
// thread sits in their modal loops, and what OK leaves in Setting.ini and in
// GetText.
//
// Some tests go on into the feed manager and drive its own controls (name
// 1000, list 1046, Update 1049, OK 1): a feed manager without its list
// columns fails them.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "core/plugin_time.h"
#include "fetch/feed_crawler.h"
#include "platform/ini.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_state.h"
#include "test_util.h"
#include "text/time_utils.h"
#include "ui/resource.h"
#include "ui/user_interface.h"
#include "ui_test_util.h"

using namespace feedlet;
using namespace feedlet::testing_util;

namespace {

constexpr DWORD kWait = 5000;
// 2026-12-07 12:00:00 UTC: a fixed date for the zone checks.
constexpr PluginTime kFixed = 1796644800;

std::vector<DWORD> g_notifications;  // the shell messages the tray icon sent

BOOL WINAPI RecordNotification(DWORD message, PNOTIFYICONDATAA data) {
    g_notifications.push_back(message);
    return Shell_NotifyIconA(message, data);
}

std::string Rss(const std::string& title, const std::vector<std::pair<std::string, PluginTime>>& items) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>" + title +
                      "</title>";
    for (const auto& item : items)
        xml += "<item><title>" + item.first + "</title><pubDate>" + RssDate(item.second) + "</pubDate></item>";
    return xml + "</channel></rss>";
}

std::vector<std::string> Lines(std::initializer_list<const char*> lines) {
    return std::vector<std::string>(lines.begin(), lines.end());
}

const wchar_t* const kDisplayCaption = L"表示項目設定";
const wchar_t* const kPluginCaption = L"プラグイン設定";
const wchar_t* const kManagerCaption = L"RSS管理";
const wchar_t* const kLeaveCaption = L"終了確認";

const std::vector<std::string> kZoneItems = {
    "RSSのタイムゾーンに従う",
    "GMT+09:00 : 東京(TYO)",
    "GMT+00:00 : 協定世界時(UTC)",
    "GMT-05:30 : インド西(IW)",
};

class SettingsDialogsUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.ok());
        PluginAttach(GetModuleHandleW(nullptr));
        SetPluginUi(&ui::UserInterface());
        ui::TrayIcon::SetNotifyFunction(RecordNotification);
        g_notifications.clear();

        WriteFile(host.path() + "QVL_Data.ini",
                  Cp932("[TimeZone001]\r\nSName=TYO\r\nName=東京\r\nHour=9\r\n"
                        "[TimeZone002]\r\nSName=UTC\r\nName=協定世界時\r\n"
                        "[TimeZone003]\r\nSName=IW\r\nName=インド西\r\nHour=5\r\nMinute=30\r\nMinus=1\r\n"));
        PluginTime now = CurrentTime();
        std::string town = host.path() + "town.xml";
        std::string rail = host.path() + "rail.xml";
        WriteFile(town, Rss("town", {{"a1", now - 60}, {"a2", now - 3600}, {"a3", now - 7200}}));
        WriteFile(rail, Rss("rail", {{"r1", kFixed}, {"r2", kFixed - 86400}}));
        WriteFile(FeedListPath(), Cp932("[RSS000]\r\nRSSName=町だより\r\nURL=" + town +
                                                         "\r\n[RSS001]\r\nRSSName=鉄道\r\nURL=" + rail + "\r\n"));
    }
    void TearDown() override {
        PluginDetach(false);
        SetPluginUi(nullptr);
        ui::TrayIcon::SetNotifyFunction(nullptr);
        ResetFunctionInfo();
        PumpPending();
    }

    // Setting.ini: the Main section, then the display settings (UTF-8 here,
    // code page 932 on disk).
    void Settings(const std::string& main_flag, const std::string& sections) {
        WriteFile(SettingsPath(), Cp932("[Main]\r\nInfoNum=2\r\nItemNum=4\r\nFlag=" + main_flag +
                                        "\r\nMenuTimeZone=UTC\r\n" + sections));
    }
    void DefaultSettings(const std::string& main_flag = "0x2") {
        Settings(main_flag,
                 "[Info000]\r\nName=町の見出し\r\nTarget=町だより\r\nFlag=0x2\r\nNum=7\r\nTime=600\r\nSplit=\"|\"\r\n"
                 "Format=\"%title\"\r\n"
                 "[Info001]\r\nName=対象なし\r\nFormat=\"x\"\r\n"
                 "[Item000]\r\nName=最新\r\nTarget=町だより\r\nFlag=0\r\nTime=31536000\r\nFormat=\"%title\"\r\n"
                 "TimeZone=TYO\r\n"
                 "[Item001]\r\nName=三件\r\nTarget=町だより\r\nFlag=1\r\nNum=3\r\nTime=3600\r\nSplit=\" / \"\r\n"
                 "Format=\"%title\"\r\nTimeZone=UTC\r\n"
                 "[Item002]\r\nName=九十分\r\nTarget=町だより\r\nFlag=2\r\nTime=5400\r\nSplit=\",\"\r\n"
                 "Format=\"%title\"\r\n"
                 "[Item003]\r\nName=全部\r\nTarget=鉄道\r\nFlag=4\r\nSplit=\";\"\r\nFormat=\"%hh:%nn\"\r\n");
    }
    void StartPlugin() {
        PluginInit();
        ASSERT_TRUE(PumpUntil(
            [] {
                for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>())
                    if (entry->crawler->workers.load() != 0 || !entry->crawler->document) return false;
                return true;
            },
            kWait))
            << "the fetches did not end";
        PumpPending();
    }

    std::string Ini(const char* section, const char* key, const std::string& file = "") {
        char buffer[2048];
        platform::IniReadString((file.empty() ? SettingsPath() : file).c_str(), section, key, "<missing>", buffer,
                                sizeof buffer);
        return buffer;
    }
    std::string Text(int number, int setting) {
        char16_t buffer[1024] = {};
        int n = PluginGetText(number, setting, buffer, 1024);
        return Utf8(std::wstring(reinterpret_cast<const wchar_t*>(buffer), static_cast<size_t>(n > 0 ? n : 0)));
    }
    std::string Name(int number, int setting) {
        char name[256] = {};
        PluginGetFuncSettingName(number, setting, name, sizeof name);
        return name;
    }
    DisplaySetting* Setting(int number, int setting) {
        return Plugin().SettingsOf(number)->At<DisplaySetting>(setting - 1);
    }

    // ShowSetting(number, setting) with act driving the dialog that opens.
    ModalRun Open(int number, int setting, const std::function<void(HWND)>& act, void* parent = nullptr) {
        const wchar_t* caption = number == 0 ? kPluginCaption : kDisplayCaption;
        return RunModal(
            L"#32770", caption, [&] { return PluginShowSetting(number, setting, parent); }, act, kWait);
    }

    HostFolder host;
};

// In the feed manager: the selected row's feed renamed with Update, then OK
// (answering the question whether to leave with edited fields, which an
// Update does not clear). False, and the feed manager cancelled, when it
// shows no list columns: it is not the real one.
bool RenameInFeedManager(HWND manager, const std::string& new_name, std::string* preselected) {
    HWND list = GetDlgItem(manager, IDC_MANAGER_LIST);
    if (ListViewColumns(list).empty()) {
        ClickDialogButton(manager, IDCANCEL);
        return false;
    }
    int row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (preselected) *preselected = row >= 0 ? ListViewText(list, row, 0) : "";
    SetControlText(manager, IDC_MANAGER_NAME, new_name);
    SendMessageW(manager, WM_COMMAND, MAKEWPARAM(IDC_MANAGER_UPDATE, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(manager, IDC_MANAGER_UPDATE)));
    ClickDialogButton(manager, IDOK);
    WaitUntil([&] { return !IsWindow(manager) || FindProcessWindow(L"#32770", kLeaveCaption); }, kWait);
    if (HWND question = FindProcessWindow(L"#32770", kLeaveCaption)) ClickDialogButton(question, IDYES);
    WaitUntil([&] { return !IsWindow(manager); }, kWait);
    return true;
}

// ---------------------------------------------------------------------------
// The display setting dialog

TEST_F(SettingsDialogsUiTest, DisplaySettingOpensWithTheSettingsValues) {
    DefaultSettings();
    StartPlugin();
    std::string before = ReadFile(SettingsPath());
    ModalRun run = Open(2, 2, [&](HWND dialog) {
        EXPECT_EQ(ControlText(dialog, IDC_DISPLAY_PARAMETER), "0x20002");
        EXPECT_FALSE(IsControlShown(dialog, IDC_DISPLAY_PARAMETER));
        EXPECT_EQ(ControlText(dialog, IDC_DISPLAY_NAME), "三件");
        EXPECT_EQ(ComboItems(dialog, IDC_DISPLAY_TARGET), Lines({"町だより", "鉄道"}));
        EXPECT_EQ(ComboSelection(dialog, IDC_DISPLAY_TARGET), 0);
        EXPECT_EQ(ComboItems(dialog, IDC_DISPLAY_CONDITION),
                  Lines({"最新のみ", "指定記事数のみ", "指定時間内のみ", "全ての記事"}));
        EXPECT_EQ(ComboSelection(dialog, IDC_DISPLAY_CONDITION), 1);
        EXPECT_TRUE(IsControlShown(dialog, IDC_DISPLAY_CONDITION_LABEL));
        EXPECT_TRUE(IsControlShown(dialog, IDC_DISPLAY_AMOUNT_LABEL));
        EXPECT_EQ(ControlText(dialog, IDC_DISPLAY_AMOUNT_LABEL), "記事数(&D)");
        EXPECT_TRUE(IsControlShown(dialog, IDC_DISPLAY_COUNT));
        EXPECT_TRUE(IsControlShown(dialog, IDC_DISPLAY_COUNT_SPIN));
        EXPECT_FALSE(IsControlShown(dialog, IDC_DISPLAY_PERIOD));
        EXPECT_EQ(ControlText(dialog, IDC_DISPLAY_COUNT), "3");
        int low = 0, high = 0;
        SendDlgItemMessageW(dialog, IDC_DISPLAY_COUNT_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                            reinterpret_cast<LPARAM>(&high));
        EXPECT_EQ(low, 1);
        EXPECT_EQ(high, 99);
        EXPECT_EQ(reinterpret_cast<HWND>(SendDlgItemMessageW(dialog, IDC_DISPLAY_COUNT_SPIN, UDM_GETBUDDY, 0, 0)),
                  GetDlgItem(dialog, IDC_DISPLAY_COUNT));
        EXPECT_EQ(ComboItems(dialog, IDC_DISPLAY_PERIOD),
                  Lines({"5分", "15分", "30分", "1時間", "2時間", "3時間", "5時間", "10時間", "24時間"}));
        EXPECT_EQ(ComboSelection(dialog, IDC_DISPLAY_PERIOD), 3);
        EXPECT_TRUE(IsControlShown(dialog, IDC_DISPLAY_SPLIT));
        EXPECT_EQ(ControlText(dialog, IDC_DISPLAY_SPLIT), " / ");
        EXPECT_EQ(ControlText(dialog, IDC_DISPLAY_FORMAT), "%title");
        struct {
            int id;
            LRESULT limit;
        } limits[] = {{IDC_DISPLAY_NAME, 256}, {IDC_DISPLAY_COUNT, 2}, {IDC_DISPLAY_SPLIT, 16}, {IDC_DISPLAY_FORMAT, 1024}};
        for (const auto& limit : limits) {
            SCOPED_TRACE(limit.id);
            EXPECT_EQ(SendDlgItemMessageW(dialog, limit.id, EM_GETLIMITTEXT, 0, 0), limit.limit);
        }

        HWND tokens = GetDlgItem(dialog, IDC_DISPLAY_TOKENS);
        EXPECT_EQ(ListViewColumns(tokens), Lines({"項目", "説明"}));
        EXPECT_EQ(SendMessageW(tokens, LVM_GETCOLUMNWIDTH, 0, 0), 90);
        EXPECT_EQ(SendMessageW(tokens, LVM_GETCOLUMNWIDTH, 1, 0), 190);
        EXPECT_TRUE(SendMessageW(tokens, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
        ASSERT_EQ(SendMessageW(tokens, LVM_GETITEMCOUNT, 0, 0), 20);
        EXPECT_EQ(ListViewText(tokens, 0, 0), "%title");
        EXPECT_EQ(ListViewText(tokens, 0, 1), "RSS/記事のタイトル");
        EXPECT_EQ(ListViewText(tokens, 12, 0), "%dd");
        EXPECT_EQ(ListViewText(tokens, 12, 1), "RSS/記事の日付情報(日)");
        EXPECT_EQ(ListViewText(tokens, 19, 0), "%pa");
        EXPECT_EQ(ListViewText(tokens, 19, 1), "RSS/記事の日付情報(経過時間簡易)");

        EXPECT_EQ(ComboItems(dialog, IDC_DISPLAY_ZONE), kZoneItems);
        EXPECT_EQ(ComboSelection(dialog, IDC_DISPLAY_ZONE), 2);
        ClickDialogButton(dialog, IDCANCEL);
    });
    EXPECT_TRUE(run.appeared);
    EXPECT_TRUE(run.closed);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(ReadFile(SettingsPath()), before);
}

TEST_F(SettingsDialogsUiTest, TheConditionDecidesWhetherCountOrPeriodIsShown) {
    DefaultSettings();
    StartPlugin();
    struct Seen {
        bool label, count, spin, period;
        std::string text;
    };
    std::vector<Seen> seen;
    std::string period;
    bool dropped_wider = false;
    ModalRun run = Open(2, 1, [&](HWND dialog) {
        auto look = [&] {
            seen.push_back({IsControlShown(dialog, IDC_DISPLAY_AMOUNT_LABEL), IsControlShown(dialog, IDC_DISPLAY_COUNT),
                            IsControlShown(dialog, IDC_DISPLAY_COUNT_SPIN), IsControlShown(dialog, IDC_DISPLAY_PERIOD),
                            ControlText(dialog, IDC_DISPLAY_AMOUNT_LABEL)});
        };
        look();  // 最新のみ
        for (int choice : {1, 2, 3, 0, 2}) {
            ChooseComboItem(dialog, IDC_DISPLAY_CONDITION, choice);
            look();
        }
        // The appended period is wider than the narrow list: its open list
        // is widened to show it whole.
        period = ComboItems(dialog, IDC_DISPLAY_PERIOD).back();
        RECT list{};
        GetWindowRect(GetDlgItem(dialog, IDC_DISPLAY_PERIOD), &list);
        dropped_wider = SendDlgItemMessageW(dialog, IDC_DISPLAY_PERIOD, CB_GETDROPPEDWIDTH, 0, 0) > list.right - list.left;
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_FALSE(seen[0].label || seen[0].count || seen[0].spin || seen[0].period) << "最新のみ shows neither";
    EXPECT_TRUE(seen[1].label && seen[1].count && seen[1].spin && !seen[1].period);
    EXPECT_EQ(seen[1].text, "記事数(&D)");
    EXPECT_TRUE(seen[2].label && !seen[2].count && !seen[2].spin && seen[2].period);
    EXPECT_EQ(seen[2].text, "期間(&D)");
    EXPECT_FALSE(seen[3].label || seen[3].count || seen[3].spin || seen[3].period) << "全ての記事 shows neither";
    EXPECT_FALSE(seen[4].label || seen[4].count || seen[4].spin || seen[4].period);
    EXPECT_TRUE(seen[5].period);
    EXPECT_EQ(period, "52週間24時間");
    EXPECT_TRUE(dropped_wider);
    // OK took the last choice: the articles of the last year.
    EXPECT_EQ(Setting(2, 1)->flag, 2);
    EXPECT_EQ(Ini("Item000", "Flag"), "2");
    EXPECT_EQ(Ini("Item000", "Time"), "31536000");
    EXPECT_EQ(Text(2, 1), "a1a2a3") << "no separator";
}

TEST_F(SettingsDialogsUiTest, AFeedInformationSettingShowsNoConditionCountPeriodOrSeparator) {
    DefaultSettings();
    StartPlugin();
    ModalRun run = Open(1, 1, [&](HWND dialog) {
        for (int id : {IDC_DISPLAY_CONDITION_LABEL, IDC_DISPLAY_CONDITION, IDC_DISPLAY_AMOUNT_LABEL, IDC_DISPLAY_PERIOD,
                       IDC_DISPLAY_COUNT, IDC_DISPLAY_COUNT_SPIN, IDC_DISPLAY_SPLIT_LABEL, IDC_DISPLAY_SPLIT}) {
            SCOPED_TRACE(id);
            EXPECT_FALSE(IsControlShown(dialog, id));
        }
        for (int id : {IDC_DISPLAY_NAME, IDC_DISPLAY_TARGET, IDC_DISPLAY_MANAGE, IDC_DISPLAY_FORMAT, IDC_DISPLAY_TOKENS,
                       IDC_DISPLAY_ZONE}) {
            SCOPED_TRACE(id);
            EXPECT_TRUE(IsControlShown(dialog, id));
        }
        EXPECT_EQ(ControlText(dialog, IDC_DISPLAY_PARAMETER), "0x10001");
        EXPECT_TRUE(ComboItems(dialog, IDC_DISPLAY_CONDITION).empty());
        SetControlText(dialog, IDC_DISPLAY_FORMAT, "[%title]");
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(Ini("Info000", "Format"), "[%title]");
    EXPECT_EQ(Ini("Info000", "Flag"), "2");
    EXPECT_EQ(Ini("Info000", "Num"), "7");
    EXPECT_EQ(Ini("Info000", "Time"), "600");
    EXPECT_EQ(Ini("Info000", "Split"), "|");
    EXPECT_EQ(Text(1, 1), "[town]");
}

TEST_F(SettingsDialogsUiTest, APeriodMissingFromTheTableIsAppendedAndStaysSelected) {
    DefaultSettings();
    StartPlugin();
    ModalRun run = Open(2, 3, [&](HWND dialog) {
        std::vector<std::string> items = ComboItems(dialog, IDC_DISPLAY_PERIOD);
        ASSERT_EQ(items.size(), 10u);
        EXPECT_EQ(items.back(), "1時間30分");
        EXPECT_EQ(ComboSelection(dialog, IDC_DISPLAY_PERIOD), 9);
        EXPECT_TRUE(IsControlShown(dialog, IDC_DISPLAY_PERIOD));
        EXPECT_EQ(ControlText(dialog, IDC_DISPLAY_AMOUNT_LABEL), "期間(&D)");
        // Switching away and back leaves the list as it was.
        ChooseComboItem(dialog, IDC_DISPLAY_CONDITION, 0);
        ChooseComboItem(dialog, IDC_DISPLAY_CONDITION, 2);
        EXPECT_EQ(ComboSelection(dialog, IDC_DISPLAY_PERIOD), 9);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(Ini("Item002", "Time"), "5400");
    EXPECT_EQ(Text(2, 3), "a1,a2") << "articles of the last 90 minutes";
}

TEST_F(SettingsDialogsUiTest, CountsAreClampedAndTwoCharactersLong) {
    DefaultSettings();
    StartPlugin();
    struct Row {
        const char* set;    // set as a program would (no limit applies)
        const char* typed;  // typed key by key after clearing
        int ups;            // arrow-up presses in the count edit
        const char* shown;
        const char* stored;
        const char* text;
    } rows[] = {
        {"0", nullptr, 0, "0", "1", "a1"},
        {"", "100", 0, "10", "10", "a1 / a2 / a3"},
        {"99", nullptr, 0, "99", "99", "a1 / a2 / a3"},
        {"98", nullptr, 2, "99", "99", "a1 / a2 / a3"},  // the arrows stop at 99
        {"2", nullptr, 0, "2", "2", "a1 / a2"},
        {"-1", nullptr, 0, "-1", "99", "a1 / a2 / a3"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.set) + (row.typed ? row.typed : ""));
        std::string shown;
        ModalRun run = Open(2, 2, [&](HWND dialog) {
            SetControlText(dialog, IDC_DISPLAY_COUNT, row.set);
            if (row.typed) TypeText(dialog, IDC_DISPLAY_COUNT, row.typed);
            for (int i = 0; i < row.ups; ++i)
                SendDlgItemMessageW(dialog, IDC_DISPLAY_COUNT, WM_KEYDOWN, VK_UP, 0);
            shown = ControlText(dialog, IDC_DISPLAY_COUNT);
            ClickDialogButton(dialog, IDOK);
        });
        ASSERT_TRUE(run.appeared);
        EXPECT_EQ(shown, row.shown);
        EXPECT_EQ(Ini("Item001", "Num"), row.stored);
        EXPECT_EQ(std::to_string(Setting(2, 2)->num), row.stored);
        EXPECT_EQ(Text(2, 2), row.text);
    }
}

TEST_F(SettingsDialogsUiTest, DoubleClickingATokenInsertsItAtTheCaret) {
    DefaultSettings();
    StartPlugin();
    std::string after_caret, after_selection, after_undo, without_row;
    bool focused = false;
    ModalRun run = Open(2, 1, [&](HWND dialog) {
        HWND tokens = GetDlgItem(dialog, IDC_DISPLAY_TOKENS);
        HWND format = GetDlgItem(dialog, IDC_DISPLAY_FORMAT);
        auto double_click = [&](int row) {
            LVITEMW state{};
            state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
            state.state = row >= 0 ? LVIS_SELECTED | LVIS_FOCUSED : 0;
            SendMessageW(tokens, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&state));
            RECT cell{};
            cell.left = LVIR_BOUNDS;
            SendMessageW(tokens, LVM_GETITEMRECT, static_cast<WPARAM>(row >= 0 ? row : 0), reinterpret_cast<LPARAM>(&cell));
            SendMessageW(tokens, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(cell.left + 20, (cell.top + cell.bottom) / 2));
        };
        SetControlText(dialog, IDC_DISPLAY_FORMAT, "abc");
        SendMessageW(format, EM_SETSEL, 3, 3);
        double_click(0);
        after_caret = ControlText(dialog, IDC_DISPLAY_FORMAT);
        focused = FocusOf(dialog) == format;

        SetControlText(dialog, IDC_DISPLAY_FORMAT, "abXYc");
        SendMessageW(format, EM_SETSEL, 2, 4);
        double_click(13);  // %hh
        after_selection = ControlText(dialog, IDC_DISPLAY_FORMAT);
        SendMessageW(format, EM_UNDO, 0, 0);
        after_undo = ControlText(dialog, IDC_DISPLAY_FORMAT);

        double_click(-1);  // no row selected: nothing is inserted
        without_row = ControlText(dialog, IDC_DISPLAY_FORMAT);
        ClickDialogButton(dialog, IDCANCEL);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(after_caret, "abc%title");
    EXPECT_TRUE(focused) << "the keyboard focus moves to the format edit";
    EXPECT_EQ(after_selection, "ab%hhc");
    EXPECT_EQ(after_undo, "abXYc");
    EXPECT_EQ(without_row, "abXYc");
    EXPECT_EQ(Ini("Item000", "Format"), "%title") << "Cancel stored nothing";
}

TEST_F(SettingsDialogsUiTest, ASettingWithoutZoneFollowsTheFeedAndOkStoresNone) {
    DefaultSettings();
    StartPlugin();
    EXPECT_EQ(Text(2, 4), "12:00;12:00") << "the feed's own zone (GMT)";
    int selected = -2;
    ModalRun run = Open(2, 4, [&](HWND dialog) {
        selected = ComboSelection(dialog, IDC_DISPLAY_ZONE);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(selected, 0);
    EXPECT_EQ(Ini("Item003", "TimeZone"), "");
    EXPECT_EQ(Setting(2, 4)->zone, nullptr);

    // A zone chosen: its offset, -330 minutes, shifts the times.
    run = Open(2, 4, [&](HWND dialog) {
        ChooseComboItem(dialog, IDC_DISPLAY_ZONE, 3);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(Ini("Item003", "TimeZone"), "IW");
    EXPECT_EQ(Text(2, 4), "06:30;06:30");
}

TEST_F(SettingsDialogsUiTest, OkStoresEveryFieldAndGetTextFollows) {
    DefaultSettings();
    StartPlugin();
    ASSERT_EQ(Text(2, 2), "a1 / a2 / a3");
    ModalRun run = Open(2, 2, [&](HWND dialog) {
        SetControlText(dialog, IDC_DISPLAY_NAME, "鉄道の全記事");
        ChooseComboItem(dialog, IDC_DISPLAY_TARGET, 1);
        ChooseComboItem(dialog, IDC_DISPLAY_CONDITION, 3);
        SetControlText(dialog, IDC_DISPLAY_SPLIT, " ｜ ");
        SetControlText(dialog, IDC_DISPLAY_FORMAT, "[%title %hh:%nn]");
        ChooseComboItem(dialog, IDC_DISPLAY_ZONE, 1);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(Ini("Item001", "Name"), Cp932("鉄道の全記事"));
    EXPECT_EQ(Ini("Item001", "Target"), Cp932("鉄道"));
    EXPECT_EQ(Ini("Item001", "Flag"), "4");
    EXPECT_EQ(Ini("Item001", "Num"), "3");
    EXPECT_EQ(Ini("Item001", "Time"), "3600");
    EXPECT_EQ(Ini("Item001", "Split"), Cp932(" ｜ "));
    EXPECT_EQ(Ini("Item001", "Format"), "[%title %hh:%nn]");
    EXPECT_EQ(Ini("Item001", "TimeZone"), "TYO");
    EXPECT_EQ(Ini("Item000", "Split"), "<missing>") << "only the edited setting is written";
    EXPECT_EQ(Text(2, 2), "[r1 21:00] ｜ [r2 21:00]");
    EXPECT_EQ(Name(2, 2), Cp932("鉄道の全記事"));
    EXPECT_EQ(Setting(2, 2)->dirty, 0);
}

TEST_F(SettingsDialogsUiTest, CancelEscapeAndTheCloseBoxChangeNothing) {
    DefaultSettings();
    StartPlugin();
    std::string before = ReadFile(SettingsPath());
    std::string text = Text(2, 2);
    const char* ways[] = {"Cancel", "Escape", "close box"};
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(ways[way]);
        ModalRun run = Open(2, 2, [&](HWND dialog) {
            SetControlText(dialog, IDC_DISPLAY_NAME, "changed");
            SetControlText(dialog, IDC_DISPLAY_FORMAT, "changed");
            ChooseComboItem(dialog, IDC_DISPLAY_CONDITION, 0);
            if (way == 0) ClickDialogButton(dialog, IDCANCEL);
            if (way == 1) PostMessageW(GetDlgItem(dialog, IDC_DISPLAY_NAME), WM_KEYDOWN, VK_ESCAPE, 0);
            if (way == 2) PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        });
        ASSERT_TRUE(run.appeared);
        EXPECT_TRUE(run.closed);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(ReadFile(SettingsPath()), before);
        EXPECT_EQ(Name(2, 2), Cp932("三件"));
        EXPECT_EQ(Setting(2, 2)->flag, 1);
        EXPECT_EQ(Text(2, 2), text);
    }
}

TEST_F(SettingsDialogsUiTest, WithNoTargetSelectedOkStoresNone) {
    DefaultSettings();
    StartPlugin();
    int selected = -2;
    ModalRun run = Open(1, 2, [&](HWND dialog) {
        selected = ComboSelection(dialog, IDC_DISPLAY_TARGET);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(selected, -1);
    EXPECT_EQ(Setting(1, 2)->crawler, nullptr);
    EXPECT_EQ(Ini("Info001", "Target"), "");
    EXPECT_EQ(Text(1, 2), "");
}

TEST_F(SettingsDialogsUiTest, ShowSettingOutsideTheSettingsOpensNothing) {
    DefaultSettings();
    StartPlugin();
    struct Row {
        int number, setting, result;
    } rows[] = {
        {1, 0, 1}, {1, 3, 1}, {2, 0, 2}, {2, 5, 2}, {3, 1, 3}, {-1, 1, -1}, {1, 65537, 1}, {2, -1, 2}, {INT_MIN, 1, INT_MIN},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.number) + " " + std::to_string(row.setting));
        ModalRun run = RunModal(
            L"#32770", nullptr, [&] { return PluginShowSetting(row.number, row.setting, nullptr); },
            [](HWND dialog) { PostMessageW(dialog, WM_CLOSE, 0, 0); }, 300);
        EXPECT_FALSE(run.appeared);
        EXPECT_EQ(run.result, row.result);
    }
    // Within the counts the dialog opens, and its end code is 0.
    ModalRun run = Open(1, 2, [](HWND dialog) { ClickDialogButton(dialog, IDOK); });
    EXPECT_TRUE(run.appeared);
    EXPECT_EQ(run.result, 0);
}

TEST_F(SettingsDialogsUiTest, TheDialogsBelongToTheHostWindowAndOpenWithABadOne) {
    DefaultSettings();
    StartPlugin();
    HWND host_window = CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                       nullptr, nullptr);
    ASSERT_NE(host_window, nullptr);
    HWND owner = nullptr;
    ModalRun run = Open(2, 1, [&](HWND dialog) {
        owner = OwnerOf(dialog);
        ClickDialogButton(dialog, IDCANCEL);
    }, host_window);
    EXPECT_TRUE(run.appeared);
    EXPECT_EQ(owner, host_window);
    run = Open(0, 0, [&](HWND dialog) {
        owner = OwnerOf(dialog);
        ClickDialogButton(dialog, IDCANCEL);
    }, host_window);
    EXPECT_TRUE(run.appeared);
    EXPECT_EQ(owner, host_window);
    DestroyWindow(host_window);

    // A handle that names no window: the dialogs still open, without owner.
    void* stale = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7FF0));
    for (int number : {0, 2}) {
        run = Open(number, 1, [&](HWND dialog) {
            owner = OwnerOf(dialog);
            ClickDialogButton(dialog, IDCANCEL);
        }, stale);
        EXPECT_TRUE(run.appeared) << number;
        EXPECT_EQ(owner, nullptr);
    }
}

// The Manage button and the feed list button open the feed manager over
// their dialog, which stays open when it closes.
TEST_F(SettingsDialogsUiTest, TheFeedManagerOpensOverEitherDialog) {
    DefaultSettings();
    StartPlugin();
    for (int number : {2, 0}) {
        SCOPED_TRACE(number);
        HWND manager_owner = nullptr;
        bool stays_open = false;
        std::vector<std::string> targets;
        int selection = -2;
        ModalRun run = Open(number, 2, [&](HWND dialog) {
            ClickDialogButton(dialog, number == 0 ? IDC_PLUGIN_FEEDS : IDC_DISPLAY_MANAGE);
            HWND manager = WaitForWindow(L"#32770", kManagerCaption, kWait);
            if (!manager) return;
            manager_owner = OwnerOf(manager);
            ClickDialogButton(manager, IDCANCEL);
            WaitUntil([&] { return !IsWindow(manager); }, kWait);
            // The button's handler has returned once the dialog answers.
            WaitUntilAnswering(dialog, kWait);
            stays_open = IsWindow(dialog) && IsWindowVisible(dialog);
            if (number == 2) {
                targets = ComboItems(dialog, IDC_DISPLAY_TARGET);
                selection = ComboSelection(dialog, IDC_DISPLAY_TARGET);
            }
            ClickDialogButton(dialog, IDCANCEL);
        });
        ASSERT_TRUE(run.appeared);
        EXPECT_NE(manager_owner, nullptr) << "the feed manager did not appear";
        EXPECT_TRUE(stays_open);
        EXPECT_TRUE(run.closed);
        if (number == 2) {
            EXPECT_EQ(targets, Lines({"町だより", "鉄道"}));
            EXPECT_EQ(selection, 0);
        }
    }
}

TEST_F(SettingsDialogsUiTest, ManageRenamesTheTargetAndItStaysSelected) {
    DefaultSettings();
    StartPlugin();
    bool real = false;
    std::string preselected;
    std::vector<std::string> targets;
    int selection = -2;
    ModalRun run = Open(2, 4, [&](HWND dialog) {
        ClickDialogButton(dialog, IDC_DISPLAY_MANAGE);
        HWND manager = WaitForWindow(L"#32770", kManagerCaption, kWait);
        if (!manager) return;
        real = RenameInFeedManager(manager, "鉄道ニュース", &preselected);
        WaitUntil([&] { return !IsWindow(manager); }, kWait);
        // The targets are read again once the Manage button's handler has
        // returned: when the dialog answers again.
        EXPECT_TRUE(WaitUntilAnswering(dialog, kWait)) << "the display setting dialog stopped answering";
        targets = ComboItems(dialog, IDC_DISPLAY_TARGET);
        selection = ComboSelection(dialog, IDC_DISPLAY_TARGET);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    ASSERT_TRUE(real) << "the feed manager showed no list columns";
    EXPECT_EQ(preselected, "鉄道") << "the feed manager opens on the current target";
    EXPECT_EQ(targets, Lines({"町だより", "鉄道ニュース"}));
    EXPECT_EQ(selection, 1);
    EXPECT_EQ(Ini("Item003", "Target"), Cp932("鉄道ニュース"));
    EXPECT_EQ(Ini("RSS001", "RSSName", FeedListPath()), Cp932("鉄道ニュース"));
    EXPECT_EQ(Text(2, 4), "12:00;12:00");
}

TEST_F(SettingsDialogsUiTest, CancelAfterTheFeedManagerKeepsItsChanges) {
    DefaultSettings();
    StartPlugin();
    std::string main_before = Ini("Main", "Flag");
    bool real = false;
    for (int number : {0, 2}) {
        SCOPED_TRACE(number);
        std::string name = number == 0 ? "町だより（新）" : "町だより（再）";
        ModalRun run = Open(number, 2, [&](HWND dialog) {
            ClickDialogButton(dialog, number == 0 ? IDC_PLUGIN_FEEDS : IDC_DISPLAY_MANAGE);
            HWND manager = WaitForWindow(L"#32770", kManagerCaption, kWait);
            if (!manager) return;
            if (number == 0) {
                // The plugin settings open the feed manager with nothing
                // selected: the first feed is chosen here.
                HWND list = GetDlgItem(manager, IDC_MANAGER_LIST);
                LVITEMW state{};
                state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
                SendMessageW(list, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&state));
            }
            real = RenameInFeedManager(manager, name, nullptr);
            WaitUntil([&] { return !IsWindow(manager); }, kWait);
            ClickDialogButton(dialog, IDCANCEL);
        });
        ASSERT_TRUE(run.appeared);
        ASSERT_TRUE(real) << "the feed manager showed no list columns";
        EXPECT_STREQ(Plugin().feeds.At<FeedEntry>(0)->name, Cp932(name).c_str());
        EXPECT_EQ(Ini("RSS000", "RSSName", FeedListPath()), Cp932(name));
        EXPECT_EQ(Ini("Item001", "Target"), Cp932(name)) << "settings follow their feed's new name";
        EXPECT_EQ(Ini("Main", "Flag"), main_before) << "Cancel stored no options";
        EXPECT_EQ(Name(2, 2), Cp932("三件")) << "Cancel stored nothing of the display setting";
        EXPECT_EQ(Text(2, 2), "a1 / a2 / a3");
    }
}

// ---------------------------------------------------------------------------
// The plugin settings dialog

TEST_F(SettingsDialogsUiTest, PluginSettingsOpenWithTheOptionsAndOkWritesThemBack) {
    DefaultSettings("0xFF");
    StartPlugin();
    std::string info_before = Ini("Info000", "Split");
    ModalRun run = Open(0, 0, [&](HWND dialog) {
        EXPECT_EQ(ControlText(dialog, IDC_PLUGIN_INFO_COUNT), "2");
        EXPECT_EQ(ControlText(dialog, IDC_PLUGIN_ITEM_COUNT), "4");
        for (int spin : {IDC_PLUGIN_INFO_SPIN, IDC_PLUGIN_ITEM_SPIN}) {
            int low = 0, high = 0;
            SendDlgItemMessageW(dialog, spin, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                                reinterpret_cast<LPARAM>(&high));
            EXPECT_EQ(low, 1);
            EXPECT_EQ(high, 999);
            EXPECT_EQ(reinterpret_cast<HWND>(SendDlgItemMessageW(dialog, spin, UDM_GETBUDDY, 0, 0)),
                      GetDlgItem(dialog, spin - 1));
        }
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_PLUGIN_INFO_COUNT, EM_GETLIMITTEXT, 0, 0), 3);
        EXPECT_EQ(SendDlgItemMessageW(dialog, IDC_PLUGIN_ITEM_COUNT, EM_GETLIMITTEXT, 0, 0), 3);
        EXPECT_EQ(IsDlgButtonChecked(dialog, IDC_PLUGIN_TRAY), BST_CHECKED);
        EXPECT_EQ(ComboItems(dialog, IDC_PLUGIN_MENU_ZONE), kZoneItems);
        EXPECT_EQ(ComboSelection(dialog, IDC_PLUGIN_MENU_ZONE), 2);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(Ini("Main", "InfoNum"), "2");
    EXPECT_EQ(Ini("Main", "ItemNum"), "4");
    EXPECT_EQ(Ini("Main", "Flag"), "0x1") << "the flags reduced to bit 0";
    EXPECT_EQ(Ini("Main", "MenuTimeZone"), "UTC");
    EXPECT_EQ(Ini("Info000", "Split"), info_before) << "no display setting is written";
    EXPECT_EQ(Plugin().options, 1);
}

TEST_F(SettingsDialogsUiTest, FollowingTheFeedsZoneWritesAnEmptyMenuTimeZone) {
    DefaultSettings("0x1");
    StartPlugin();
    ASSERT_NE(ui::State().article_menu, nullptr);
    HMENU before = ui::State().article_menu->top_popup();
    ModalRun run = Open(0, 0, [&](HWND dialog) {
        ChooseComboItem(dialog, IDC_PLUGIN_MENU_ZONE, 0);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(Ini("Main", "MenuTimeZone"), "");
    EXPECT_EQ(Plugin().menu_time_zone, nullptr);
    ASSERT_NE(ui::State().article_menu, nullptr);
    EXPECT_NE(ui::State().article_menu->top_popup(), before) << "a new zone rebuilds the menu at once";
}

TEST_F(SettingsDialogsUiTest, TypedCountsStayWithin1To999AndApplyAtTheNextInit) {
    DefaultSettings();
    StartPlugin();
    std::string typed;
    std::string arrowed;
    ModalRun run = Open(0, 0, [&](HWND dialog) {
        SetControlText(dialog, IDC_PLUGIN_INFO_COUNT, "");
        TypeText(dialog, IDC_PLUGIN_INFO_COUNT, "1234");
        typed = ControlText(dialog, IDC_PLUGIN_INFO_COUNT);
        SetControlText(dialog, IDC_PLUGIN_ITEM_COUNT, "998");
        for (int i = 0; i < 3; ++i) SendDlgItemMessageW(dialog, IDC_PLUGIN_ITEM_COUNT, WM_KEYDOWN, VK_UP, 0);
        arrowed = ControlText(dialog, IDC_PLUGIN_ITEM_COUNT);
        ClickDialogButton(dialog, IDOK);
    });
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(typed, "123") << "three characters";
    EXPECT_EQ(arrowed, "999") << "the arrows stop at 999";
    EXPECT_EQ(Ini("Main", "InfoNum"), "123");
    EXPECT_EQ(Ini("Main", "ItemNum"), "999");

    struct Row {
        const char* text;
        const char* stored;
    } rows[] = {{"0", "1"}, {"abc", "1"}, {"-5", "1"}, {"1000", "999"}, {" 42", "42"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        run = Open(0, 0, [&](HWND dialog) {
            SetControlText(dialog, IDC_PLUGIN_INFO_COUNT, row.text);
            SetControlText(dialog, IDC_PLUGIN_ITEM_COUNT, "3");
            ClickDialogButton(dialog, IDOK);
        });
        ASSERT_TRUE(run.appeared);
        EXPECT_EQ(Ini("Main", "InfoNum"), row.stored);
    }
    // The running plugin keeps the settings it started with.
    EXPECT_EQ(FunctionInfo(1)->setting_count, 2);
    EXPECT_EQ(FunctionInfo(2)->setting_count, 4);
    EXPECT_EQ(Name(1, 3), "");
    EXPECT_EQ(Text(2, 2), "a1 / a2 / a3");
    // The host loads the plugin again.
    PluginDetach(false);
    PluginAttach(GetModuleHandleW(nullptr));
    StartPlugin();
    EXPECT_EQ(FunctionInfo(1)->setting_count, 42);
    EXPECT_EQ(FunctionInfo(2)->setting_count, 3);
    EXPECT_EQ(Name(1, 3), Cp932("設定003"));
}

TEST_F(SettingsDialogsUiTest, TheTrayOptionTakesEffectWhenTheDialogCloses) {
    DefaultSettings("0x0");
    StartPlugin();
    ASSERT_EQ(ui::State().article_menu, nullptr);
    auto toggle = [&](int button) {
        return Open(0, 0, [&](HWND dialog) {
            ClickDialogButton(dialog, IDC_PLUGIN_TRAY);
            ClickDialogButton(dialog, button);
        });
    };
    ModalRun run = toggle(IDOK);
    ASSERT_TRUE(run.appeared);
    EXPECT_EQ(Ini("Main", "Flag"), "0x1");
    ASSERT_NE(ui::State().article_menu, nullptr) << "the menu exists at once";
    ASSERT_EQ(g_notifications, std::vector<DWORD>({NIM_ADD})) << "the icon is shown at once";
    EXPECT_EQ(MenuLines(ui::State().article_menu->top_popup()), Lines({"popup 町だより", "popup 鉄道"}));

    g_notifications.clear();
    run = toggle(IDCANCEL);
    EXPECT_TRUE(g_notifications.empty()) << "Cancel changes nothing";
    EXPECT_NE(ui::State().article_menu, nullptr);
    EXPECT_EQ(run.result, 0);

    run = toggle(IDOK);
    EXPECT_EQ(Ini("Main", "Flag"), "0x0");
    EXPECT_EQ(ui::State().article_menu, nullptr);
    EXPECT_EQ(g_notifications, std::vector<DWORD>({NIM_DELETE})) << "the icon is removed at once";
}

TEST_F(SettingsDialogsUiTest, PluginSettingsCancelAndTheCloseBoxChangeNothing) {
    DefaultSettings("0x3");
    StartPlugin();
    std::string before = ReadFile(SettingsPath());
    for (bool close_box : {false, true}) {
        SCOPED_TRACE(close_box);
        g_notifications.clear();
        ModalRun run = Open(0, 0, [&](HWND dialog) {
            SetControlText(dialog, IDC_PLUGIN_INFO_COUNT, "7");
            ClickDialogButton(dialog, IDC_PLUGIN_TRAY);
            ChooseComboItem(dialog, IDC_PLUGIN_MENU_ZONE, 1);
            EXPECT_TRUE(WaitUntil([&] { return IsDlgButtonChecked(dialog, IDC_PLUGIN_TRAY) == BST_UNCHECKED; }, kWait))
                << "the click on the tray option was not handled";
            if (close_box) PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            else ClickDialogButton(dialog, IDCANCEL);
        });
        ASSERT_TRUE(run.appeared);
        EXPECT_TRUE(run.closed);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(ReadFile(SettingsPath()), before);
        EXPECT_EQ(Plugin().options, 3);
        EXPECT_EQ(Plugin().info_count, 2);
        EXPECT_TRUE(g_notifications.empty());
    }
}

}  // namespace
