// The feed manager dialog as the host's user-interface thread runs it: the
// plugin's real Init with the Windows user interface installed, real feeds
// (files and a local HTTP server), the real dialog from resource 109 driven
// from a watcher thread (texts set, rows chosen, buttons clicked, message
// boxes read and answered), and afterwards the feed list, the crawlers,
// RSS.ini and Setting.ini as they were left.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "fetch/feed_crawler.h"
#include "http_test_server.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_state.h"
#include "test_util.h"
#include "ui/feed_manager_dialog.h"
#include "ui/resource.h"
#include "ui/user_interface.h"
#include "ui_test_util.h"

using namespace feedlet;
using namespace feedlet::testing_util;

namespace {

constexpr DWORD kWait = 5000;
const wchar_t kCaption[] = L"RSS管理";

const char kNoName[] = "RSS名を入力して下さい。";
const char kNoUrl[] = "URLを入力して下さい。";
const char kInUse[] = "入力されたRSS名は、既に使用されています。";
const char kLeave[] = "入力したデータを追加・更新せずに終了しますか？";
const char kNotRecognised[] = "RSSが認識できません。\r\n存在しないURLか、プラグインで理解できない形式です。";
const std::vector<int> kOk = {IDOK};
const std::vector<int> kYesNo = {IDYES, IDNO};

BOOL WINAPI IgnoreShell(DWORD, PNOTIFYICONDATAA) { return TRUE; }

std::string Rss(const std::string& title, const std::string& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel><title>" + title + "</title>" +
           items + "</channel></rss>";
}
std::string Item(const std::string& title) {
    return "<item><title>" + title + "</title><link>http://example.com/" + title + "</link></item>";
}

// ---------------------------------------------------------------------------
// Reading and working the dialog's controls (from the watcher thread).

HWND List(HWND dialog) { return GetDlgItem(dialog, IDC_MANAGER_LIST); }

// Every row as "name|interval|URL|sort".
std::vector<std::string> Rows(HWND dialog) {
    HWND list = List(dialog);
    std::vector<std::string> rows;
    int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row)
        rows.push_back(ListViewText(list, row, 0) + "|" + ListViewText(list, row, 1) + "|" +
                       ListViewText(list, row, 2) + "|" + ListViewText(list, row, 3));
    return rows;
}

