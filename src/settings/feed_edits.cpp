#include "settings/feed_edits.h"
#include "settings/feed_check_run.h"

#include <cstdlib>
#include <cstring>

#include "core/codepage.h"
#include "core/encoding.h"
#include "core/ui_text.h"
#include "fetch/feed_builder.h"
#include "fetch/feed_crawler.h"
#include "text/time_utils.h"

namespace feedlet {

namespace {

// The interval list and the list's interval column write no seconds.
constexpr uint32_t kIntervalUnits = kElapsedWeeks | kElapsedDays | kElapsedHours | kElapsedMinutes;

const UiText kSortOn(u"■");
const UiText kSortOff(u"□");

std::string Cut(const char* text, size_t limit) {
    if (!text) return std::string();
    return std::string(text, Cp932Prefix(text, limit));
}

const char* UrlOf(const FeedEntry& entry) {
    const char* url = entry.crawler ? entry.crawler->url.Narrow() : nullptr;
    return url ? url : "";
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

std::u16string Utf16FromCp932(const char* text) {
    char16_t* wide = CodePageToUtf16(platform::kCodePageShiftJis, text ? text : "");
    std::u16string out = wide ? wide : u"";
    free(wide);
    return out;
}

}  // namespace

FeedFields ReadFeedFields(const char* name, const char* url, uint32_t interval, bool sort) {
    FeedFields fields;
    fields.name = Cut(name, kFeedNameBytes);
    fields.url = Cut(url, kFeedUrlBytes);
    fields.interval = interval < kMinimumFeedInterval ? kMinimumFeedInterval : interval;
    fields.sort = sort;
    return fields;
}

const FeedEntry& ShownFeed(const FeedEntry& entry) {
    return (entry.edit_mark == kEditModified && entry.pending) ? *entry.pending : entry;
}

FeedFields FieldsOf(const FeedEntry& entry) {
    const FeedEntry& shown = ShownFeed(entry);
    FeedFields fields;
    fields.name = shown.name;
    fields.url = UrlOf(shown);
    fields.interval = shown.crawler ? shown.crawler->interval : kDefaultFeedInterval;
    fields.sort = shown.crawler && (shown.crawler->flags & kCrawlerSortByTime);
    return fields;
}

bool FeedNameInUse(const ItemList& feeds, const char* name, const FeedEntry* skip) {
    for (const FeedEntry* entry : feeds.As<FeedEntry>()) {
        if (!entry || entry == skip || entry->edit_mark == kEditDeleted) continue;
        if (std::strcmp(ShownFeed(*entry).name, name) == 0) return true;
    }
    return false;
}

FeedFieldProblem CheckFeedFields(const ItemList& feeds, const FeedFields& fields, const FeedEntry* updated) {
    if (fields.name.empty()) return FeedFieldProblem::kNoName;
    if (fields.url.empty()) return FeedFieldProblem::kNoUrl;
    if (FeedNameInUse(feeds, fields.name.c_str(), updated)) return FeedFieldProblem::kNameInUse;
    return FeedFieldProblem::kNone;
}

bool UpdateFeed(FeedEntry& entry, const FeedFields& fields) {
    const FeedEntry& shown = ShownFeed(entry);
    uint8_t flags = fields.sort ? kCrawlerSortByTime : 0;
    bool changed = std::strcmp(shown.name, fields.name.c_str()) != 0 || fields.url != UrlOf(shown) ||
                   !shown.crawler || shown.crawler->interval != fields.interval || shown.crawler->flags != flags;
    if (!changed) return false;
    FeedEntry* copy = NewFeedEntry(fields.name.c_str(), fields.url.c_str(), fields.interval, flags);
    if (!copy) return false;
    // An earlier pending copy goes with its crawler; the entry keeps only the
    // newest edit.
    if (entry.pending) ReleaseConfigItem(entry.pending, kReleaseFeedEntry, 0);
    entry.pending = copy;
    entry.edit_mark = kEditModified;
    return true;
}

int32_t AddFeed(ItemList& feeds, platform::Mutex& plugin_lock, const FeedFields& fields) {
    FeedEntry* entry = NewFeedEntry(fields.name.c_str(), fields.url.c_str(), fields.interval,
                                    fields.sort ? kCrawlerSortByTime : 0);
    if (!entry) return -1;
    entry->edit_mark = kEditAdded;
    int32_t index;
    {
        platform::MutexLock hold(plugin_lock);
        index = static_cast<int32_t>(feeds.Count());
        if (!feeds.Append(entry)) index = -1;
    }
    if (index < 0) ReleaseConfigItem(entry, kReleaseFeedEntry, 0);
    return index;
}

void MarkFeedDeleted(FeedEntry& entry) { entry.edit_mark = kEditDeleted; }

FeedEntry* EntryOfRow(const ItemList& feeds, intptr_t stored_index) {
    if (stored_index < 0 || stored_index >= static_cast<intptr_t>(feeds.Count())) return nullptr;
    FeedEntry* entry = feeds.At<FeedEntry>(static_cast<int32_t>(stored_index));
    return (entry && entry->edit_mark != kEditDeleted) ? entry : nullptr;
}

std::string IntervalText(uint32_t seconds) {
    char text[kElapsedTextCapacity];
    size_t length = ElapsedText(seconds, kIntervalUnits, text, sizeof text);
    return std::string(text, length);
}

FeedRowCells FeedRow(const FeedEntry& entry) {
    const FeedEntry& shown = ShownFeed(entry);
    FeedRowCells cells;
    cells.name = shown.name;
    cells.interval = IntervalText(shown.crawler ? shown.crawler->interval : 0);
    cells.url = UrlOf(shown);
    cells.sort = (shown.crawler && (shown.crawler->flags & kCrawlerSortByTime)) ? kSortOn.Narrow() : kSortOff.Narrow();
    return cells;
}

FeedCheck CheckFeedLocation(const char* location) { return CheckFeedLocation(location, nullptr); }

const char16_t* FeedKindName(int32_t kind) {
    switch (kind) {
        case kFeedRss1:
            return u"RSS1.0";
        case kFeedRss2:
            return u"RSS2.0";
        case kFeedAtom:
            return u"ATOM";
        default:
            return u"不明";
    }
}

DialogMessage FeedFieldMessage(FeedFieldProblem problem) {
    switch (problem) {
        case FeedFieldProblem::kNoName:
            return {u"RSS名を入力して下さい。", u"RSS名未入力"};
        case FeedFieldProblem::kNoUrl:
            return {u"URLを入力して下さい。", u"URL未入力"};
        case FeedFieldProblem::kNameInUse:
            return {u"入力されたRSS名は、既に使用されています。", u"RSS名入力エラー"};
        default:
            return {u"", u""};
    }
}

DialogMessage DeleteQuestion(const char* name) {
    return {u"\"" + Utf16FromCp932(name) + u"\"\r\nこの設定を削除しますか？", u"削除確認"};
}

DialogMessage LeaveQuestion() { return {u"入力したデータを追加・更新せずに終了しますか？", u"終了確認"}; }

DialogMessage FeedCheckMessage(const FeedCheck& check) {
    static constexpr char16_t kCaption[] = u"チェック";
    if (!check.recognised)
        return {u"RSSが認識できません。\r\n存在しないURLか、プラグインで理解できない形式です。", kCaption};
    std::u16string text = u"RSSが正常に認識されました。\r\n";
    if (!check.title.empty()) {
        std::u16string title = check.title;
        if (title.size() > kCheckTitleUnits) {
            size_t keep = kCheckTitleUnits;
            if (IsHighSurrogate(title[keep - 1])) --keep;
            title = title.substr(0, keep) + u"...";
        }
        text += u"タイトル：" + title + u"\r\n";
    }
    text += u"種別：";
    text += FeedKindName(check.kind);
    return {text, kCaption};
}

}  // namespace feedlet
