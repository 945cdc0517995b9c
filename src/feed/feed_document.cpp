#include "feed/feed_document.h"

#include <cstdlib>
#include <iterator>
#include <new>

#include "core/encoding.h"
#include "feed/feed_date.h"
#include "feed/xml_node.h"

namespace feedlet {

namespace {

// The text members in index order; index 4, the time, has another type.
TextField* FeedArticle::*const kTextMembers[] = {&FeedArticle::title, &FeedArticle::description,
                                                 &FeedArticle::link, &FeedArticle::copyright};

bool IsTextIndex(int32_t index) { return index >= kMemberTitle && index <= kMemberCopyright; }

void ReleaseText(TextField** slot) {
    delete *slot;
    *slot = nullptr;
}

bool SameText(const char16_t* a, const char16_t* b) {
    for (; *a && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

// Feed vocabulary is compared exactly, case included: "RSS", "Feed" and
// "Item" are not the elements they resemble. Only FindChild ignores case.
bool IsElementNamed(const XmlNode* node, const char16_t* name) {
    return node && node->name && SameText(node->name, name);
}

// The direct children of an element, text nodes included, in document
// order; nothing for a text node or a childless element.
ItemList::TypedView<XmlNode> ChildrenOf(const XmlNode& element) {
    static const ItemList kNoChildren;
    return (element.name && element.children ? *element.children : kNoChildren).As<XmlNode>();
}

// False when memory ran out.
bool TakeDate(FeedArticle* record, FeedKind kind, const XmlNode* element) {
    if (!element) return true;
    // Dates are short: read them from the stack, and only a long one (which
    // is no real date, but must still be read) from the heap.
    char16_t buffer[64];
    if (element->Serialize(buffer, std::size(buffer)) < std::size(buffer)) return record->SetDate(kind, buffer);
    char16_t* text = element->ContentText();
    if (!text) return false;
    bool kept = record->SetDate(kind, text);
    delete[] text;
    return kept;
}

// Where each kind keeps its dates (indexed by FeedKind).
const char16_t* const kChannelDateName[] = {nullptr, u"dc:date", u"lastBuildDate", u"updated"};
const char16_t* const kArticleDateName[] = {nullptr, u"dc:date", u"pubDate", u"updated"};

// The children a channel or an article is read from: for each name, the
// first child element so named, ASCII case ignored (what FindChild gives),
// all found in one walk over the children.
struct Members {
    const XmlNode* element = nullptr;
    const XmlNode* title = nullptr;
    const XmlNode* link = nullptr;
    const XmlNode* description = nullptr;
    const XmlNode* copyright = nullptr;
    const XmlNode* date = nullptr;
};

// Sets *slot to child when it is still empty and child's name is name.
void Match(const XmlNode** slot, const XmlNode* child, const char16_t* name) {
    if (!*slot && AsciiLower(child->name[0]) == AsciiLower(name[0]) && CompareIgnoreCase(child->name, name) == 0)
        *slot = child;
}

Members FindMembers(const XmlNode& element, const char16_t* date_name, bool channel) {
    Members found;
    found.element = &element;
    // The names lie in the document text, away from the nodes: fetched all
    // at once, their cache misses overlap.
    for (const XmlNode* child : ChildrenOf(element))
        if (!child->IsText()) __builtin_prefetch(child->name);
    for (const XmlNode* child : ChildrenOf(element)) {
        if (child->IsText()) continue;
        if (found.title && found.link && found.description && found.date && (found.copyright || !channel))
            break;
        Match(&found.title, child, u"title");
        Match(&found.link, child, u"link");
        Match(&found.description, child, u"description");
        if (channel) Match(&found.copyright, child, u"copyright");
        Match(&found.date, child, date_name);
    }
    return found;
}

// A text a record is to keep: a piece of the tree's text, copied only when
// the document is filled in, or a text made already (new[]).
struct PendingText {
    const char16_t* text = nullptr;
    // The piece's length; the top bit says the text was made. (A text is
    // far shorter than 2^31 units: a download is at most 32 MiB.)
    uint32_t length_made = 0;

    static constexpr uint32_t kMade = 0x80000000u;
    bool made() const { return length_made & kMade; }
    size_t length() const { return length_made & ~kMade; }
};

// The four text members of a record, by index.
struct PendingRecord {
    PendingText member[kMemberCopyright + 1];
};

// An element's content as a text member: nearly every feed element holds
// one text node, which is the whole serialization.
PendingText PendingContent(const XmlNode* element) {
    PendingText pending;
    if (!element) return pending;
    if (element->children && element->children->Count() == 1) {
        const XmlNode* only = element->children->At<XmlNode>(0);
        size_t length = only->IsText() && only->text ? element->Serialize(nullptr, 0) : 0;
        if (length && length < PendingText::kMade) {
            pending.text = only->text;
            pending.length_made = static_cast<uint32_t>(length);
            return pending;
        }
    }
    pending.text = element->ContentText();
    pending.length_made = PendingText::kMade;
    return pending;
}

// Atom links: among the children named "link", those whose rel is absent or
// exactly "alternate" qualify and the last one with an href that is not
// empty wins. The href goes in as written, its references undecoded. RSS has
// a plain "link" element.
PendingText PendingLink(FeedKind kind, const Members& found) {
    if (kind != kFeedAtom) return PendingContent(found.link);
    PendingText link;
    for (const XmlNode* child : ChildrenOf(*found.element)) {
        if (!IsElementNamed(child, u"link")) continue;
        const char16_t* rel = child->FindAttribute(u"rel");
        if (rel && !SameText(rel, u"alternate")) continue;
        const char16_t* href = child->FindAttribute(u"href");
        size_t length = href ? Utf16Length(href) : 0;
        if (length && length < PendingText::kMade) {
            link.text = href;
            link.length_made = static_cast<uint32_t>(length);
        }
    }
    return link;
}

PendingRecord PendingTexts(FeedKind kind, const Members& found, bool channel) {
    PendingRecord record;
    record.member[kMemberTitle] = PendingContent(found.title);
    record.member[kMemberLink] = PendingLink(kind, found);
    record.member[kMemberDescription] = PendingContent(found.description);
    if (channel) record.member[kMemberCopyright] = PendingContent(found.copyright);
    return record;
}

// Moves the pending texts into record; false when memory ran out for one
// of them (a made text that could not be made included). Every pending text
// is taken over or released either way.
bool KeepTexts(FeedArticle* record, PendingRecord& pending) {
    bool whole = true;
    for (int32_t index = kMemberTitle; index <= kMemberCopyright; ++index) {
        PendingText& text = pending.member[index];
        if (text.made()) {
            whole = (text.text && record->AdoptText(index, const_cast<char16_t*>(text.text))) && whole;
        } else if (text.length()) {
            char16_t* copy = Utf16Duplicate(text.text, text.length());
            whole = (copy && record->AdoptText(index, copy)) && whole;
        }
        text = PendingText();
    }
    return whole;
}

FeedKind KindOfDocumentElement(const XmlNode* node) {
    if (IsElementNamed(node, u"rdf:RDF")) return kFeedRss1;
    if (IsElementNamed(node, u"rss")) return kFeedRss2;
    if (IsElementNamed(node, u"feed")) return kFeedAtom;
    return kFeedNone;
}

// Appends one article, creating the list at the first one. Out of memory the
// article is released, and false.
bool AppendArticle(FeedDocument* document, FeedArticle* article) {
    if (!document->articles) {
        document->articles = new (std::nothrow) ItemList(ReleaseArticle, 0);
        if (!document->articles) {
            ReleaseArticle(article, 0, 0);
            return false;
        }
    }
    if (document->articles->Append(article)) return true;
    ReleaseArticle(article, 0, 0);
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// FeedArticle

const void* FeedArticle::Member(int32_t index) const {
    if (index == kMemberTime) return time;
    return Text(index);
}

const TextField* FeedArticle::Text(int32_t index) const {
    return IsTextIndex(index) ? this->*kTextMembers[index] : nullptr;
}

const char16_t* FeedArticle::WideText(int32_t index) const {
    const TextField* field = Text(index);
    return field ? field->Wide() : nullptr;
}

bool FeedArticle::SetText(int32_t index, const char16_t* text) {
    if (!text || !*text || !IsTextIndex(index)) return true;
    char16_t* copy = Utf16Duplicate(text, Utf16Length(text));
    return copy && AdoptText(index, copy);
}

bool FeedArticle::AdoptText(int32_t index, char16_t* text) {
    if (!text || !*text || !IsTextIndex(index)) {
        delete[] text;
        return true;
    }
    TextField* field = new (std::nothrow) TextField;
    if (!field) {
        delete[] text;
        return false;
    }
    field->text = text;
    field->kind = kTextWide;
    TextField*& slot = this->*kTextMembers[index];
    delete slot;
    slot = field;
    return true;
}

bool FeedArticle::SetDate(int32_t kind, const char16_t* text) {
    if (!text || !*text) return true;
    if (kind != kFeedRss1 && kind != kFeedRss2 && kind != kFeedAtom) return true;
    FeedTime* parsed = new (std::nothrow) FeedTime(ParseFeedDate(text, kind == kFeedRss2 ? kDateRfc822 : kDateW3c));
    if (!parsed) return false;
    delete time;
    time = parsed;
    return true;
}

void FeedArticle::Clear() {
    ReleaseText(&title);
    ReleaseText(&description);
    ReleaseText(&link);
    ReleaseText(&copyright);
    delete time;
    time = nullptr;
}

void ReleaseArticle(void* article, uint32_t, uint32_t) {
    delete static_cast<FeedArticle*>(article);  // the destructor clears
}

int32_t CompareArticlesByTime(const void* a, const void* b, uint32_t, uint32_t) {
    const FeedTime* left = a ? static_cast<const FeedArticle*>(a)->time : nullptr;
    const FeedTime* right = b ? static_cast<const FeedArticle*>(b)->time : nullptr;
    if (!left) return right ? 1 : 0;
    if (!right) return -1;
    if (left->when > right->when) return -1;
    if (left->when < right->when) return 1;
    return 0;
}

// ---------------------------------------------------------------------------
// FeedDocument

void FeedDocument::Clear() {
    kind = kFeedNone;
    channel.Clear();
    delete articles;  // the list releases every article
    articles = nullptr;
}

void FeedDocument::Release(FeedDocument* document) {
    delete document;  // the destructor clears
}

namespace {

// The first two steps of ExtractFeedDocument: the document in document
// order. With release set, root's tree goes as soon as the document no
// longer needs it: the records, their dates and what is not a plain piece of
// the text are made first; then the tree is released, keeping only the text
// (when it holds one apart, as a loaded document does); then the texts are
// copied and the text goes too. So the tree and the document's texts are in
// memory at once only for content with markup, which is serialized from the
// tree.
bool FillDocument(FeedDocument* document, const XmlNode& root, XmlNode* release) {
    document->Clear();
    // The document element is the first top-level element with one of the
    // three names; processing instructions, doctype and stray text before it
    // are passed over, and nothing nested is looked at.
    const XmlNode* feed_element = nullptr;
    FeedKind kind = kFeedNone;
    for (const XmlNode* child : ChildrenOf(root)) {
        kind = KindOfDocumentElement(child);
        if (kind != kFeedNone) {
            feed_element = child;
            break;
        }
    }
    if (!feed_element) return false;

    const XmlNode* channel = kind == kFeedAtom ? feed_element : feed_element->FindChild(u"channel");
    if (!channel) return false;

    // RSS 2.0 keeps its items inside the channel; RSS 1.0 and Atom beside it,
    // as direct children of the document element.
    const XmlNode& container = kind == kFeedRss2 ? *channel : *feed_element;
    const char16_t* article_name = kind == kFeedAtom ? u"entry" : u"item";
    const uint32_t limit = FeedArticleLimit(root.DocumentLength());
    uint32_t articles = 0;
    for (const XmlNode* child : ChildrenOf(container))
        if (IsElementNamed(child, article_name) && ++articles > limit) return false;

    // [0] the channel, then the articles in order.
    PendingRecord* pending = new (std::nothrow) PendingRecord[articles + 1];
    if (!pending) return false;
    document->kind = kind;
    // Out of memory anywhere below, the document is emptied and the build
    // fails: a crawler then keeps its last document instead of installing
    // one with articles or texts missing.
    bool whole = true;
    Members members = FindMembers(*channel, kChannelDateName[kind], true);
    pending[0] = PendingTexts(kind, members, true);
    whole = TakeDate(&document->channel, kind, members.date) && whole;
    uint32_t made = 0;
    for (const XmlNode* child : ChildrenOf(container)) {
        if (!whole) break;
        if (!IsElementNamed(child, article_name)) continue;
        FeedArticle* article = new (std::nothrow) FeedArticle;
        if (!article) {
            whole = false;
            break;
        }
        members = FindMembers(*child, kArticleDateName[kind], false);
        whole = TakeDate(article, kind, members.date) && whole;
        if (!AppendArticle(document, article)) {
            whole = false;
            break;
        }
        pending[++made] = PendingTexts(kind, members, false);
    }

    void* text = release ? release->DetachText() : nullptr;
    if (text) release->Clear();  // the pieces lie in the text, which stays
    whole = KeepTexts(&document->channel, pending[0]) && whole;
    uint32_t kept = 0;
    if (document->articles)
        for (FeedArticle* article : document->articles->As<FeedArticle>())
            whole = KeepTexts(article, pending[++kept]) && whole;
    delete[] pending;
    std::free(text);
    if (release) release->Clear();
    if (!whole) document->Clear();
    return whole;
}

void SortArticles(FeedDocument* document, bool sort_by_time) {
    if (sort_by_time && document->articles) document->articles->Sort(CompareArticlesByTime, 0, 0);
}

}  // namespace

bool ExtractFeedDocument(FeedDocument* document, const XmlNode& root, bool sort_by_time) {
    if (!document) return false;
    if (!FillDocument(document, root, nullptr)) return false;
    SortArticles(document, sort_by_time);
    return true;
}

bool ExtractFeedDocumentAndRelease(FeedDocument* document, XmlNode& root, bool sort_by_time) {
    if (!document) {
        root.Clear();
        return false;
    }
    // The document holds copies of everything it keeps: the tree and the
    // text it points into go before the sort, and before the caller
    // installs the document.
    bool built = FillDocument(document, root, &root);
    root.Clear();
    if (built) SortArticles(document, sort_by_time);
    return built;
}

}  // namespace feedlet