int SelectedRow(HWND dialog) {
    return static_cast<int>(SendMessageW(List(dialog), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

// Selects a row as a click does (the list tells the dialog).
void SelectRow(HWND dialog, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(List(dialog), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

struct IntervalList {
    std::vector<std::string> texts;
    std::vector<uint32_t> seconds;
    std::string selected;
};

IntervalList Intervals(HWND dialog) {
    HWND combo = GetDlgItem(dialog, IDC_MANAGER_INTERVAL);
    IntervalList out;
    int count = static_cast<int>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        out.texts.push_back(Utf8(text));
        out.seconds.push_back(static_cast<uint32_t>(SendMessageW(combo, CB_GETITEMDATA, static_cast<WPARAM>(i), 0)));
    }
    int selected = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    if (selected >= 0 && selected < count) out.selected = out.texts[static_cast<size_t>(selected)];
    return out;
}

// Chooses an interval as the user does: the list tells the dialog.
void ChooseInterval(HWND dialog, const std::string& text) {
    HWND combo = GetDlgItem(dialog, IDC_MANAGER_INTERVAL);
    IntervalList list = Intervals(dialog);
    for (size_t i = 0; i < list.texts.size(); ++i) {
        if (list.texts[i] != text) continue;
        SendMessageW(combo, CB_SETCURSEL, i, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_MANAGER_INTERVAL, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(combo));
        return;
    }
    ADD_FAILURE() << "no interval " << text;
}

bool SortChecked(HWND dialog) { return IsDlgButtonChecked(dialog, IDC_MANAGER_SORT) == BST_CHECKED; }

// The four fields as "name|URL|interval|sort".
std::string Fields(HWND dialog) {
    return ControlText(dialog, IDC_MANAGER_NAME) + "|" + ControlText(dialog, IDC_MANAGER_URL) + "|" +
           Intervals(dialog).selected + "|" + (SortChecked(dialog) ? "sort" : "-");
}

// Waits for the message box over dialog, checks everything it shows and
// presses answer.
void ExpectBox(HWND dialog, const std::string& caption, const std::string& text, const std::string& icon,
               const std::vector<int>& buttons, int answer) {
    MessageBoxView box = WaitForMessageBox(dialog, kWait);
    ASSERT_NE(box.window, nullptr) << "no message box \"" << caption << "\" came";
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.icon, icon);
    EXPECT_EQ(box.buttons, buttons);
    EXPECT_TRUE(Answer(box, answer, kWait)) << "the message box stayed";
}

void ExpectWarning(HWND dialog, const std::string& caption, const std::string& text) {
    ExpectBox(dialog, caption, text, "warning", kOk, IDOK);
}

// A click whose handler must finish without asking anything.
void ClickQuietly(HWND dialog, int id) {
    EXPECT_TRUE(ClickAndWait(GetDlgItem(dialog, id), kWait)) << "button " << id << " did not finish";
    HWND box = FindOwnedDialog(dialog);
    EXPECT_EQ(box, nullptr) << "unexpected message box: " << (box ? ReadMessageBox(box).text : "");
    if (box) Answer(ReadMessageBox(box), IDNO, kWait) || Answer(ReadMessageBox(box), IDOK, kWait);
}

void CloseWith(HWND dialog, int id) {
    ClickDialogButton(dialog, id);
    EXPECT_TRUE(WaitUntilGone(dialog, kWait)) << "the dialog stayed open";
}

// OK after typing: the question, answered Yes.
void ConfirmOk(HWND dialog) {
    ClickDialogButton(dialog, IDOK);
    ExpectBox(dialog, "終了確認", kLeave, "question", kYesNo, IDYES);
    EXPECT_TRUE(WaitUntilGone(dialog, kWait)) << "the dialog stayed open";
}

// ---------------------------------------------------------------------------

// Three registered feeds: Alpha (a file, sorted), Beta (HTTP, 1 hour) and
// Gamma (a file, with an interval the interval list does not offer), and a
// display setting on Beta and one on Gamma.
class FeedManagerDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Start());
        alpha = FeedFile("alpha.xml", Rss("アルファ通信", Item("a1") + Item("a2")));
        gamma = FeedFile("gamma.xml", Rss("ガンマ", Item("g1")));
        server.Route("/beta.xml", TestHttpServer::Body(200, Rss("Beta", Item("b1"))));
        beta = server.Url("/beta.xml");
        feeds_ini = "[RSS000]\r\nRSSName=Alpha\r\nURL=" + alpha + "\r\nInterval=1800\r\nFlag=1\r\n"
                    "[RSS001]\r\nRSSName=Beta\r\nURL=" + beta + "\r\nInterval=3600\r\n"
                    "[RSS002]\r\nRSSName=Gamma\r\nURL=" + gamma + "\r\nInterval=7777\r\nFlag=0\r\n";
        WriteFile(FeedsPath(), feeds_ini);
        Options(0);
    }

    std::string FeedFile(const std::string& name, const std::string& xml) { return plugin.File(name, xml); }
    std::string FeedsPath() { return plugin.FeedsPath(); }
    std::string SettingsFile() { return plugin.SettingsPath(); }
    void Options(int flag) {
        settings_ini = "[Main]\r\nInfoNum=1\r\nItemNum=1\r\nFlag=" + std::to_string(flag) +
                       "\r\n[Info000]\r\nName=" + Cp932("見出し") + "\r\nTarget=Gamma\r\nFormat=%title\r\n"
                       "[Item000]\r\nName=items\r\nTarget=Beta\r\nFormat=%title\r\n";
        WriteFile(SettingsFile(), settings_ini);
    }
    std::string Ini(const std::string& file, const char* section, const char* key) {
        char value[512];
        GetPrivateProfileStringA(section, key, "<missing>", value, sizeof value, file.c_str());
        return value;
    }

    void StartPlugin() {
        PluginInit();
        WaitForFetches();
    }
    void WaitForFetches() { ASSERT_TRUE(PumpUntilFetchesEnd(kWait)) << "the fetches did not end"; }
    FeedEntry* Entry(int i) { return Plugin().feeds.At<FeedEntry>(i); }
    std::vector<std::string> Names() {
        std::vector<std::string> names;
        for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>()) names.push_back(Utf8(Wide932(entry->name)));
        return names;
    }
    static std::wstring Wide932(const char* text) {
        wchar_t wide[512] = {};
        MultiByteToWideChar(932, 0, text, -1, wide, 512);
        return wide;
    }
    void ExpectNoEditsLeft() {
        for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>()) {
            EXPECT_EQ(entry->edit_mark, kEditNone) << entry->name;
            EXPECT_EQ(entry->pending, nullptr) << entry->name;
        }
    }
    void ExpectFilesUntouched() {
        EXPECT_EQ(ReadFile(FeedsPath()), feeds_ini) << "RSS.ini was written";
        EXPECT_EQ(ReadFile(SettingsFile()), settings_ini) << "Setting.ini was written";
    }

    // Opens the dialog on this thread (it is modal) while script works it
    // from a watcher thread. The script must close it; a deadline cancels it
    // otherwise, and the test fails.
    void RunDialog(FeedCrawler* preselect, const std::function<void(HWND)>& script) {
        ModalDeadline deadline(30000);
        ModalRun run = RunModal(
            L"#32770", kCaption,
            [&] {
                ui::ShowFeedManagerDialog(nullptr, preselect);
                return 0;
            },
            script, kWait);
        EXPECT_TRUE(run.joined) << "the script did not end";
        EXPECT_TRUE(run.appeared) << "no dialog appeared";
        EXPECT_TRUE(run.acted);
        // A script that failed half-way may have left it open.
        EXPECT_TRUE(!run.appeared || run.closed) << "the script left the dialog open";
        EXPECT_FALSE(deadline.fired()) << "the dialog had to be cancelled";
        EXPECT_EQ(FindProcessWindow(L"#32770", kCaption), nullptr);
        PumpPending();
    }

    TestHttpServer server;
    PluginHost plugin{IgnoreShell};
    std::string alpha, beta, gamma;
    std::string feeds_ini, settings_ini;
};

