// libFuzzer target: raw bytes as a fetched feed, through decoding, parsing
// and extraction, built once in document order and once sorted. Besides
// crashes, leaks and hangs it checks what every built document must satisfy.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "feed/feed_document.h"
#include "fetch/feed_builder.h"
#include "fetch/download.h"

namespace {

using feedlet::FeedArticle;
using feedlet::FeedDocument;

void Require(bool condition) {
    if (!condition) std::abort();
}

// A text member is either absent or non-empty.
void CheckRecord(const FeedArticle& record) {
    for (int32_t i = feedlet::kMemberTitle; i <= feedlet::kMemberCopyright; ++i) {
        const feedlet::TextField* field = record.Text(i);
        Require(!field || (field->kind == feedlet::kTextWide && field->Length() > 0));
    }
    Require(record.Member(5) == nullptr);
    if (record.time) Require(record.time->when >= -1);
}

bool Build(FeedDocument* document, const uint8_t* data, size_t size, bool sort) {
    // A download buffer: malloc'd bytes followed by the zero terminator.
    unsigned char* block = static_cast<unsigned char*>(std::malloc(size + feedlet::kDownloadTerminator));
    if (!block) return false;
    if (size) std::memcpy(block, data, size);
    std::memset(block + size, 0, feedlet::kDownloadTerminator);
    feedlet::DownloadBuffer buffer;
    buffer.Adopt(block, static_cast<uint32_t>(size));
    return BuildFeedDocumentFromBuffer(document, buffer, sort);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > feedlet::kMaxDocumentBytes) return 0;
    FeedDocument plain;
    FeedDocument* sorted = new FeedDocument;
    const bool built = Build(&plain, data, size, false);
    Require(Build(sorted, data, size, true) == built);
    if (!built) {
        Require(plain.kind == feedlet::kFeedNone && plain.articles == nullptr && !plain.channel.title);
    } else {
        Require(plain.kind >= feedlet::kFeedRss1 && plain.kind <= feedlet::kFeedAtom);
        Require(!plain.articles || plain.articles->Count() > 0);
        Require(plain.ArticleCount() == sorted->ArticleCount());
        CheckRecord(plain.channel);
        if (plain.articles)
            for (const FeedArticle* article : plain.articles->As<FeedArticle>()) {
                CheckRecord(*article);
                Require(article->copyright == nullptr);
            }
        // Sorted: newest first, undated last.
        const FeedArticle* previous = nullptr;
        if (sorted->articles)
            for (const FeedArticle* article : sorted->articles->As<FeedArticle>()) {
                if (previous) Require(feedlet::CompareArticlesByTime(previous, article, 0, 0) <= 0);
                previous = article;
            }
    }
    FeedDocument::Release(sorted);
    return 0;
}
