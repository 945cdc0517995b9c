// The tray icon, its message window and the article menu as the host's
// user-interface thread runs them: the plugin's real Init and Free with the
// Windows user interface installed, real feeds (files and a local HTTP
// server), real menus read back with the menu APIs, the real popup driven
// with keyboard messages from a watcher thread. What the shell receives and
// what would be opened are recorded at the two seams; one test follows a
// chosen link all the way to Wine's browser launcher.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "core/plugin_time.h"
#include "fetch/feed_crawler.h"
#include "http_test_server.h"
#include "platform/platform.h"
#include "plugin/plugin.h"
#include "plugin/plugin_info.h"
#include "plugin/plugin_state.h"
#include "test_util.h"
#include "text/time_utils.h"
#include "ui/user_interface.h"
#include "ui_test_util.h"

using namespace feedlet;
using namespace feedlet::testing_util;

namespace {

// 2026-12-07 12:00:00 UTC.
constexpr PluginTime kNow = 1796644800;
constexpr DWORD kWait = 5000;

struct Notification {
    DWORD message;
    UINT id;
    HWND window;
    UINT flags;
    UINT callback;
    HICON icon;
    std::string tip;
    DWORD size;
    BOOL result;  // what the shell answered
};
std::vector<Notification> g_notifications;
std::vector<std::wstring> g_opened;

BOOL WINAPI RecordNotification(DWORD message, PNOTIFYICONDATAA data) {
    BOOL result = Shell_NotifyIconA(message, data);
    g_notifications.push_back({message, data->uID, data->hWnd, data->uFlags, data->uCallbackMessage, data->hIcon,
                               std::string(data->szTip), data->cbSize, result});
    return result;
}

void RecordOpen(const wchar_t* link) { g_opened.push_back(link); }

std::string Item(const std::string& title, const std::string& link, const std::string& date) {
    std::string xml = "<item>";
    if (!title.empty()) xml += "<title>" + title + "</title>";
    if (!link.empty()) xml += "<link>" + link + "</link>";
    if (!date.empty()) xml += "<pubDate>" + date + "</pubDate>";
    return xml + "</item>";
}

std::string Rss(const std::string& channel, const std::string& items) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?><rss version=\"2.0\"><channel>" + channel + items +
           "</channel></rss>";
}

std::vector<std::string> Lines(std::initializer_list<const char*> lines) {
    return std::vector<std::string>(lines.begin(), lines.end());
}

class TrayMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui::SetLinkOpener(RecordOpen);
        g_notifications.clear();
        g_opened.clear();
    }
    void TearDown() override { ui::SetLinkOpener(nullptr); }

    // A feed file in the host folder; its path.
    std::string FeedFile(const std::string& name, const std::string& xml) { return plugin.File(name, xml); }
    void Register(const std::vector<std::pair<std::string, std::string>>& feeds) {
        std::string ini;
        for (size_t i = 0; i < feeds.size(); ++i) {
            char section[16];
            std::snprintf(section, sizeof section, "[RSS%03u]\r\n", static_cast<unsigned>(i));
            ini += section + std::string("URL=") + feeds[i].second + "\r\nRSSName=" + Cp932(feeds[i].first) + "\r\n";
        }
        WriteFile(plugin.FeedsPath(), ini);
    }
    void Options(int flag, const char* menu_zone = "") {
        WriteFile(plugin.SettingsPath(), "[Main]\r\nInfoNum=1\r\nItemNum=1\r\nFlag=" +
                                                            std::to_string(flag) + "\r\nMenuTimeZone=" + menu_zone +
                                                            "\r\n");
    }
    // Init, then waits for the start-up fetches and the menu updates they post.
    void StartPlugin() {
        PluginInit();
        WaitForFetches();
    }
    void WaitForFetches() { ASSERT_TRUE(PumpUntilFetchesEnd(kWait)) << "the fetches did not end"; }
    HWND Window() { return ui::State().message_window.load(); }
    HMENU Top() { return ui::State().article_menu ? ui::State().article_menu->top_popup() : nullptr; }
    std::vector<std::string> FeedLines(int index) { return MenuLines(GetSubMenu(Top(), index)); }
    LRESULT Click(LPARAM mouse_message) {
        return SendMessageW(Window(), ui::Tray().callback_message(), ui::Tray().id(), mouse_message);
    }
    int Count(DWORD message) {
        int n = 0;
        for (const Notification& note : g_notifications) n += note.message == message;
        return n;
    }

    PluginHost plugin{RecordNotification};
};

