// The tray icon, its message window and the article menu as the host's
// user-interface thread runs them: the plugin's real Init and Free with the
// Windows user interface installed, real feeds (files and a local HTTP
// server), real menus read back with the menu APIs, the real popup driven
// with keyboard messages from a watcher thread. What the shell receives and
// what would be opened are recorded at the two seams; one test follows a
// chosen link all the way to Wine's browser launcher.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
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

// Records what the shell was sent and answered; returns the answer.
BOOL Record(DWORD message, PNOTIFYICONDATAA data, BOOL result) {
    g_notifications.push_back({message, data->uID, data->hWnd, data->uFlags, data->uCallbackMessage, data->hIcon,
                               std::string(data->szTip), data->cbSize, result});
    return result;
}

BOOL WINAPI RecordNotification(DWORD message, PNOTIFYICONDATAA data) {
    return Record(message, data, Shell_NotifyIconA(message, data));
}

void RecordOpen(const wchar_t* link) { g_opened.push_back(link); }

// NIM_ADD fails while failing_adds lasts (the shell not ready at logon);
// everything else goes to the shell and is recorded.
int g_failing_adds = 0;
BOOL WINAPI FailingAdds(DWORD message, PNOTIFYICONDATAA data) {
    if (message != NIM_ADD || g_failing_adds <= 0) return RecordNotification(message, data);
    --g_failing_adds;
    return Record(message, data, FALSE);
}

// The shell's answer to an add that timed out while it was busy: failed,
// yet the icon is there, so a modify succeeds.
BOOL WINAPI FailingAddsDoneAllTheSame(DWORD message, PNOTIFYICONDATAA data) {
    if (message != NIM_MODIFY) return FailingAdds(message, data);
    return Record(message, data, TRUE);
}

// Wine's browser launcher (winebrowser) parses the link with CreateUri and
// starts the browser with the URI's display form, in which the escapes of
// unreserved characters are decoded (%41 becomes A, a URL RFC 3986 counts
// as the same); every other escape stays. Windows substitutes the link as it
// is into the browser's registered command.
std::string AsWinesLauncherPassesIt(const std::string& link) {
    auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    for (size_t i = 0; i < link.size(); ++i) {
        if (link[i] == '%' && i + 2 < link.size()) {
            char c = static_cast<char>(hex(link[i + 1]) * 16 + hex(link[i + 2]));
            if (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-._~", c)) {
                out += c;
                i += 2;
                continue;
            }
        }
        out += link[i];
    }
    return out;
}