TEST_F(FeedManagerDialogTest, OpensWithEveryFeedLaidOutAsDesigned) {
    StartPlugin();
    RunDialog(nullptr, [&](HWND dialog) {
        EXPECT_EQ(WindowText(dialog), "RSS管理");
        HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
        LOGFONTW face{};
        ASSERT_TRUE(GetObjectW(font, sizeof face, &face));
        EXPECT_EQ(Utf8(face.lfFaceName), "ＭＳ Ｐゴシック");
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(MulDiv(-face.lfHeight, 72, GetDeviceCaps(screen, LOGPIXELSY)), 9);
        ReleaseDC(nullptr, screen);

        // Every control where the layout puts it, in dialog units. Labels
        // have no id of their own and are found by their text.
        struct Control {
            int id;
            const char* text;
            const char* window_class;
            RECT units;  // left, top, width, height
        } controls[] = {
            {-1, "登録RSS一覧(&R)", "Static", {6, 6, 96, 9}},
            {IDC_MANAGER_LIST, "", "SysListView32", {7, 21, 247, 129}},
            {IDC_MANAGER_ADD, "追加(&A)", "Button", {7, 153, 81, 18}},
            {IDC_MANAGER_UPDATE, "更新(&U)", "Button", {90, 153, 81, 18}},
            {IDC_MANAGER_DELETE, "削除(&D)", "Button", {173, 153, 81, 18}},
            {-1, "RSS名(&N)", "Static", {6, 177, 66, 10}},
            {IDC_MANAGER_NAME, "", "Edit", {9, 189, 130, 12}},
            {-1, "更新頻度(&T)", "Static", {147, 177, 47, 10}},
            {IDC_MANAGER_INTERVAL, "", "ComboBox", {144, 189, 49, 50}},
            {IDC_MANAGER_SORT, "日時でソート(&S)", "Button", {196, 189, 61, 12}},
            {-1, "URL(&U)", "Static", {6, 205, 66, 10}},
            {IDC_MANAGER_URL, "", "Edit", {9, 217, 198, 12}},
            {IDC_MANAGER_CHECK, "チェック(&C)", "Button", {209, 215, 45, 15}},
            {IDOK, "OK", "Button", {149, 245, 50, 14}},
            {IDCANCEL, "ｷｬﾝｾﾙ", "Button", {204, 245, 50, 14}},
        };
        for (const Control& control : controls) {
            SCOPED_TRACE(control.text[0] ? control.text : control.window_class);
            HWND window = nullptr;
            if (control.id >= 0) {
                window = GetDlgItem(dialog, control.id);
            } else {
                for (HWND child = GetWindow(dialog, GW_CHILD); child && !window; child = GetWindow(child, GW_HWNDNEXT))
                    if (WindowText(child) == control.text) window = child;
            }
            ASSERT_NE(window, nullptr);
            wchar_t name[64] = {};
            GetClassNameW(window, name, 64);
            EXPECT_EQ(Utf8(name), control.window_class);
            if (control.id >= 0 && control.text[0]) {
                EXPECT_EQ(WindowText(window), control.text);
            }
            // The dialog manager maps each of x, y, width and height on its
            // own, as MapDialogRect does each coordinate.
            RECT expected = control.units;
            MapDialogRect(dialog, &expected);
            RECT actual;
            GetWindowRect(window, &actual);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
            EXPECT_EQ(actual.left, expected.left);
            EXPECT_EQ(actual.top, expected.top);
            EXPECT_EQ(actual.right - actual.left, expected.right);
            // A closed drop-down list is as high as its field; its height in
            // the layout is the open list's.
            if (control.id != IDC_MANAGER_INTERVAL) {
                EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
            }
        }

        HWND list = List(dialog);
        LONG style = GetWindowLongW(list, GWL_STYLE);
        EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
        EXPECT_TRUE(style & LVS_SINGLESEL);
        EXPECT_TRUE(style & LVS_SHOWSELALWAYS);
        EXPECT_TRUE(style & LVS_NOSORTHEADER);
        // In a dialog the border becomes the sunken client edge.
        EXPECT_TRUE((style & WS_BORDER) || (GetWindowLongW(list, GWL_EXSTYLE) & WS_EX_CLIENTEDGE));
        EXPECT_TRUE(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) & LVS_EX_FULLROWSELECT);
        LONG combo = GetWindowLongW(GetDlgItem(dialog, IDC_MANAGER_INTERVAL), GWL_STYLE);
        EXPECT_EQ(combo & 3, CBS_DROPDOWNLIST);
        EXPECT_FALSE(combo & CBS_SORT);
        EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, IDC_MANAGER_SORT), GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX);
        EXPECT_EQ(GetWindowLongW(GetDlgItem(dialog, IDOK), GWL_STYLE) & BS_TYPEMASK, BS_DEFPUSHBUTTON);

        const char* titles[] = {"名前", "更新頻度", "URL", "ソート"};
        const int widths[] = {120, 70, 200, 30};
        for (int i = 0; i < 4; ++i) {
            wchar_t text[64] = {};
            LVCOLUMNW column{};
            column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
            column.pszText = text;
            column.cchTextMax = 64;
            ASSERT_TRUE(SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)));
            EXPECT_EQ(Utf8(text), titles[i]);
            EXPECT_EQ(column.cx, widths[i]);
            EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
        }
        EXPECT_EQ(Rows(dialog), (std::vector<std::string>{"Alpha|30分|" + alpha + "|■", "Beta|60分|" + beta + "|□",
                                                          "Gamma|2時間9分|" + gamma + "|□"}));
        EXPECT_EQ(SelectedRow(dialog), -1);

        IntervalList intervals = Intervals(dialog);
        EXPECT_EQ(intervals.texts, (std::vector<std::string>{"5分", "15分", "30分", "1時間", "2時間", "3時間", "5時間",
                                                            "10時間", "24時間"}));
        EXPECT_EQ(intervals.seconds,
                  (std::vector<uint32_t>{300, 900, 1800, 3600, 7200, 10800, 18000, 36000, 86400}));
        EXPECT_EQ(intervals.selected, "30分");
        EXPECT_EQ(Fields(dialog), "||30分|-");

        // Typing stops at the limits.
        HWND name = GetDlgItem(dialog, IDC_MANAGER_NAME);
        HWND url = GetDlgItem(dialog, IDC_MANAGER_URL);
        EXPECT_EQ(SendMessageW(name, EM_GETLIMITTEXT, 0, 0), 255);
        EXPECT_EQ(SendMessageW(url, EM_GETLIMITTEXT, 0, 0), 4096);
        SetWindowTextW(name, std::wstring(250, L'あ').c_str());
        for (int i = 0; i < 10; ++i) SendMessageW(name, WM_CHAR, L'a', 0);
        EXPECT_EQ(GetWindowTextLengthW(name), 255);
        SetWindowTextW(url, std::wstring(4090, L'u').c_str());
        for (int i = 0; i < 10; ++i) SendMessageW(url, WM_CHAR, L'v', 0);
        EXPECT_EQ(GetWindowTextLengthW(url), 4096);
        CloseWith(dialog, IDCANCEL);
    });
    EXPECT_EQ(Plugin().feeds.Count(), 3u);
    ExpectFilesUntouched();
}

