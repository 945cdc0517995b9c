#include "menu/article_menu.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/encoding.h"
#include "feed/feed_document.h"
#include "fetch/feed_crawler.h"
#include "text/time_utils.h"

namespace feedlet {

namespace {

constexpr char16_t kRootLabel[] = u"_root";
constexpr char16_t kHomePageLabel[] = u"ホームページ(&H)";
constexpr char16_t kNoDatePrefix[] = u"----- ";
constexpr int64_t kOneDay = 86400;
constexpr int64_t kOneYear = 31536000;

void ReleaseMenuNode(void* item, uint32_t, uint32_t) { delete static_cast<MenuNode*>(item); }

// ASCII digits into UTF-16, zero-padded to width.
size_t PutNumber(char16_t* out, int value, int width) {
    char digits[16];
    int n = std::snprintf(digits, sizeof digits, "%0*d", width, value);
    for (int i = 0; i < n; ++i) out[i] = static_cast<char16_t>(digits[i]);
    return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t PutText(char16_t* out, const char16_t* text) {
    size_t n = 0;
    while (text[n]) {
        out[n] = text[n];
        ++n;
    }
    return n;
}

// Characters that may stand in a URL as they are: RFC 3986's unreserved and
// reserved ones ('%' is handled on its own).
bool StandsInUrl(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')) return true;
    for (const char16_t* p = u"-._~:/?#[]@!$&'()*+,;="; *p; ++p)
        if (*p == c) return true;
    return false;
}

bool IsHexDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

void PutEscape(std::u16string& out, uint32_t byte) {
    static const char16_t kHex[] = u"0123456789ABCDEF";
    out += u'%';
    out += kHex[(byte >> 4) & 0xF];
    out += kHex[byte & 0xF];
}

}  // namespace

MenuNode::MenuNode() : children(ReleaseMenuNode, 0) {}

size_t MenuTimePrefix(const FeedTime* time, const TimeZoneEntry* zone, PluginTime now, char16_t* out) {
    CalendarFields fields;
    bool shifted = zone ? ShiftToZone(time, kZoneGiven, zone->offset, &fields)
                        : ShiftToZone(time, kZoneOwn, 0, &fields);
    size_t n = 0;
    if (!shifted) {
        n = PutText(out, kNoDatePrefix);
    } else {
        // The age decides the precision. These conversions of the C
        // library's formatting (%H:%M, %m/%d, %Y) are digits in every locale.
        int64_t age = static_cast<int64_t>(time->when) - static_cast<int64_t>(now);
        if (age < 0) age = -age;
        if (age <= kOneDay) {
            n += PutNumber(out + n, fields.hour, 2);
            out[n++] = u':';
            n += PutNumber(out + n, fields.minute, 2);
        } else if (age <= kOneYear) {
            n += PutNumber(out + n, fields.month, 2);
            out[n++] = u'/';
            n += PutNumber(out + n, fields.day, 2);
        } else {
            n += PutNumber(out + n, fields.year, 4);
            out[n++] = u'.';
        }
        out[n++] = u' ';
    }
    out[n] = 0;
    return n;
}

size_t MenuTitle(const char16_t* title, char16_t* out) {
    size_t length = Utf16Length(title);
    size_t kept = length;
    if (length > kMenuTitleLimit) {
        kept = kMenuTitleKept;
        // Half a surrogate pair would show as a broken character.
        if (IsHighSurrogate(title[kept - 1])) --kept;
    }
    std::memcpy(out, title, kept * sizeof(char16_t));
    size_t n = kept;
    if (kept < length) n += PutText(out + n, u"...");
    out[n] = 0;
    return n;
}

void ArticleLabel(const FeedTime* time, const char16_t* title, const TimeZoneEntry* zone, PluginTime now,
                  char16_t (&out)[kMenuLabelCapacity]) {
    size_t n = MenuTimePrefix(time, zone, now, out);
    MenuTitle(title, out + n);
}

bool IsOpenableLink(const char16_t* link) {
    if (!link) return false;
    return StartsWithIgnoringAsciiCase(link, u"http://") || StartsWithIgnoringAsciiCase(link, u"https://");
}

bool EncodeLinkForShell(const char16_t* link, size_t length, std::u16string& out) {
    out.clear();
    if (!link) return false;
    for (size_t i = 0; i < length; ++i)
        if (link[i] == u'\r' || link[i] == u'\n' || link[i] == 0) return false;
    if (!IsOpenableLink(link)) return false;
    try {
        out.reserve(length);
        for (size_t i = 0; i < length;) {
            char16_t c = link[i];
            if (c == u'%') {
                // An escape stays as it is; a lone '%' is escaped itself.
                if (i + 2 < length && IsHexDigit(link[i + 1]) && IsHexDigit(link[i + 2])) out += c;
                else PutEscape(out, '%');
                ++i;
            } else if (c < 0x80) {
                if (StandsInUrl(c)) out += c;
                else PutEscape(out, c);
                ++i;
            } else {
                // Beyond ASCII: the UTF-8 bytes, as browsers send them.
                uint32_t code_point = 0;
                i += NextUtf16(link + i, &code_point);
                if (IsSurrogate(code_point)) code_point = 0xFFFD;
                char bytes[4];
                size_t n = EncodeUtf8(code_point, bytes);
                for (size_t b = 0; b < n; ++b) PutEscape(out, static_cast<unsigned char>(bytes[b]));
            }
        }
    } catch (...) {
        out.clear();
        return false;
    }
    return true;
}

ArticleMenuModel::ArticleMenuModel() {
    root_ = NewNode(MenuNodeKind::kRoot);
    if (root_) root_->label.AssignWide(kRootLabel);
}

ArticleMenuModel::~ArticleMenuModel() {
    if (root_) Forget(root_);
    delete root_;
}

MenuNode* ArticleMenuModel::NewNode(MenuNodeKind kind) {
    if (nodes_.size() >= kMaxMenuCommand) return nullptr;
    auto* node = new (std::nothrow) MenuNode;
    if (!node) return nullptr;
    node->kind = kind;
    // Commands go round 1..0xFFFF from the last one given, skipping those in
    // use: a live command is never given twice, and one whose node is gone
    // finds nothing until the round comes back to it (a day or more of
    // rebuilds). A free command exists, so the walk ends.
    uint32_t command = next_command_;
    while (nodes_.count(command)) command = command == kMaxMenuCommand ? 1 : command + 1;
    next_command_ = command == kMaxMenuCommand ? 1 : command + 1;
    node->command = command;
    try {
        nodes_.emplace(node->command, node);
    } catch (...) {
        delete node;
        return nullptr;
    }
    return node;
}

void ArticleMenuModel::Forget(MenuNode* node) {
    nodes_.erase(node->command);
    for (MenuNode* child : node->children.As<MenuNode>())
        if (child) Forget(child);
}

void ArticleMenuModel::ClearChildren(MenuNode* node) {
    for (MenuNode* child : node->children.As<MenuNode>())
        if (child) Forget(child);
    node->children.Clear();
}

bool ArticleMenuModel::Append(MenuNode* parent, MenuNode* child) {
    if (!child) return false;
    if (!parent->children.Append(child)) {
        Forget(child);
        delete child;
        return false;
    }
    return true;
}

void ArticleMenuModel::Build(const ItemList& feeds, const TimeZoneEntry* menu_zone, PluginTime now) {
    if (!root_) return;
    ClearChildren(root_);
    for (const FeedEntry* entry : feeds.As<FeedEntry>()) {
        if (!entry) continue;
        MenuNode* feed = NewNode(MenuNodeKind::kSubmenu);
        if (!feed) continue;
        feed->label.AssignNarrow(entry->name);
        feed->crawler = entry->crawler;
        if (!Append(root_, feed)) continue;
        FillFeed(feed, menu_zone, now);
    }
}

ArticleMenuModel::Refresh ArticleMenuModel::RebuildFeed(FeedCrawler* crawler, const TimeZoneEntry* menu_zone,
                                                        PluginTime now, MenuNode** node) {
    if (node) *node = nullptr;
    if (!crawler || !root_) return Refresh::kNotListed;
    for (MenuNode* feed : root_->children.As<MenuNode>()) {
        if (!feed || feed->crawler != crawler) continue;
        if (node) *node = feed;
        FillFeed(feed, menu_zone, now);
        return feed->stale ? Refresh::kBusy : Refresh::kRebuilt;
    }
    return Refresh::kNotListed;
}

void ArticleMenuModel::MarkStale(FeedCrawler* crawler) {
    if (!crawler || !root_) return;
    for (MenuNode* feed : root_->children.As<MenuNode>()) {
        if (feed && feed->crawler == crawler) {
            feed->stale = true;
            return;
        }
    }
}

bool ArticleMenuModel::RebuildStale(const TimeZoneEntry* menu_zone, PluginTime now) {
    bool clean = true;
    if (!root_) return clean;
    for (MenuNode* feed : root_->children.As<MenuNode>()) {
        if (!feed || !feed->stale) continue;
        FillFeed(feed, menu_zone, now);
        if (feed->stale) clean = false;
    }
    return clean;
}

const MenuNode* ArticleMenuModel::Find(uint32_t command) const {
    auto found = nodes_.find(command);
    return found == nodes_.end() ? nullptr : found->second;
}

void ArticleMenuModel::FillFeed(MenuNode* feed, const TimeZoneEntry* menu_zone, PluginTime now) {
    FeedCrawler* crawler = feed->crawler;
    if (!crawler) {
        ClearChildren(feed);
        feed->stale = false;
        return;
    }
    // Never wait for a fetch here: this thread may be the one a commit or
    // Free needs. A busy feed keeps what it shows and is tried again.
    if (!TryLock(crawler)) {
        feed->stale = true;
        return;
    }
    ClearChildren(feed);
    if (crawler->document) FillFromDocument(feed, *crawler->document, menu_zone, now);
    Unlock(crawler);
    feed->stale = false;
}

void ArticleMenuModel::FillFromDocument(MenuNode* feed, const FeedDocument& document,
                                        const TimeZoneEntry* menu_zone, PluginTime now) {
    const FeedArticle& channel = document.channel;
    const char16_t* channel_link = channel.WideText(kMemberLink);
    MenuNode* home = NewNode(channel_link ? MenuNodeKind::kItem : MenuNodeKind::kDisabled);
    if (home) {
        const char16_t* title = channel.WideText(kMemberTitle);
        home->label.AssignWide(title ? title : kHomePageLabel);
        home->link.AssignWide(channel_link);
        Append(feed, home);
    }
    if (!document.articles) return;
    Append(feed, NewNode(MenuNodeKind::kSeparator));

    int32_t index = 0;
    for (const FeedArticle* article : document.articles->As<FeedArticle>()) {
        ++index;
        if (!article) continue;
        const char16_t* link = article->WideText(kMemberLink);
        MenuNode* entry = NewNode(link ? MenuNodeKind::kItem : MenuNodeKind::kDisabled);
        if (!entry) continue;
        char16_t label[kMenuLabelCapacity];
        if (const char16_t* title = article->WideText(kMemberTitle)) {
            ArticleLabel(article->Time(), title, menu_zone, now, label);
        } else {
            char narrow[16];
            std::snprintf(narrow, sizeof narrow, "Item%03d", static_cast<int>(index));
            size_t i = 0;
            for (; narrow[i]; ++i) label[i] = static_cast<char16_t>(narrow[i]);
            label[i] = 0;
        }
        entry->label.AssignWide(label);
        entry->link.AssignWide(link);
        Append(feed, entry);
    }
}

}  // namespace feedlet