TEST_F(TrayMenuTest, MenusListEveryFeedWithItsArticles) {
    TestHttpServer server;
    ASSERT_TRUE(server.Start());
    std::string fifty(50, 'x');
    std::string fiftyone(51, 'y');
    std::string local = FeedFile(
        "local.xml",
        Rss("<title>町だより</title><link>http://example.com/</link>",
            Item("朝市", "http://example.com/1", RssDate(kNow - 3600)) + Item("", "http://example.com/2", RssDate(kNow)) +
                Item("リンクなし", "", RssDate(kNow - 86400)) + Item("翌日", "http://example.com/4", RssDate(kNow - 86401)) +
                Item("一年", "http://example.com/5", RssDate(kNow - 31536000)) +
                Item("一年と一秒", "http://example.com/6", RssDate(kNow - 31536001)) +
                Item("日付なし", "http://example.com/7", "") + Item(fifty, "http://example.com/8", "") +
                Item(fiftyone, "http://example.com/9", "")));
    server.Route("/served.xml", TestHttpServer::Body(200, Rss("<description>no title, no link</description>",
                                                             Item("served", "https://example.org/a", ""))));
    server.Route("/bare.xml", TestHttpServer::Body(200, Rss("<title>bare</title>", "")));
    Register({{"ローカル", local},
              {"HTTP", server.Url("/served.xml")},
              {"bare", server.Url("/bare.xml")},
              {"missing", plugin.host() + "missing.xml"}});
    Options(1);
    StartPlugin();
    ASSERT_NE(Top(), nullptr);
    ui::State().article_menu->BuildMenu(&Plugin().feeds, nullptr, kNow);

    EXPECT_EQ(MenuLines(Top()), Lines({"popup ローカル", "popup HTTP", "popup bare", "popup missing"}));
    EXPECT_EQ(FeedLines(0), Lines({
                                "item 町だより",
                                "----",
                                "item 11:00 朝市",
                                "item Item002",
                                "grayed 12:00 リンクなし",
                                "item 12/06 翌日",
                                "item 12/07 一年",
                                "item 2025. 一年と一秒",
                                "item ----- 日付なし",
                                ("item ----- " + fifty).c_str(),
                                ("item ----- " + std::string(47, 'y') + "...").c_str(),
                            }));
    EXPECT_EQ(FeedLines(1), Lines({"grayed ホームページ(&H)", "----", "item ----- served"}));
    EXPECT_EQ(FeedLines(2), Lines({"grayed bare"})) << "no article list: no separator";
    EXPECT_TRUE(FeedLines(3).empty()) << "a feed that was never fetched has an empty submenu";
}

TEST_F(TrayMenuTest, ARefetchChangesOnlyItsOwnSubmenu) {
    std::string one = FeedFile("one.xml", Rss("<title>1</title>", Item("a", "http://1/a", "")));
    std::string two = FeedFile("two.xml", Rss("<title>2</title>", Item("b", "http://2/b", "")));
    Register({{"one", one}, {"two", two}});
    Options(1);
    StartPlugin();
    HMENU top = Top();
    HMENU second = GetSubMenu(top, 1);
    std::vector<std::string> before = FeedLines(1);

    WriteFile(one, Rss("<title>1</title>", Item("c", "http://1/c", "") + Item("d", "http://1/d", "")));
    FeedCrawler* crawler = Plugin().feeds.At<FeedEntry>(0)->crawler;
    feedlet::Start(crawler);
    ASSERT_TRUE(PumpUntil([&] { return FeedLines(0).size() == 4; }, kWait)) << "the refetch never reached the menu";
    EXPECT_EQ(FeedLines(0), Lines({"grayed 1", "----", "item ----- c", "item ----- d"}));
    EXPECT_EQ(Top(), top);
    EXPECT_EQ(GetSubMenu(top, 1), second);
    EXPECT_EQ(FeedLines(1), before);
    EXPECT_EQ(MenuLines(top), Lines({"popup one", "popup two"}));
}