TEST_F(FeedManagerDialogTest, ChoosingARowLoadsItsValues) {
    StartPlugin();
    RunDialog(nullptr, [&](HWND dialog) {
        // An interval the list lacks is added under its own text and chosen.
        SelectRow(dialog, 2);
        EXPECT_EQ(Fields(dialog), "Gamma|" + gamma + "|2時間9分|-");
        IntervalList intervals = Intervals(dialog);
        ASSERT_EQ(intervals.texts.size(), 10u);
        EXPECT_EQ(intervals.texts.back(), "2時間9分");
        EXPECT_EQ(intervals.seconds.back(), 7777u);
        SelectRow(dialog, 0);
        EXPECT_EQ(Fields(dialog), "Alpha|" + alpha + "|30分|sort");
        SelectRow(dialog, 1);
        EXPECT_EQ(Fields(dialog), "Beta|" + beta + "|1時間|-");
        SelectRow(dialog, 2);
        EXPECT_EQ(Intervals(dialog).texts.size(), 10u) << "added once";
        // Loading the fields is no edit: OK asks nothing and writes nothing.
        CloseWith(dialog, IDOK);
    });
    ExpectNoEditsLeft();
    ExpectFilesUntouched();
}

TEST_F(FeedManagerDialogTest, OpeningWithAFeedSelectsItAndLoadsItsValues) {
    StartPlugin();
    RunDialog(Entry(1)->crawler, [&](HWND dialog) {
        EXPECT_EQ(SelectedRow(dialog), 1);
        EXPECT_EQ(Fields(dialog), "Beta|" + beta + "|1時間|-");
        CloseWith(dialog, IDOK);
    });
    ExpectFilesUntouched();
}

TEST_F(FeedManagerDialogTest, AddChecksItsFieldsInOrder) {
    StartPlugin();
    std::string delta = FeedFile("delta.xml", Rss("Delta", Item("d1")));
    RunDialog(nullptr, [&](HWND dialog) {
        ClickDialogButton(dialog, IDC_MANAGER_ADD);
        ExpectWarning(dialog, "RSS名未入力", kNoName);
        SetControlText(dialog, IDC_MANAGER_URL, delta);
        ClickDialogButton(dialog, IDC_MANAGER_ADD);
        ExpectWarning(dialog, "RSS名未入力", kNoName);
        SetControlText(dialog, IDC_MANAGER_NAME, "Beta");
        SetControlText(dialog, IDC_MANAGER_URL, "");
        ClickDialogButton(dialog, IDC_MANAGER_ADD);
        ExpectWarning(dialog, "URL未入力", kNoUrl);
        SetControlText(dialog, IDC_MANAGER_URL, delta);
        ClickDialogButton(dialog, IDC_MANAGER_ADD);
        ExpectWarning(dialog, "RSS名入力エラー", kInUse);
        EXPECT_EQ(Rows(dialog).size(), 3u) << "a refused feed adds no row";
        // Letter case makes another name.
        SetControlText(dialog, IDC_MANAGER_NAME, "beta");
        ChooseInterval(dialog, "5分");
        ClickQuietly(dialog, IDC_MANAGER_SORT);
        ClickQuietly(dialog, IDC_MANAGER_ADD);
        ASSERT_EQ(Rows(dialog).size(), 4u);
        EXPECT_EQ(Rows(dialog)[3], "beta|5分|" + delta + "|■");
        // Now taken.
        ClickDialogButton(dialog, IDC_MANAGER_ADD);
        ExpectWarning(dialog, "RSS名入力エラー", kInUse);
        ConfirmOk(dialog);
    });
    ASSERT_EQ(Names(), (std::vector<std::string>{"Alpha", "Beta", "Gamma", "beta"}));
    ExpectNoEditsLeft();
    EXPECT_EQ(Ini(FeedsPath(), "RSS003", "RSSName"), "beta");
    EXPECT_EQ(Ini(FeedsPath(), "RSS003", "URL"), delta);
    EXPECT_EQ(Ini(FeedsPath(), "RSS003", "Interval"), "300");
    EXPECT_EQ(Ini(FeedsPath(), "RSS003", "Flag"), "0x1");
    EXPECT_EQ(Ini(FeedsPath(), "RSS004", "URL"), "");
    EXPECT_EQ(Ini(SettingsFile(), "Item000", "Target"), "Beta");
}

// The feed added here is fetched as soon as OK commits it and its fetch
// reaches the article menu; before, it stayed empty for a whole interval and
// the menu never showed its articles.
TEST_F(FeedManagerDialogTest, AnAddedFeedIsFetchedAndShownInTheMenuAfterOk) {
    Options(1);
    StartPlugin();
    ASSERT_NE(ui::State().article_menu, nullptr);
    HMENU before = ui::State().article_menu->top_popup();
    std::string delta = FeedFile("delta.xml", Rss("Delta", Item("d1") + Item("d2")));
    RunDialog(nullptr, [&](HWND dialog) {
        SetControlText(dialog, IDC_MANAGER_NAME, "Delta");
        SetControlText(dialog, IDC_MANAGER_URL, delta);
        ChooseInterval(dialog, "24時間");
        ClickQuietly(dialog, IDC_MANAGER_ADD);
        ConfirmOk(dialog);
    });
    FeedCrawler* crawler = Entry(3)->crawler;
    EXPECT_EQ(crawler->notify, &OnFeedUpdated);
    ASSERT_TRUE(PumpUntil(
        [&] {
            HMENU top = ui::State().article_menu->top_popup();
            return MenuLines(top).size() == 4 && MenuLines(GetSubMenu(top, 3)).size() == 4;
        },
        kWait))
        << "the new feed's articles never reached the menu";
    HMENU top = ui::State().article_menu->top_popup();
    EXPECT_NE(top, before) << "the menu was built anew";
    EXPECT_EQ(MenuLines(top), (std::vector<std::string>{"popup Alpha", "popup Beta", "popup Gamma", "popup Delta"}));
    EXPECT_EQ(MenuLines(GetSubMenu(top, 3)),
              (std::vector<std::string>{"grayed Delta", "----", "item ----- d1", "item ----- d2"}));
    EXPECT_NE(crawler->document, nullptr);
    EXPECT_EQ(Ini(FeedsPath(), "RSS003", "Interval"), "86400");
}

