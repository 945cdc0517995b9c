// The JSON that feedlet-tool dump prints for a built document, shared with
// the tests that compare fixtures against expected output.
#pragma once

#include <string>

#include "feed/feed_document.h"
#include "fetch/feed_builder.h"

namespace feedlet {
namespace tool {

// {"kind":K,"channel":{...},"articles":[...]|null}; each record has title,
// description, link, copyright (string or null) and time
// ({"when":N,"zone_offset":M} or null).
std::string FeedDocumentJson(const FeedDocument& document);
// {"kind":K,"articles":N}, N being 0 when there is no article list.
std::string FeedDocumentCountJson(const FeedDocument& document);

}  // namespace tool
}  // namespace feedlet