TEST_F(TrayMenuTest, TheRightButtonOpensThePopupAndTheChosenLinkIsOpened) {
    std::string feed = FeedFile("f.xml", Rss("<title>T</title><link>http://example.com/</link>",
                                            Item("first", "http://example.com/first", "") +
                                                Item("second", "javascript:alert(1)", "")));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();
    ASSERT_EQ(FeedLines(0).size(), 4u) << "the start-up fetch never reached the menu";

    HMENU shown = nullptr;
    bool found = false;
    bool walked = false;
    bool open_before_return = false;
    Watcher watcher([&] {
        HWND popup = WaitForWindow(L"#32768", nullptr, kWait);
        if (!popup) return;
        found = true;
        shown = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
        // Down to the feed, into its submenu (the home page), down past the
        // separator to the first article, and choose it.
        HMENU feed_menu = GetSubMenu(shown, 0);
        walked = WalkPopup(popup, {{VK_DOWN, shown, 0}, {VK_RIGHT, feed_menu, 0}, {VK_DOWN, feed_menu, 2}}, kWait);
        open_before_return = IsWindowVisible(popup) != FALSE;
        PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
    });
    Click(WM_RBUTTONUP);
    ASSERT_TRUE(watcher.Join(kWait));
    ASSERT_TRUE(found) << "no popup menu appeared";
    EXPECT_TRUE(walked) << "the keyboard did not move through the menu";
    EXPECT_TRUE(open_before_return);
    EXPECT_EQ(shown, Top());
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(Utf8(g_opened[0]), "http://example.com/first");
    EXPECT_EQ(CountProcessWindows(L"#32768"), 0);
}