// Cancel keeps a feed added in the session registered for the running
// plugin: not fetched and not written, but notifying like every feed.
TEST_F(FeedManagerDialogTest, CancelKeepsAnAddedFeedRegisteredButUnsaved) {
    StartPlugin();
    std::string delta = FeedFile("delta.xml", Rss("Delta", Item("d1")));
    RunDialog(nullptr, [&](HWND dialog) {
        SetControlText(dialog, IDC_MANAGER_NAME, "Delta");
        SetControlText(dialog, IDC_MANAGER_URL, delta);
        ClickQuietly(dialog, IDC_MANAGER_ADD);
        CloseWith(dialog, IDCANCEL);
    });
    ASSERT_EQ(Names(), (std::vector<std::string>{"Alpha", "Beta", "Gamma", "Delta"}));
    ExpectNoEditsLeft();
    FeedCrawler* crawler = Entry(3)->crawler;
    EXPECT_EQ(crawler->notify, &OnFeedUpdated);
    EXPECT_EQ(crawler->workers.load(), 0u);
    EXPECT_EQ(crawler->document, nullptr) << "fetched only when its interval has passed";
    ExpectFilesUntouched();
    // The next opening shows it as registered.
    RunDialog(nullptr, [&](HWND dialog) {
        EXPECT_EQ(Rows(dialog).size(), 4u);
        CloseWith(dialog, IDCANCEL);
    });
}

TEST_F(FeedManagerDialogTest, ANameFreedByADeletionInTheSameSessionCanBeUsed) {
    StartPlugin();
    std::string other = FeedFile("other.xml", Rss("Other", ""));
    RunDialog(nullptr, [&](HWND dialog) {
        SelectRow(dialog, 1);
        ClickDialogButton(dialog, IDC_MANAGER_DELETE);
        ExpectBox(dialog, "削除確認", "\"Beta\"\r\nこの設定を削除しますか？", "question", kYesNo, IDNO);
        EXPECT_EQ(Rows(dialog).size(), 3u) << "No keeps the row";
        ClickDialogButton(dialog, IDC_MANAGER_DELETE);
        ExpectBox(dialog, "削除確認", "\"Beta\"\r\nこの設定を削除しますか？", "question", kYesNo, IDYES);
        ASSERT_EQ(Rows(dialog).size(), 2u);
        EXPECT_EQ(Rows(dialog)[1].substr(0, 6), "Gamma|");
        SetControlText(dialog, IDC_MANAGER_NAME, "Beta");
        SetControlText(dialog, IDC_MANAGER_URL, other);
        ClickQuietly(dialog, IDC_MANAGER_ADD);
        EXPECT_EQ(Rows(dialog).size(), 3u);
        ConfirmOk(dialog);
    });
    ASSERT_EQ(Names(), (std::vector<std::string>{"Alpha", "Gamma", "Beta"}));
    EXPECT_EQ(Entry(2)->crawler->url.Narrow(), other);
    EXPECT_EQ(Ini(FeedsPath(), "RSS001", "RSSName"), "Gamma");
    EXPECT_EQ(Ini(FeedsPath(), "RSS002", "URL"), other);
    // The setting on the deleted feed lost its target; the new feed of the
    // same name is another feed.
    EXPECT_EQ(Plugin().item_settings.At<DisplaySetting>(0)->crawler, nullptr);
    EXPECT_EQ(Ini(SettingsFile(), "Item000", "Target"), "");
    EXPECT_EQ(Ini(SettingsFile(), "Info000", "Target"), "Gamma");
}

// Rows keep their entries' indexes: after a deleted row the second row is
// the third entry, and giving it its own name again is no clash.
TEST_F(FeedManagerDialogTest, UpdateAfterADeletedRowComparesTheRightEntries) {
    StartPlugin();
    RunDialog(nullptr, [&](HWND dialog) {
        SelectRow(dialog, 0);
        ClickDialogButton(dialog, IDC_MANAGER_DELETE);
        ExpectBox(dialog, "削除確認", "\"Alpha\"\r\nこの設定を削除しますか？", "question", kYesNo, IDYES);
        SelectRow(dialog, 1);
        EXPECT_EQ(Fields(dialog), "Gamma|" + gamma + "|2時間9分|-");
        ClickQuietly(dialog, IDC_MANAGER_UPDATE);
        // Beta's name on Gamma's row is Beta's; the deleted Alpha's is free.
        SetControlText(dialog, IDC_MANAGER_NAME, "Beta");
        ClickDialogButton(dialog, IDC_MANAGER_UPDATE);
        ExpectWarning(dialog, "RSS名入力エラー", kInUse);
        SetControlText(dialog, IDC_MANAGER_NAME, "Alpha");
        ClickQuietly(dialog, IDC_MANAGER_UPDATE);
        EXPECT_EQ(Rows(dialog), (std::vector<std::string>{"Beta|60分|" + beta + "|□",
                                                          "Alpha|2時間9分|" + gamma + "|□"}));
        ConfirmOk(dialog);
    });
    ASSERT_EQ(Names(), (std::vector<std::string>{"Beta", "Alpha"}));
    EXPECT_EQ(Entry(1)->crawler->url.Narrow(), gamma);
    EXPECT_EQ(Ini(FeedsPath(), "RSS001", "RSSName"), "Alpha");
    EXPECT_EQ(Ini(FeedsPath(), "RSS001", "Interval"), "7777");
    EXPECT_EQ(Ini(SettingsFile(), "Info000", "Target"), "Alpha") << "the renamed feed's setting follows it";
}