// Wine's browser launcher, with a script as the browser that writes each
// link it is asked to open as a line of feedlet-browser.log in the prefix.
class RecordingBrowser {
public:
    RecordingBrowser() {
        char prefix[MAX_PATH] = {};
        if (!GetEnvironmentVariableA("WINEPREFIX", prefix, MAX_PATH)) return;  // runs under Wine with its prefix
        log_ = std::string(prefix) + "/feedlet-browser.log";
        DeleteFileA(log_.c_str());
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\WineBrowser", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key_, nullptr) != ERROR_SUCCESS)
            return;
        const char* browser = FEEDLET_RECORD_BROWSER;
        RegSetValueExA(key_, "Browsers", 0, REG_SZ, reinterpret_cast<const BYTE*>(browser),
                       static_cast<DWORD>(std::strlen(browser) + 1));
        ui::SetLinkOpener(nullptr);  // the plugin's own opener: ShellExecuteW
    }
    ~RecordingBrowser() {
        if (key_) {
            RegDeleteValueA(key_, "Browsers");
            RegCloseKey(key_);
        }
        if (!log_.empty()) DeleteFileA(log_.c_str());
    }
    bool ok() const { return key_ != nullptr; }
    std::string Log() const { return ReadFile(log_); }
    // Waits until every link has been recorded (20 s each at most: the
    // launcher starts a process per link); the log's lines.
    std::vector<std::string> WaitFor(const std::vector<std::string>& links) const {
        for (const std::string& link : links)
            WaitUntil([&] { return (Log() + "\n").find(link + "\n") != std::string::npos; }, 20000);
        std::vector<std::string> lines;
        std::string log = Log();
        for (size_t start = 0, end; start < log.size(); start = end + 1) {
            end = log.find('\n', start);
            if (end == std::string::npos) end = log.size();
            lines.push_back(log.substr(start, end - start));
        }
        return lines;
    }

private:
    std::string log_;
    HKEY key_ = nullptr;
};

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
    // Right-clicks the icon and, from a watcher thread, goes into the first
    // feed's submenu, down to each of positions in turn (the menu skips the
    // separator), and chooses the entry reached.
    struct PopupWalk {
        bool finished = false;  // the watcher ended in time
        bool walked = false;    // every key showed its effect
    };
    PopupWalk ChooseInFirstFeed(const std::vector<int>& positions) {
        PopupWalk walk;
        Watcher watcher([&] {
            HWND popup = WaitForWindow(L"#32768", nullptr, kWait);
            if (!popup) return;
            HMENU shown = PopupMenuOf(popup);
            HMENU feed_menu = GetSubMenu(shown, 0);
            std::vector<MenuKey> keys = {{VK_DOWN, shown, 0}, {VK_RIGHT, feed_menu, 0}};
            for (int position : positions) keys.push_back({VK_DOWN, feed_menu, position});
            walk.walked = WalkPopup(popup, keys, kWait);
            PostMessageW(popup, WM_KEYDOWN, VK_RETURN, 0);
        });
        Click(WM_RBUTTONUP);
        walk.finished = watcher.Join(kWait);
        return walk;
    }
    // One feed and the tray option on, with the shell failing the first
    // failing adds (not ready yet at logon).
    void StartWithFailingAdds(int failing) {
        Register({{"f", FeedFile("f.xml", Rss("<title>T</title>", ""))}});
        Options(1);
        g_failing_adds = failing;
        ui::TrayIcon::SetNotifyFunction(FailingAdds);
        StartPlugin();
    }
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
        shown = PopupMenuOf(popup);
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
    bool caught_up = false;
    int popups_during = 0;
    Watcher watcher([&] {
        HWND popup = WaitForWindow(L"#32768", nullptr, kWait);
        if (!popup) return;
        found = true;
        DWORD_PTR result = 0;
        // Dispatched inside the popup's own loop: it must come straight back.
        second_returned = SendMessageTimeoutW(Window(), ui::Tray().callback_message(), ui::Tray().id(), WM_RBUTTONUP,
                                              SMTO_NORMAL, kWait, &result) != 0;
        // A key posted now is handled after whatever the second click left
        // queued: once it shows, a popup that click led to would be open.
        caught_up = WalkPopup(popup, {{VK_DOWN, PopupMenuOf(popup), 0}}, kWait);
        popups_during = CountProcessWindows(L"#32768");
        PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    Click(WM_RBUTTONUP);
    ASSERT_TRUE(watcher.Join(kWait));
    ASSERT_TRUE(found);
    EXPECT_TRUE(second_returned);
    EXPECT_TRUE(caught_up) << "the popup did not take the key";
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
    EXPECT_EQ(first.tip, Cp932(u"Quorvel - RSS情報取得プラグイン"));
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
    RecordingBrowser browser;
    ASSERT_TRUE(browser.ok()) << "runs under Wine with its prefix";
    std::string feed = FeedFile("f.xml", Rss("<title>T</title><link>https://example.com/home?a=1&amp;b=2</link>", ""));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();
    ASSERT_EQ(FeedLines(0).size(), 1u) << "the start-up fetch never reached the menu";
    PopupWalk walk = ChooseInFirstFeed({});
    EXPECT_TRUE(walk.finished);
    EXPECT_TRUE(walk.walked) << "the keyboard did not move through the menu";
    EXPECT_EQ(browser.WaitFor({"https://example.com/home?a=1&b=2"}), Lines({"https://example.com/home?a=1&b=2"}))
        << "the browser launcher was not asked to open the link once";
}

// A feed's link goes to the shell only in a form that cannot leave its
// place on the browser's command line; one that could split a line does not
// go at all. The refused link comes first, so it would have been launched
// before the others were recorded.
TEST_F(TrayMenuTest, HostileLinksReachTheBrowserEncodedOrNotAtAll) {
    const char16_t* links[] = {
        u"http://example.com/split\r\n--flag",
        u"http://example.com/lf\nx",
        u"http://example.com/a b",
        u"http://example.com/\" --flag \"x",
        u"http://example.com/%41%2F?q=\"1\"&r=<2>",
        u"http://example.com/日本語?q=é",
    };
    std::vector<std::string> expected = {
        "http://example.com/a%20b",
        "http://example.com/%22%20--flag%20%22x",
        "http://example.com/%41%2F?q=%221%22&r=%3C2%3E",
        "http://example.com/%E6%97%A5%E6%9C%AC%E8%AA%9E?q=%C3%A9",
    };
    // What the plugin hands to ShellExecuteW.
    for (const char16_t* link : links) ui::OpenLink(link);
    std::vector<std::string> opened;
    for (const std::wstring& link : g_opened) opened.push_back(Utf8(link));
    EXPECT_EQ(opened, expected);

    // What the browser is started with.
    RecordingBrowser browser;
    ASSERT_TRUE(browser.ok()) << "runs under Wine with its prefix";
    for (const char16_t* link : links) ui::OpenLink(link);
    std::vector<std::string> launched;
    for (const std::string& link : expected) launched.push_back(AsWinesLauncherPassesIt(link));
    std::vector<std::string> recorded = browser.WaitFor(launched);
    std::sort(recorded.begin(), recorded.end());
    std::sort(launched.begin(), launched.end());
    EXPECT_EQ(recorded, launched) << "each link once, as encoded, and nothing else";
}

// Commands are 16-bit menu identifiers that go round: after a day's worth
// of rebuilds the entries carry reused commands, and choosing one still
// opens its own link.
TEST_F(TrayMenuTest, ChoosingAnEntryAfterTheCommandsWrappedOpensItsLink) {
    std::string items;
    for (int i = 0; i < 20; ++i)
        items += Item("article " + std::to_string(i), "http://example.com/" + std::to_string(i), "");
    std::string feed = FeedFile("f.xml", Rss("<title>T</title><link>http://example.com/</link>", items));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();
    ASSERT_EQ(FeedLines(0).size(), 22u) << "the start-up fetch never reached the menu";
    ui::ArticleMenu& menu = *ui::State().article_menu;
    FeedCrawler* crawler = Plugin().feeds.At<FeedEntry>(0)->crawler;
    auto third = [&] { return menu.model().root().children.At<MenuNode>(0)->children.At<MenuNode>(4); };
    uint32_t before = third()->command;
    int rebuilds = 0;
    for (uint32_t previous = 0; third()->command > previous && rebuilds < 4000; ++rebuilds) {
        previous = third()->command;
        ASSERT_EQ(menu.RebuildFeedMenu(crawler, nullptr), ArticleMenuModel::Refresh::kRebuilt);
    }
    ASSERT_LT(third()->command, 0x100u) << "the commands did not come round in " << rebuilds << " rebuilds";
    EXPECT_NE(third()->command, before);
    HMENU feed_menu = GetSubMenu(Top(), 0);
    EXPECT_EQ(GetMenuItemID(feed_menu, 4), third()->command);
    EXPECT_EQ(MenuLines(feed_menu)[4], "item ----- article 2");

    PopupWalk walk = ChooseInFirstFeed({2, 3, 4});
    ASSERT_TRUE(walk.finished);
    EXPECT_TRUE(walk.walked) << "the keyboard did not move through the menu";
    ASSERT_EQ(g_opened.size(), 1u);
    EXPECT_EQ(Utf8(g_opened[0]), "http://example.com/2");
    RecordProperty("rebuilds", rebuilds);
}

// At logon the clock may start before the notification area is ready: the
// add fails, and the message window's timer tries again until the shell
// takes the icon.
TEST_F(TrayMenuTest, AFailedAddIsTriedAgainUntilTheShellTakesIt) {
    StartWithFailingAdds(1);
    ASSERT_EQ(Count(NIM_ADD), 1);
    EXPECT_FALSE(g_notifications.front().result);
    EXPECT_EQ(ui::State().tray_add_tries, ui::kTrayAddTries);
    // The timer's own tick, a few seconds later.
    ASSERT_TRUE(PumpUntil([&] { return Count(NIM_ADD) == 2; }, 3 * ui::kTrayAddMilliseconds))
        << "the add was not tried again";
    const Notification& added = g_notifications.back();
    EXPECT_EQ(added.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(added.id, ui::Tray().id());
    EXPECT_EQ(added.window, Window());
    EXPECT_EQ(added.icon, ui::State().icon);
    EXPECT_EQ(added.flags, 7u);
    EXPECT_TRUE(added.result) << "Wine's notification area did not take the icon";
    EXPECT_EQ(ui::State().tray_add_tries, 0) << "taken: no more tries";
    EXPECT_FALSE(KillTimer(Window(), ui::kTrayAddTimer)) << "taken: the timer is gone";
}

// The tries are bounded, stop when the option goes off, and a modify that
// finds the icon (an add the shell reported as failed but did) ends them.
TEST_F(TrayMenuTest, TheRetriesAreBoundedAndStopWhenTheOptionGoesOff) {
    StartWithFailingAdds(1000);
    // The timer's ticks, sent at once instead of every few seconds.
    auto tick = [&] { SendMessageW(Window(), WM_TIMER, ui::kTrayAddTimer, 0); };
    for (int i = 0; i < ui::kTrayAddTries + 20; ++i) tick();
    EXPECT_EQ(Count(NIM_ADD), 1 + ui::kTrayAddTries);
    EXPECT_EQ(Count(NIM_MODIFY), ui::kTrayAddTries) << "each try first looks for an icon already there";
    EXPECT_FALSE(KillTimer(Window(), ui::kTrayAddTimer)) << "the tries are spent: no timer left";

    // Explorer's restart starts a new round; the option turned off ends it.
    g_notifications.clear();
    SendMessageW(Window(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_EQ(Count(NIM_ADD), 1);
    EXPECT_EQ(ui::State().tray_add_tries, ui::kTrayAddTries);
    Plugin().options = 0;
    ui::ApplyTrayOption(true, Plugin().menu_time_zone, 7);
    EXPECT_EQ(ui::State().tray_add_tries, 0);
    EXPECT_FALSE(KillTimer(Window(), ui::kTrayAddTimer)) << "the option is off: no timer left";
    g_notifications.clear();
    for (int i = 0; i < 5; ++i) tick();
    EXPECT_TRUE(g_notifications.empty()) << "nothing is tried once the option is off";

    // On again, the add fails, and a modify finds the icon there.
    Plugin().options = 1;
    g_failing_adds = 1;
    ui::TrayIcon::SetNotifyFunction(FailingAddsDoneAllTheSame);
    ui::ApplyTrayOption(false, Plugin().menu_time_zone, 7);
    EXPECT_EQ(ui::State().tray_add_tries, ui::kTrayAddTries);
    tick();
    EXPECT_EQ(ui::State().tray_add_tries, 0) << "the icon was found: no more tries";
    EXPECT_EQ(Count(NIM_ADD), 1);
    EXPECT_EQ(Count(NIM_MODIFY), 1);
}

// The icon is loaded at the size the notification area asks for, from an
// image of that size; Free removes it from the shell and destroys it, and a
// later Init in the same loaded copy builds the tray anew.
TEST_F(TrayMenuTest, FreeTakesTheTrayDownAndInitBuildsItAgain) {
    std::string feed = FeedFile("f.xml", Rss("<title>T</title>", Item("a", "http://x/a", "")));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();
    HICON icon = ui::State().icon;
    ASSERT_NE(icon, nullptr);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP bitmap{};
    ASSERT_TRUE(GetObjectW(info.hbmColor, sizeof bitmap, &bitmap));
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXSMICON));
    EXPECT_EQ(bitmap.bmHeight, GetSystemMetrics(SM_CYSMICON));
    EXPECT_EQ(bitmap.bmBitsPixel, 32) << "drawn from the 32-bit image";
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    std::vector<std::string> lines = FeedLines(0);
    HWND window = Window();

    g_notifications.clear();
    EXPECT_NE(PluginFree(false), 0);
    EXPECT_EQ(Count(NIM_DELETE), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(ui::State().icon, nullptr);
    EXPECT_EQ(ui::State().article_menu, nullptr);
    ICONINFO gone{};
    EXPECT_FALSE(GetIconInfo(icon, &gone)) << "Free destroys the icon it loaded";

    StartPlugin();
    ASSERT_NE(Window(), nullptr);
    EXPECT_TRUE(IsWindow(Window()));
    EXPECT_NE(ui::State().icon, nullptr);
    EXPECT_EQ(Count(NIM_ADD), 1);
    EXPECT_EQ(g_notifications.back().window, Window());
    EXPECT_EQ(MenuLines(Top()), Lines({"popup f"}));
    EXPECT_EQ(FeedLines(0), lines);
}

// An unload without Free runs under the loader lock: the detach frees what
// is left without sending anything to Explorer. At process exit it does not
// even touch the windows.
TEST_F(TrayMenuTest, TheDetachSendsNothingToTheShell) {
    std::string feed = FeedFile("f.xml", Rss("<title>T</title>", ""));
    Register({{"f", feed}});
    Options(1);
    StartPlugin();
    HWND window = Window();
    g_notifications.clear();
    PluginDetach(false);
    EXPECT_TRUE(g_notifications.empty()) << "no Shell_NotifyIcon under the loader lock";
    EXPECT_FALSE(IsWindow(window)) << "the window's procedure goes with the module: the window goes first";
    EXPECT_EQ(Plugin().feeds.Count(), 0u);

    StartPlugin();
    window = Window();
    g_notifications.clear();
    PluginDetach(true);
    EXPECT_TRUE(g_notifications.empty());
    EXPECT_TRUE(IsWindow(window)) << "at process exit nothing is sent, not even to the window";
    DestroyWindow(window);
    // The schedule thread was only asked to stop, as the system would have
    // ended it; it must be gone before the next test starts another.
    EXPECT_TRUE(CrawlerWorkers().WaitIdle(kWait));
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

// The icon resource of the product holds the small-icon sizes of 100 to
// 200 % scaling and the large one, each in 32-bit colour with an alpha
// channel, and Windows finds each size exactly.
TEST(TrayIconTest, TheIconResourceHoldsEverySize) {
    HMODULE dll = LoadLibraryExA(FEEDLET_PLUGIN_DLL, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(dll, nullptr);
    HRSRC group = FindResourceW(dll, MAKEINTRESOURCEW(117), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    auto* directory = static_cast<BYTE*>(LockResource(LoadResource(dll, group)));
    ASSERT_NE(directory, nullptr);
    WORD count = 0;
    std::memcpy(&count, directory + 4, 2);
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        // GRPICONDIRENTRY: 14 packed bytes after the 6-byte header.
        const BYTE* entry = directory + 6 + 14 * i;
        WORD bits = 0;
        WORD id = 0;
        std::memcpy(&bits, entry + 6, 2);
        std::memcpy(&id, entry + 12, 2);
        int size = entry[0];
        SCOPED_TRACE(size);
        sizes.push_back(size);
        EXPECT_EQ(entry[1], entry[0]);
        EXPECT_EQ(bits, 32);
        HRSRC image = FindResourceW(dll, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(3));  // RT_ICON
        ASSERT_NE(image, nullptr);
        auto* header = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(dll, image)));
        ASSERT_NE(header, nullptr);
        EXPECT_EQ(header->biWidth, size);
        EXPECT_EQ(header->biHeight, 2 * size) << "the colour image and its mask";
        EXPECT_EQ(header->biBitCount, 32);
        // The alpha channel: corners all but clear, an opaque middle, soft
        // edges.
        const BYTE* pixels = reinterpret_cast<const BYTE*>(header) + header->biSize;
        int opaque = 0, soft = 0;
        for (int p = 0; p < size * size; ++p) {
            BYTE alpha = pixels[4 * p + 3];
            opaque += alpha == 255;
            soft += alpha != 0 && alpha != 255;
        }
        EXPECT_LT(pixels[3], 32) << "the corner";
        EXPECT_GT(opaque, size * size / 2);
        EXPECT_GT(soft, 0);
        // Asked for this size, Windows picks this image.
        EXPECT_EQ(LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR), id);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 48}));
    FreeLibrary(dll);
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
