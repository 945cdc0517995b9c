// What the feed manager dialog decides without a window: how its fields are
// read, the checks Add and Update make, Update's change detection and its
// pending copy, Add's entry, the cells of a row, the way from a row's stored
// index back to its entry, the trial fetch and every text the dialog shows.
// src/ui/feed_manager_dialog.cpp only mirrors this into the real controls.
//
// Everything here runs on the host's user-interface thread. Marks and
// pending copies are touched only there; the one change of the shape of the
// feed list, Add's append, holds plugin_lock because the schedule thread
// walks the list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/configuration.h"
#include "core/item_list.h"
#include "feed/feed_document.h"
#include "platform/platform.h"

namespace feedlet {

// Typing limits of the name and URL fields, in characters.
constexpr int kFeedNameChars = 255;
constexpr int kFeedUrlChars = 4096;
// What is kept of them, in code page 932 bytes: a name fits its 256-byte
// field, a URL the 4096-byte buffer RSS.ini is read into.
constexpr size_t kFeedNameBytes = 254;
constexpr size_t kFeedUrlBytes = 4095;
// The interval the list shows when the dialog opens, and the floor every
// configurer of a crawler keeps.
constexpr uint32_t kDefaultFeedInterval = 1800;
constexpr uint32_t kMinimumFeedInterval = 300;

// The dialog's four fields as a feed's values.
struct FeedFields {
    std::string name;  // code page 932
    std::string url;   // code page 932
    uint32_t interval = kDefaultFeedInterval;
    bool sort = false;  // bit 0 of the crawler's flags
};

// The fields as they are stored: the whole texts (code page 932; null reads
// as empty) cut to kFeedNameBytes and kFeedUrlBytes, never inside a
// double-byte character, and an interval below the floor raised to it.
FeedFields ReadFeedFields(const char* name, const char* url, uint32_t interval, bool sort);

// The entry as the dialog shows and compares it: its pending copy while it
// is marked modified, else the entry itself.
const FeedEntry& ShownFeed(const FeedEntry& entry);
// The values the dialog loads into its fields for entry.
FeedFields FieldsOf(const FeedEntry& entry);

// True when a feed other than skip that is not marked deleted shows this
// name, compared byte for byte (so letter case counts).
bool FeedNameInUse(const ItemList& feeds, const char* name, const FeedEntry* skip);

enum class FeedFieldProblem {
    kNone,
    kNoName,
    kNoUrl,
    kNameInUse,
};
// The checks of Add (updated null) and Update (updated: the entry being
// changed, which may keep its own name), in the order the user hears of
// them: a name, a URL, a name no other feed shows.
FeedFieldProblem CheckFeedFields(const ItemList& feeds, const FeedFields& fields, const FeedEntry* updated);

// Update: when fields differ from what entry shows (name, URL byte for byte,
// interval, or the crawler's flags byte against the sort bit), the entry is
// marked modified with a new pending copy (the new name and a configured,
// never started crawler) in place of an earlier one, and true is returned.
// False when nothing differs (or memory ran out): nothing is marked.
bool UpdateFeed(FeedEntry& entry, const FeedFields& fields);
// Add: a new entry marked added, with a configured crawler that is neither
// started nor notifying, appended to feeds under plugin_lock (the schedule
// thread walks the list). Its index in feeds, or -1 when memory ran out
// (nothing is added then).
int32_t AddFeed(ItemList& feeds, platform::Mutex& plugin_lock, const FeedFields& fields);
// Delete: marks the entry; it stays in feeds until the commit.
void MarkFeedDeleted(FeedEntry& entry);

// Each row of the dialog's list keeps the index of its entry in feeds, and
// deleted rows go while their entries stay until the commit, so rows and
// entries part ways: a row is always mapped through its stored index. The
// entry a stored index names, or null when it names none (out of range, or
// an entry marked deleted).
FeedEntry* EntryOfRow(const ItemList& feeds, intptr_t stored_index);

// The four cells of a row, code page 932: the shown name, the interval in
// weeks, days, hours and minutes, the URL, and the sort mark.
struct FeedRowCells {
    std::string name;
    std::string interval;
    std::string url;
    const char* sort;
};
FeedRowCells FeedRow(const FeedEntry& entry);
// An interval as the list and the interval list write it ("24時間",
// "1時間30分"), code page 932.
std::string IntervalText(uint32_t seconds);

// A trial fetch of location on the calling thread (it blocks until the
// download ends, within the fetch's own time-outs and size limit) into a
// document of its own, released before returning. Nothing is stored.
struct FeedCheck {
    bool recognised = false;
    FeedKind kind = kFeedNone;
    std::u16string title;  // the channel's title; empty when it has none
};
FeedCheck CheckFeedLocation(const char* location);

// The dialog's texts, UTF-16.
struct DialogMessage {
    std::u16string text;
    const char16_t* caption;
};
// The warning for a problem of CheckFeedFields (kNone: an empty text).
DialogMessage FeedFieldMessage(FeedFieldProblem problem);
// Delete's question about the feed shown as name (code page 932).
DialogMessage DeleteQuestion(const char* name);
// OK's question while typed values were neither added nor used to update.
DialogMessage LeaveQuestion();
// The result of a trial fetch. A title longer than kCheckTitleUnits is cut
// there (never inside a surrogate pair) and ends in "...", so a hostile
// feed cannot hand the message box megabytes to lay out.
DialogMessage FeedCheckMessage(const FeedCheck& check);
constexpr size_t kCheckTitleUnits = 256;
// "不明", "RSS1.0", "RSS2.0", "ATOM"; any other kind is "不明".
const char16_t* FeedKindName(int32_t kind);

}  // namespace feedlet