TEST_F(FeedManagerDialogTest, UpdateWithoutChangesMarksNothingAndOkWritesNothing) {
    StartPlugin();
    FeedDocument* document = Entry(0)->crawler->document;
    ASSERT_NE(document, nullptr);
    RunDialog(nullptr, [&](HWND dialog) {
        for (int row : {0, 2}) {
            SelectRow(dialog, row);
            ClickQuietly(dialog, IDC_MANAGER_UPDATE);
        }
        // Update without a selected row does nothing.
        LVITEMW none{};
        none.stateMask = LVIS_SELECTED;
        SendMessageW(List(dialog), LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        ClickQuietly(dialog, IDC_MANAGER_UPDATE);
        CloseWith(dialog, IDOK);
    });
    ExpectFilesUntouched();
    EXPECT_EQ(Entry(0)->crawler->workers.load(), 0u);
    EXPECT_EQ(Entry(0)->crawler->document, document) << "nothing was fetched again";
}

// Update of the HTTP feed: every field changes, the row shows the pending
// values, and OK applies them to the same crawler, fetches it again and
// rewrites the display setting that names it.
TEST_F(FeedManagerDialogTest, UpdateRenamesTheFeedAndItsSettingsFollow) {
    StartPlugin();
    FeedCrawler* crawler = Entry(1)->crawler;
    server.Route("/beta2.xml", TestHttpServer::Body(200, Rss("Beta2", Item("b2"))));
    std::string beta2 = server.Url("/beta2.xml");
    RunDialog(nullptr, [&](HWND dialog) {
        SelectRow(dialog, 1);
        SetControlText(dialog, IDC_MANAGER_NAME, "ベータ");
        SetControlText(dialog, IDC_MANAGER_URL, beta2);
        ChooseInterval(dialog, "2時間");
        ClickQuietly(dialog, IDC_MANAGER_SORT);
        ClickQuietly(dialog, IDC_MANAGER_UPDATE);
        EXPECT_EQ(Rows(dialog)[1], "ベータ|2時間|" + beta2 + "|■");
        // A second update replaces the pending values.
        ChooseInterval(dialog, "3時間");
        ClickQuietly(dialog, IDC_MANAGER_UPDATE);
        EXPECT_EQ(Rows(dialog)[1], "ベータ|3時間|" + beta2 + "|■");
        ConfirmOk(dialog);
    });
    ExpectNoEditsLeft();
    ASSERT_EQ(Entry(1)->crawler, crawler) << "an edited feed keeps its crawler";
    EXPECT_EQ(Names()[1], "ベータ");
    EXPECT_EQ(crawler->interval, 10800u);
    EXPECT_EQ(crawler->flags, 1);
    WaitForFetches();
    EXPECT_EQ(server.RequestCount("/beta2.xml"), 1) << "fetched again at once";
    EXPECT_EQ(Ini(FeedsPath(), "RSS001", "RSSName"), Cp932("ベータ"));
    EXPECT_EQ(Ini(FeedsPath(), "RSS001", "URL"), beta2);
    EXPECT_EQ(Ini(FeedsPath(), "RSS001", "Interval"), "10800");
    EXPECT_EQ(Ini(FeedsPath(), "RSS001", "Flag"), "0x1");
    EXPECT_EQ(Ini(SettingsFile(), "Item000", "Target"), Cp932("ベータ"));
    EXPECT_EQ(Ini(SettingsFile(), "Info000", "Target"), "Gamma");
}

// Add and Update change rows, and the list reports every such change: the
// fields keep what was typed (they are not reloaded from the selected row)
// and OK still asks about it.
TEST_F(FeedManagerDialogTest, AddAndUpdateKeepWhatWasTyped) {
    StartPlugin();
    std::string delta = FeedFile("delta.xml", Rss("Delta", ""));
    RunDialog(nullptr, [&](HWND dialog) {
        SelectRow(dialog, 0);
        SetControlText(dialog, IDC_MANAGER_NAME, "Delta");
        SetControlText(dialog, IDC_MANAGER_URL, delta);
        ClickQuietly(dialog, IDC_MANAGER_ADD);
        EXPECT_EQ(Rows(dialog).back(), "Delta|30分|" + delta + "|■");
        EXPECT_EQ(Fields(dialog), "Delta|" + delta + "|30分|sort");
        SetControlText(dialog, IDC_MANAGER_NAME, "Alpha2");
        ClickQuietly(dialog, IDC_MANAGER_UPDATE);
        EXPECT_EQ(Rows(dialog).front(), "Alpha2|30分|" + delta + "|■");
        EXPECT_EQ(Fields(dialog), "Alpha2|" + delta + "|30分|sort");
        ConfirmOk(dialog);
    });
    EXPECT_EQ(Names(), (std::vector<std::string>{"Alpha2", "Beta", "Gamma", "Delta"}));
}

TEST_F(FeedManagerDialogTest, OkAfterTypingAsksAndNoKeepsTheTypedValues) {
    StartPlugin();
    RunDialog(nullptr, [&](HWND dialog) {
        SetControlText(dialog, IDC_MANAGER_NAME, "typed");
        SetControlText(dialog, IDC_MANAGER_URL, "http://example.com/typed");
        ClickDialogButton(dialog, IDOK);
        ExpectBox(dialog, "終了確認", kLeave, "question", kYesNo, IDNO);
        EXPECT_TRUE(IsWindowVisible(dialog)) << "No keeps the dialog";
        EXPECT_EQ(Fields(dialog), "typed|http://example.com/typed|30分|-");
        // A changed check box counts as typing too.
        SelectRow(dialog, 1);
        ClickQuietly(dialog, IDC_MANAGER_SORT);
        ConfirmOk(dialog);
    });
    EXPECT_EQ(Plugin().feeds.Count(), 3u);
    ExpectFilesUntouched();
}

// Cancel, the Escape key and the close box all leave at once and apply
// nothing: a deleted feed stays registered and unmarked, and a later OK
// does not delete it.
TEST_F(FeedManagerDialogTest, EveryOtherWayOutDiscardsTheEdits) {
    StartPlugin();
    struct Way {
        const char* what;
        std::function<void(HWND)> leave;
    } ways[] = {
        {"Cancel", [](HWND dialog) { CloseWith(dialog, IDCANCEL); }},
        {"Escape",
         [](HWND dialog) {
             PostMessageW(List(dialog), WM_KEYDOWN, VK_ESCAPE, 0);
             EXPECT_TRUE(WaitUntilGone(dialog, kWait));
         }},
        {"close box",
         [](HWND dialog) {
             PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
             EXPECT_TRUE(WaitUntilGone(dialog, kWait));
         }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.what);
        RunDialog(nullptr, [&](HWND dialog) {
            SelectRow(dialog, 2);
            ClickDialogButton(dialog, IDC_MANAGER_DELETE);
            ExpectBox(dialog, "削除確認", "\"Gamma\"\r\nこの設定を削除しますか？", "question", kYesNo, IDYES);
            SelectRow(dialog, 0);
            SetControlText(dialog, IDC_MANAGER_NAME, "Renamed");
            ClickQuietly(dialog, IDC_MANAGER_UPDATE);
            EXPECT_EQ(Rows(dialog).size(), 2u);
            way.leave(dialog);
        });
        ASSERT_EQ(Names(), (std::vector<std::string>{"Alpha", "Beta", "Gamma"}));
        ExpectNoEditsLeft();
        EXPECT_EQ(Plugin().info_settings.At<DisplaySetting>(0)->crawler, Entry(2)->crawler);
    }
    RunDialog(nullptr, [&](HWND dialog) {
        EXPECT_EQ(Rows(dialog).size(), 3u);
        CloseWith(dialog, IDOK);
    });
    EXPECT_EQ(Plugin().feeds.Count(), 3u);
    ExpectFilesUntouched();
}

TEST_F(FeedManagerDialogTest, CheckReportsWhatATrialFetchFound) {
    StartPlugin();
    std::string sjis = FeedFile("sjis.xml", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><rss version=\"2.0\">"
                                            "<channel><title>" + Cp932("港町だより") + "</title></channel></rss>");
    server.Route("/atom.xml", TestHttpServer::Body(200, "<feed xmlns=\"http://www.w3.org/2005/Atom\">"
                                                        "<title>Atom over HTTP</title></feed>"));
    server.Route("/untitled.rdf", TestHttpServer::Body(200, "<rdf:RDF><channel></channel></rdf:RDF>"));
    server.Route("/silent", TestHttpServer::Stall());
    platform::HttpLimits limits = platform::kDefaultHttpLimits;
    limits.timeout_ms = 1000;
    limits.deadline_ms = 3000;
    FetchLimitsFor quick(limits);
    RunDialog(nullptr, [&](HWND dialog) {
        struct Row {
            std::string url;
            std::string text;
        } rows[] = {
            {"", kNotRecognised},
            {sjis, "RSSが正常に認識されました。\r\nタイトル：港町だより\r\n種別：RSS2.0"},
            {server.Url("/atom.xml"), "RSSが正常に認識されました。\r\nタイトル：Atom over HTTP\r\n種別：ATOM"},
            {server.Url("/untitled.rdf"), "RSSが正常に認識されました。\r\n種別：RSS1.0"},
            {plugin.host() + "missing.xml", kNotRecognised},
            // A silent server holds the dialog only as long as the fetch's
            // time-out.
            {server.Url("/silent"), kNotRecognised},
        };
        for (const Row& row : rows) {
            SCOPED_TRACE(row.url);
            SetControlText(dialog, IDC_MANAGER_URL, row.url);
            ClickDialogButton(dialog, IDC_MANAGER_CHECK);
            ExpectBox(dialog, "チェック", row.text, "", kOk, IDOK);
        }
        EXPECT_EQ(Rows(dialog).size(), 3u) << "a check stores nothing";
        CloseWith(dialog, IDCANCEL);
    });
    EXPECT_EQ(server.RequestCount("/atom.xml"), 1);
    EXPECT_EQ(Plugin().feeds.Count(), 3u);
    ExpectFilesUntouched();
}

// A check of a slow server runs aside: the dialog answers a watcher's
// SendMessageTimeout (SMTO_ABORTIFHUNG, 1 s, as Windows judges "Not
// Responding") all along, shows that a check runs (every button but Cancel
// disabled, the Check button saying so), and afterwards reports as ever and
// is itself again.
TEST_F(FeedManagerDialogTest, ACheckOfASlowServerLeavesTheDialogAnswering) {
    StartPlugin();
    server.Route("/slow.xml", TestHttpServer::TrickleBody(30, 100));
    RunDialog(nullptr, [&](HWND dialog) {
        const std::string check_text = WindowText(GetDlgItem(dialog, IDC_MANAGER_CHECK));
        SetControlText(dialog, IDC_MANAGER_URL, server.Url("/slow.xml"));
        ClickDialogButton(dialog, IDC_MANAGER_CHECK);
        ASSERT_TRUE(WaitUntil([&] { return server.TrickleSent("/slow.xml") >= 1; }, kWait));
        int answered = 0, hung = 0;
        bool showed_running = false;
        while (!FindOwnedDialog(dialog) && answered + hung < 600) {
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result)) ++answered;
            else ++hung;
            if (server.TrickleSent("/slow.xml") < 25 && WindowText(GetDlgItem(dialog, IDC_MANAGER_CHECK)) != check_text) {
                showed_running = true;
                EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_MANAGER_CHECK)), "チェック中…");
                for (int id : {IDC_MANAGER_ADD, IDC_MANAGER_UPDATE, IDC_MANAGER_DELETE, IDC_MANAGER_CHECK, IDOK})
                    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
                EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
            }
            // The next probe once the box has not come for a while.
            WaitUntil([&] { return FindOwnedDialog(dialog) != nullptr; }, 20);
        }
        EXPECT_EQ(hung, 0) << "the dialog stopped answering during the check";
        EXPECT_GE(answered, 20) << "the check was over before it could be watched";
        EXPECT_TRUE(showed_running);
        ExpectBox(dialog, "チェック", kNotRecognised, "", kOk, IDOK);
        EXPECT_EQ(WindowText(GetDlgItem(dialog, IDC_MANAGER_CHECK)), check_text);
        for (int id : {IDC_MANAGER_ADD, IDC_MANAGER_UPDATE, IDC_MANAGER_DELETE, IDC_MANAGER_CHECK, IDOK})
            EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, id))) << id;
        CloseWith(dialog, IDCANCEL);
    });
    EXPECT_EQ(server.WaitForTrickleEnd("/slow.xml", kWait), TestHttpServer::TrickleEnd::kCompleted);
}