TEST_F(TrayMenuTest, DismissingOpensNothingAndASecondClickIsIgnored) {
    std::string feed = FeedFile("f.xml", Rss("<title>T</title><link>http://example.com/</link>", ""));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();

    bool found = false;
    bool second_returned = false;
    int popups_during = 0;
    Watcher watcher([&] {
        HWND popup = WaitForWindow(L"#32768", nullptr, kWait);
        if (!popup) return;
        found = true;
        DWORD_PTR result = 0;
        // Dispatched inside the popup's own loop: it must come straight back.
        second_returned = SendMessageTimeoutW(Window(), ui::Tray().callback_message(), ui::Tray().id(), WM_RBUTTONUP,
                                              SMTO_NORMAL, kWait, &result) != 0;
        Sleep(200);
        popups_during = CountProcessWindows(L"#32768");
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    Click(WM_RBUTTONUP);
    ASSERT_TRUE(watcher.Join(kWait));
    ASSERT_TRUE(found);
    EXPECT_TRUE(second_returned);
    EXPECT_EQ(popups_during, 1) << "a second popup was opened";
    EXPECT_TRUE(g_opened.empty());
    EXPECT_EQ(ui::State().busy, 0);
}

TEST_F(TrayMenuTest, OtherMouseMessagesDoNothing) {
    std::string feed = FeedFile("f.xml", Rss("<title>T</title><link>http://example.com/</link>", ""));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();
    for (LPARAM message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK,
                           WM_MOUSEMOVE, WM_MBUTTONUP}) {
        SCOPED_TRACE(message);
        EXPECT_EQ(Click(message), 0);
        PumpPending();
        EXPECT_EQ(CountProcessWindows(L"#32768"), 0);
    }
    EXPECT_TRUE(g_opened.empty());
}

TEST_F(TrayMenuTest, TrayOptionOffMeansNoIconAndNoMenu) {
    std::string feed = FeedFile("f.xml", Rss("<title>T</title>", ""));
    Register({{"f", feed}});
    Options(0);
    StartPlugin();
    EXPECT_EQ(ui::State().article_menu, nullptr);
    EXPECT_EQ(Count(NIM_ADD), 0);
    ASSERT_NE(Window(), nullptr);
    EXPECT_TRUE(IsWindow(Window()));
    EXPECT_FALSE(IsWindowVisible(Window()));
    Click(WM_RBUTTONUP);
    EXPECT_EQ(CountProcessWindows(L"#32768"), 0);
    // Without a menu an icon would do nothing: Explorer's restart brings
    // none back.
    SendMessageW(Window(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_EQ(Count(NIM_ADD), 0);
    EXPECT_NE(PluginFree(false), 0);
    EXPECT_EQ(Count(NIM_DELETE), 1) << "Free removes the icon whatever the option";
    EXPECT_FALSE(IsWindow(Window()));
}

TEST_F(TrayMenuTest, ExplorersRestartAddsTheSameIconAgain) {
    std::string feed = FeedFile("f.xml", Rss("<title>T</title>", ""));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();
    ASSERT_EQ(Count(NIM_ADD), 1);
    Notification first = g_notifications.back();
    EXPECT_EQ(first.id, ui::Tray().id());
    EXPECT_NE(first.id, 0u);
    EXPECT_EQ(first.window, Window());
    EXPECT_EQ(first.flags, 7u);
    EXPECT_EQ(first.callback, RegisterWindowMessageA("FEEDLET_NOTIFYICON_MESSAGE By Marlun"));
    EXPECT_NE(first.icon, nullptr);
    EXPECT_EQ(first.tip, "Quorvel - RSS\x8F\xEE\x95\xF1\x8E\xE6\x93\xBE\x83v\x83\x89\x83O\x83" "C\x83\x93");
    EXPECT_EQ(first.size, static_cast<DWORD>(NOTIFYICONDATAA_V2_SIZE));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(first.size, 488u);
    }

    g_notifications.clear();
    SendMessageW(Window(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    ASSERT_EQ(Count(NIM_ADD), 1);
    const Notification& again = g_notifications.back();
    EXPECT_EQ(again.id, first.id);
    EXPECT_EQ(again.window, first.window);
    EXPECT_EQ(again.tip, first.tip);
    EXPECT_EQ(again.icon, first.icon);
    EXPECT_EQ(again.callback, first.callback);
    EXPECT_NE(Top(), nullptr) << "the menu still works";
}

TEST_F(TrayMenuTest, TheSettingsFollowUpShowsAndRemovesTheTray) {
    std::string feed = FeedFile("f.xml", Rss("<title>T</title>", Item("a", "http://x/a", RssDate(kNow - 60))));
    Register({{"f", feed}});
    Options(0);
    WriteFile(plugin.host() + "QVL_Data.ini",
              "[TimeZone001]\r\nSName=UTC\r\nName=UTC\r\n[TimeZone002]\r\nSName=TYO\r\nName=Tokyo\r\nHour=9\r\n");
    StartPlugin();
    PluginState& state = Plugin();
    ASSERT_EQ(state.time_zones.Count(), 2u);

    // Turned on: the menu is built and the icon shown.
    state.options = 1;
    int result = ui::ApplyTrayOption(false, nullptr, 7);
    ASSERT_NE(ui::State().article_menu, nullptr);
    EXPECT_EQ(Count(NIM_ADD), 1);
    EXPECT_EQ(result, g_notifications.back().result ? 1 : 0) << "the add's result";
    EXPECT_EQ(MenuLines(Top()), Lines({"popup f"}));

    // Still on, same zone: nothing happens, the dialog's result comes back.
    g_notifications.clear();
    EXPECT_EQ(ui::ApplyTrayOption(true, nullptr, 7), 7);
    EXPECT_TRUE(g_notifications.empty());

    // Still on, another zone: rebuilt with the zone's times.
    HMENU before = Top();
    state.menu_time_zone = state.time_zones.At<TimeZoneEntry>(1);
    ui::ApplyTrayOption(true, nullptr, 7);
    EXPECT_NE(Top(), before);
    EXPECT_EQ(Count(NIM_ADD), 1);

    // Turned off: menu and icon go.
    g_notifications.clear();
    state.options = 0;
    result = ui::ApplyTrayOption(true, state.menu_time_zone, 7);
    EXPECT_EQ(ui::State().article_menu, nullptr);
    ASSERT_EQ(Count(NIM_DELETE), 1);
    EXPECT_EQ(result, g_notifications.back().result ? 1 : 0) << "the remove's result";
    // Off before and after: nothing.
    g_notifications.clear();
    EXPECT_EQ(ui::ApplyTrayOption(false, state.menu_time_zone, 7), 7);
    EXPECT_TRUE(g_notifications.empty());
}

TEST_F(TrayMenuTest, CommittedFeedEditsRebuildTheWholeMenu) {
    std::vector<std::pair<std::string, std::string>> feeds;
    for (const char* name : {"a", "b", "c"})
        feeds.push_back({name, FeedFile(std::string(name) + ".xml", Rss("<title>T</title>", ""))});
    Register(feeds);
    Options(1);
    StartPlugin();
    ASSERT_EQ(MenuLines(Top()), Lines({"popup a", "popup b", "popup c"}));
    Plugin().feeds.At<FeedEntry>(1)->edit_mark = kEditDeleted;
    EXPECT_EQ(CommitFeedEdits(Plugin(), Plugin().plugin_lock, 1), 1);
    ui::RebuildArticleMenu();
    EXPECT_EQ(MenuLines(Top()), Lines({"popup a", "popup c"}));
    for (const MenuNode* feed : ui::State().article_menu->model().root().children.As<MenuNode>()) {
        bool live = false;
        for (FeedEntry* entry : Plugin().feeds.As<FeedEntry>()) live |= entry->crawler == feed->crawler;
        EXPECT_TRUE(live) << "a submenu refers to a destroyed crawler";
    }
}

// Once, end to end: the entry chosen in the real popup goes through
// ShellExecuteW to Wine's browser launcher, whose browser is a script that
// records what it was asked to open.
TEST_F(TrayMenuTest, AChosenLinkReachesTheBrowser) {
    char prefix[MAX_PATH] = {};
    ASSERT_NE(GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH), 0u) << "runs under Wine with its prefix";
    std::string log = std::string(prefix) + "/feedlet-browser.log";
    DeleteFileA(log.c_str());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    const char* browser = FEEDLET_RECORD_BROWSER;
    RegSetValueExA(key, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(browser),
                   static_cast<DWORD>(std::strlen(browser) + 1));
    ui::SetLinkOpener(nullptr);  // the plugin's own opener: ShellExecuteW

    std::string feed = FeedFile("f.xml", Rss("<title>T</title><link>https://example.com/home?a=1&amp;b=2</link>", ""));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();
    ASSERT_EQ(FeedLines(0).size(), 1u) << "the start-up fetch never reached the menu";
    bool walked = false;
    Watcher watcher([&] {
        HWND popup = WaitForWindow(L"#32768", nullptr, kWait);
        if (!popup) return;
        HMENU shown = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
        HMENU feed_menu = GetSubMenu(shown, 0);
        walked = WalkPopup(popup, {{VK_DOWN, shown, 0}, {VK_RIGHT, feed_menu, 0}}, kWait);
        PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
    });
    Click(WM_RBUTTONUP);
    EXPECT_TRUE(watcher.Join(kWait));
    EXPECT_TRUE(walked) << "the keyboard did not move through the menu";
    bool recorded = WaitUntil([&] { return ReadFile(log).find("https://example.com/home?a=1&b=2") != std::string::npos; },
                              20000);
    RegDeleteValueA(key, "Browsers");
    RegCloseKey(key);
    EXPECT_TRUE(recorded) << "the browser launcher was never asked to open the link; log: " << ReadFile(log);
    DeleteFileA(log.c_str());
}

// Every copy of the plugin names its icon by an atom made from its own
// record's address: load two copies of the real DLL and count the atoms.
int CountIconAtoms() {
    int count = 0;
    for (UINT atom = 0xC000; atom <= 0xFFFF; ++atom) {
        char name[256];
        if (GlobalGetAtomNameA(static_cast<ATOM>(atom), name, sizeof name) &&
            std::strncmp(name, "FEEDLET_NOTIFYICON_", 19) == 0)
            ++count;
    }
    return count;
}

TEST(TrayIconTest, TwoCopiesOfThePluginHaveTheirOwnAtoms) {
    TempDir dir;
    std::string first = dir.path() + "Feedlet.qvlp";
    std::string second = dir.path() + "Feedlet2.qvlp";
    ASSERT_TRUE(CopyFileA(FEEDLET_PLUGIN_DLL, first.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(FEEDLET_PLUGIN_DLL, second.c_str(), FALSE));
    int before = CountIconAtoms();
    HMODULE a = LoadLibraryA(first.c_str());
    HMODULE b = LoadLibraryA(second.c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(CountIconAtoms(), before + 2);
    FreeLibrary(a);
    FreeLibrary(b);
    EXPECT_EQ(CountIconAtoms(), before) << "an unloaded copy must delete its atom";
}

TEST(TrayIconTest, RecordsAreFilledAsTheShellExpects) {
    ui::TrayIcon one;
    ui::TrayIcon two;
    EXPECT_NE(one.id(), 0u);
    EXPECT_NE(one.id(), two.id());
    EXPECT_EQ(one.callback_message(), two.callback_message());
    EXPECT_TRUE(one.extended()) << "Wine reports an NT version of 5 or more";
    std::string long_tip(200, 'a');
    long_tip[126] = '\x82';  // a lead byte at the last place: the character must not be cut
    long_tip[127] = '\xA0';
    one.SetTip(long_tip.c_str());
    EXPECT_EQ(std::strlen(one.tip()), 126u);
    one.SetTip("short");
    EXPECT_STREQ(one.tip(), "short");
}

}  // namespace
