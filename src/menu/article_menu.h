// The article menu's model: the tree of MenuNodes behind the tray icon's
// popup (one submenu per registered feed, each listing the feed's home page
// and its articles), the entries' labels, and the way back from a chosen
// command to the entry. It needs no window: src/ui/ mirrors the tree into
// real menus, shows the popup and opens links.
//
// Threads. The tree belongs to one thread, the one that owns the tray's
// message window (the host's user-interface thread), and only that thread
// builds, rebuilds, reads or destroys it. A crawler's worker never touches
// it: its notify callback only posts "feed updated" to that thread, never
// sends (the user-interface thread may itself be waiting for the very
// crawler lock the worker holds, in a commit of feed edits or in Free). The
// thread then rebuilds that feed's submenu, taking the crawler's lock only if
// that needs no waiting: while a fetch runs, the submenu is marked stale and
// tried again later (the fetch's own update follows when it succeeds). Each
// entry keeps its own copy of the link it opens, so choosing an entry never
// reads a document a worker may have released meanwhile. After the feed
// manager commits its edits the whole tree is built again, so no submenu
// refers to a destroyed crawler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "config/configuration.h"
#include "core/item_list.h"
#include "core/plugin_time.h"
#include "core/text_field.h"

namespace feedlet {

struct FeedCrawler;
struct FeedDocument;

enum class MenuNodeKind : uint8_t {
    kItem,       // an enabled entry
    kSubmenu,    // a popup of its own: one feed
    kSeparator,
    kDisabled,   // a grayed entry (nothing to open)
    kRoot,       // no entry of its own: its children go straight into the menu it is inserted into
};

struct MenuNode {
    TextField label;  // narrow (code page 932: feed names) or wide (UTF-16)
    MenuNodeKind kind = MenuNodeKind::kItem;
    // Submenu: the feed's crawler. Only compared and probed on the owning
    // thread; the tree is rebuilt whenever a crawler may have gone.
    FeedCrawler* crawler = nullptr;
    TextField link;                // Item: the entry's own copy of the link it opens (wide)
    void* menu = nullptr;          // the real menu holding the entry; Submenu: its own popup
    uint32_t command = 0;          // 1..kMaxMenuCommand, unique among live nodes
    ItemList children;             // owned MenuNodes, in display order
    bool stale = false;            // Submenu: a rebuild waits for the crawler's lock

    MenuNode();
    MenuNode(const MenuNode&) = delete;
    MenuNode& operator=(const MenuNode&) = delete;
};

// Menu item identifiers are 16-bit values on Windows (WM_COMMAND carries
// them in a word), so commands stay within 1..0xFFFF: at most that many
// nodes are live at once.
constexpr uint32_t kMaxMenuCommand = 0xFFFF;

// Limits of an article label: a 6-unit time prefix and at most 50 units of
// title (longer ones keep 47 and get "...").
constexpr size_t kMenuTitleLimit = 50;
constexpr size_t kMenuTitleKept = 47;

// Room for the longest article label with its terminator.
constexpr size_t kMenuLabelCapacity = 6 + kMenuTitleLimit + 1;

// Writes the time prefix of an article's label ("%H:%M ", "%m/%d ", "%Y. ",
// or "----- " without a usable date), seen in zone (none: the date's own
// zone), into out (room for 7 units); returns its length.
size_t MenuTimePrefix(const FeedTime* time, const TimeZoneEntry* zone, PluginTime now, char16_t* out);
// Appends a title as the menu shows it to out (room for 51 units): whole up
// to 50 units, else its first 47 (46 when the 47th would split a surrogate
// pair) and "..."; returns the number of units written.
size_t MenuTitle(const char16_t* title, char16_t* out);
// The whole label of an article with a title: prefix and title part.
void ArticleLabel(const FeedTime* time, const char16_t* title, const TimeZoneEntry* zone, PluginTime now,
                  char16_t (&out)[kMenuLabelCapacity]);
// True for the links the menu hands to the shell: http:// and https://,
// ASCII case ignored. Anything else (file:, javascript:, mailto:, UNC and
// local paths, program names, an empty link) is never opened.
bool IsOpenableLink(const char16_t* link);
// The form in which an openable link goes to the shell, which puts it on the
// browser's command line: every character that may not stand in a URL as it
// is becomes a %XX escape (controls, space, " < > \ ^ ` { | }, and
// everything beyond ASCII as its UTF-8 bytes, a lone surrogate as U+FFFD's),
// as does a '%' that starts no escape; escapes already there stay. False,
// with out empty, for a link IsOpenableLink refuses, one holding CR, LF or
// NUL (a command line or a request could be split there), or when memory
// runs out. link holds length units and a terminator after them.
bool EncodeLinkForShell(const char16_t* link, size_t length, std::u16string& out);

class ArticleMenuModel {
public:
    ArticleMenuModel();
    ~ArticleMenuModel();
    ArticleMenuModel(const ArticleMenuModel&) = delete;
    ArticleMenuModel& operator=(const ArticleMenuModel&) = delete;

    // Discards the tree and builds it anew from feeds: one submenu per entry
    // (label: the display name), filled from its crawler's document. A feed
    // whose crawler is busy gets an empty, stale submenu.
    void Build(const ItemList& feeds, const TimeZoneEntry* menu_zone, PluginTime now);

    enum class Refresh {
        kRebuilt,    // the submenu now shows the crawler's current document
        kBusy,       // a fetch holds the lock: marked stale, nothing changed
        kNotListed,  // no submenu shows this crawler (null, or registered after the last build)
    };
    // Fills the first submenu showing crawler anew; its label and every other
    // submenu stay as they are. *node (when given) receives that submenu.
    Refresh RebuildFeed(FeedCrawler* crawler, const TimeZoneEntry* menu_zone, PluginTime now,
                        MenuNode** node = nullptr);
    // Marks the first submenu showing crawler stale without changing it.
    void MarkStale(FeedCrawler* crawler);
    // Rebuilds every stale submenu that can be locked now; true when none is
    // left stale.
    bool RebuildStale(const TimeZoneEntry* menu_zone, PluginTime now);

    // The live node with this command, or null (0, a command of a destroyed
    // node not given out again yet, or one never given out).
    const MenuNode* Find(uint32_t command) const;
    MenuNode& root() { return *root_; }
    const MenuNode& root() const { return *root_; }
    size_t NodeCount() const { return nodes_.size(); }

private:
    // A node with a free command, or null when memory ran out or every
    // command is in use (the node is then left out of the menu).
    MenuNode* NewNode(MenuNodeKind kind);
    void Forget(MenuNode* node);        // unregisters node and its subtree
    void ClearChildren(MenuNode* node);
    void FillFeed(MenuNode* feed, const TimeZoneEntry* menu_zone, PluginTime now);
    void FillFromDocument(MenuNode* feed, const FeedDocument& document, const TimeZoneEntry* menu_zone,
                          PluginTime now);
    bool Append(MenuNode* parent, MenuNode* child);

    MenuNode* root_ = nullptr;
    std::unordered_map<uint32_t, MenuNode*> nodes_;
    uint32_t next_command_ = 1;
};

}  // namespace feedlet
