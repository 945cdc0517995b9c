#include "feed/feed_document.h"

#include <iterator>
#include <new>

#include "feed/feed_date.h"
#include "feed/xml_node.h"
#include "fetch/document_loader.h"

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

void TakeContent(FeedArticle* record, int32_t index, const XmlNode* element) {
    if (element) record->AdoptText(index, element->ContentText());
}

// Atom links: among the children named "link", those whose rel is absent or
// exactly "alternate" qualify and the last one wins. The href goes in as
// written, its references undecoded. RSS has a plain "link" element.
void TakeLink(FeedArticle* record, FeedKind kind, const XmlNode& parent) {
    if (kind != kFeedAtom) {
        TakeContent(record, kMemberLink, parent.FindChild(u"link"));
        return;
    }
    for (const XmlNode* child : ChildrenOf(parent)) {
        if (!IsElementNamed(child, u"link")) continue;
        const char16_t* rel = child->FindAttribute(u"rel");
        if (rel && !SameText(rel, u"alternate")) continue;
        if (const char16_t* href = child->FindAttribute(u"href")) record->SetText(kMemberLink, href);
    }
}

void TakeDate(FeedArticle* record, FeedKind kind, const XmlNode* element) {
    if (!element) return;
    // Dates are short: read them from the stack, and only a long one (which
    // is no real date, but must still be read) from the heap.
    char16_t buffer[64];
    if (element->Serialize(buffer, std::size(buffer)) < std::size(buffer)) {
        record->SetDate(kind, buffer);
        return;
    }
    char16_t* text = element->ContentText();
    record->SetDate(kind, text);
    delete[] text;
}

// Where each kind keeps its dates (indexed by FeedKind).
const char16_t* const kChannelDateName[] = {nullptr, u"dc:date", u"lastBuildDate", u"updated"};
const char16_t* const kArticleDateName[] = {nullptr, u"dc:date", u"pubDate", u"updated"};

void FillChannel(FeedArticle* channel, FeedKind kind, const XmlNode& element) {
    TakeContent(channel, kMemberTitle, element.FindChild(u"title"));
    TakeLink(channel, kind, element);
    TakeContent(channel, kMemberDescription, element.FindChild(u"description"));
    TakeContent(channel, kMemberCopyright, element.FindChild(u"copyright"));
    TakeDate(channel, kind, element.FindChild(kChannelDateName[kind]));
}

void FillArticleTexts(FeedArticle* article, FeedKind kind, const XmlNode& element) {
    TakeContent(article, kMemberTitle, element.FindChild(u"title"));
    TakeLink(article, kind, element);
    TakeContent(article, kMemberDescription, element.FindChild(u"description"));
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

void FeedArticle::SetText(int32_t index, const char16_t* text) {
    if (!text || !*text || !IsTextIndex(index)) return;
    AdoptText(index, Utf16Duplicate(text, Utf16Length(text)));
}

void FeedArticle::AdoptText(int32_t index, char16_t* text) {
    if (!text || !*text || !IsTextIndex(index)) {
        delete[] text;
        return;
    }
    TextField* field = new (std::nothrow) TextField;
    if (!field) {
        delete[] text;
        return;
    }
    field->text = text;
    field->kind = kTextWide;
    TextField*& slot = this->*kTextMembers[index];
    delete slot;
    slot = field;
}

void FeedArticle::SetDate(int32_t kind, const char16_t* text) {
    if (!text || !*text) return;
    if (kind != kFeedRss1 && kind != kFeedRss2 && kind != kFeedAtom) return;
    FeedTime* parsed = new (std::nothrow) FeedTime(ParseFeedDate(text, kind == kFeedRss2 ? kDateRfc822 : kDateW3c));
    if (!parsed) return;
    delete time;
    time = parsed;
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
// order.
bool FillDocument(FeedDocument* document, const XmlNode& root) {
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
    uint32_t articles = 0;
    for (const XmlNode* child : ChildrenOf(container))
        if (IsElementNamed(child, article_name) && ++articles > kMaxFeedArticles) return false;

    document->kind = kind;
    FillChannel(&document->channel, kind, *channel);
    // The articles' records and dates first, their texts after: the records
    // that the sort and the release go through then lie together, not each
    // among its texts. Out of memory, the articles made so far stay.
    for (const XmlNode* child : ChildrenOf(container)) {
        if (!IsElementNamed(child, article_name)) continue;
        FeedArticle* article = new (std::nothrow) FeedArticle;
        if (!article) break;
        TakeDate(article, kind, child->FindChild(kArticleDateName[kind]));
        if (!AppendArticle(document, article)) break;
    }
    const ItemNode* made = document->articles ? document->articles->First() : nullptr;
    for (const XmlNode* child : ChildrenOf(container)) {
        if (!made) break;
        if (!IsElementNamed(child, article_name)) continue;
        FillArticleTexts(static_cast<FeedArticle*>(made->item), kind, *child);
        made = made->next;
    }
    return true;
}

void SortArticles(FeedDocument* document, bool sort_by_time) {
    if (sort_by_time && document->articles) document->articles->Sort(CompareArticlesByTime, 0, 0);
}

}  // namespace

bool ExtractFeedDocument(FeedDocument* document, const XmlNode& root, bool sort_by_time) {
    if (!document) return false;
    if (!FillDocument(document, root)) return false;
    SortArticles(document, sort_by_time);
    return true;
}

bool ExtractFeedDocumentAndRelease(FeedDocument* document, XmlNode& root, bool sort_by_time) {
    if (!document) {
        root.Clear();
        return false;
    }
    bool built = FillDocument(document, root);
    // The document holds copies of everything it keeps: the tree and the
    // text it points into go before the sort, and before the caller
    // installs the document.
    root.Clear();
    if (built) SortArticles(document, sort_by_time);
    return built;
}

bool BuildFeedDocument(FeedDocument* document, const char* location, bool sort_by_time) {
    // A failed download leaves the caller's document untouched: a crawler
    // keeps showing the last good one.
    if (!document) return false;
    XmlNode root;
    if (!LoadDocument(root, location)) return false;
    return ExtractFeedDocumentAndRelease(document, root, sort_by_time);
}

bool BuildFeedDocumentFromBuffer(FeedDocument* document, DownloadBuffer& buffer, bool sort_by_time) {
    if (!document) return false;
    XmlNode root;
    if (!LoadDocumentFromBuffer(root, buffer)) return false;
    return ExtractFeedDocumentAndRelease(document, root, sort_by_time);
}

}  // namespace feedlet