// Cancel and the close box during a check end it and close the dialog at
// once; no message box follows, and the server sees the check hang up.
TEST_F(FeedManagerDialogTest, CancellingDuringACheckClosesTheDialogAtOnce) {
    StartPlugin();
    struct Way {
        const char* name;
        std::function<void(HWND)> close;
    } ways[] = {
        {"Cancel", [](HWND dialog) { ClickDialogButton(dialog, IDCANCEL); }},
        {"the close box", [](HWND dialog) { PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"Escape", [](HWND dialog) { PostMessageW(GetDlgItem(dialog, IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 0); }},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        const std::string path = std::string("/endless-") + std::to_string(&way - ways) + ".xml";
        server.Route(path, TestHttpServer::TrickleBody(400, 100));
        RunDialog(nullptr, [&](HWND dialog) {
            SetControlText(dialog, IDC_MANAGER_URL, server.Url(path));
            ClickDialogButton(dialog, IDC_MANAGER_CHECK);
            ASSERT_TRUE(WaitUntil([&] { return server.TrickleSent(path) >= 2; }, kWait));
            way.close(dialog);
            EXPECT_TRUE(WaitUntilGone(dialog, 2000)) << "the dialog waited for the check";
            EXPECT_EQ(FindOwnedDialog(dialog), nullptr);
        });
        EXPECT_EQ(server.WaitForTrickleEnd(path, kWait), TestHttpServer::TrickleEnd::kClientLeft);
        EXPECT_LT(server.TrickleSent(path), 100u);
    }
    ExpectFilesUntouched();
}

// OK after changing a feed whose fetch trickles returns at once: the fetch
// of the old location is cancelled, the new one fetched.
TEST_F(FeedManagerDialogTest, OkWhileAFeedTricklesReturnsAtOnce) {
    server.Route("/trickle.xml", TestHttpServer::TrickleBody(400, 100));
    feeds_ini = "[RSS000]\r\nRSSName=Alpha\r\nURL=" + server.Url("/trickle.xml") + "\r\nInterval=1800\r\n";
    WriteFile(FeedsPath(), feeds_ini);
    PluginInit();
    ASSERT_TRUE(WaitUntil([&] { return server.TrickleSent("/trickle.xml") >= 2; }, kWait));
    RunDialog(nullptr, [&](HWND dialog) {
        SelectRow(dialog, 0);
        SetControlText(dialog, IDC_MANAGER_URL, alpha);
        ClickQuietly(dialog, IDC_MANAGER_UPDATE);
        ClickDialogButton(dialog, IDOK);
        ExpectBox(dialog, "終了確認", kLeave, "question", kYesNo, IDYES);
        EXPECT_TRUE(WaitUntilGone(dialog, 2000)) << "OK waited for the trickling fetch";
    });
    EXPECT_EQ(server.WaitForTrickleEnd("/trickle.xml", kWait), TestHttpServer::TrickleEnd::kClientLeft);
    EXPECT_LT(server.TrickleSent("/trickle.xml"), 100u);
    WaitForFetches();
    ASSERT_NE(Entry(0)->crawler->document, nullptr) << "the new location, fetched at once";
}

TEST_F(FeedManagerDialogTest, LongNamesAreCutOnACharacterBoundary) {
    StartPlugin();
    std::string a200;
    for (int i = 0; i < 200; ++i) a200 += "あ";
    std::string a126;
    for (int i = 0; i < 126; ++i) a126 += "あ";
    RunDialog(nullptr, [&](HWND dialog) {
        // Set as a paste would be, past what typing allows in bytes: 201
        // characters are 401 bytes of code page 932.
        SetControlText(dialog, IDC_MANAGER_NAME, "x" + a200);
        SetControlText(dialog, IDC_MANAGER_URL, alpha);
        ClickQuietly(dialog, IDC_MANAGER_ADD);
        ASSERT_EQ(Rows(dialog).size(), 4u);
        EXPECT_EQ(Rows(dialog)[3], "x" + a126 + "|30分|" + alpha + "|□");
        ConfirmOk(dialog);
    });
    ASSERT_EQ(Plugin().feeds.Count(), 4u);
    EXPECT_EQ(std::string(Entry(3)->name), Cp932("x" + a126));
    EXPECT_EQ(std::string(Entry(3)->name).size(), 253u);
    EXPECT_EQ(Ini(FeedsPath(), "RSS003", "RSSName"), Cp932("x" + a126));
}

}  // namespace
