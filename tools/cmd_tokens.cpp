// feedlet-tool tokens: the plugin's format tokens in matching order, one
// line each, "%NAME<TAB>DESCRIPTION<TAB>EXAMPLE": the token table itself
// (the description is the one the display setting dialog lists) and what the
// token gives for one fixed article, through the same expansion GetText
// uses. The user's guide takes its token list from here, so it cannot
// drift from the plugin.
#include <string>

#include "text/display_text.h"
#include "tool.h"

namespace feedlet {
namespace tool {

namespace {

// The article of the examples, with every member a token reads, dated on a
// Saturday evening in Japan; "now" is the Monday morning after it, so that
// the elapsed time has days, hours, minutes and seconds.
constexpr char16_t kTitle[] = u"冬の灯りまつり、今週末に開催";
constexpr char16_t kDescription[] = u"港の広場に二千個の灯りがともります。";
constexpr char16_t kCopyright[] = u"(C) みなと町役場";
constexpr char16_t kDate[] = u"Sat, 05 Dec 2026 19:30:00 +0900";
constexpr PluginTime kNow = 1796606142;  // 2026-12-07 10:15:42 +09:00

}  // namespace

int RunTokens(int argc, char**) {
    if (argc != 0) return 2;
    FeedArticle article;
    if (!article.SetText(kMemberTitle, kTitle) || !article.SetText(kMemberDescription, kDescription) ||
        !article.SetText(kMemberCopyright, kCopyright) || !article.SetDate(kFeedRss2, kDate))
        return 1;
    for (const FormatToken& token : kFormatTokens) {
        // "%" and the name: the format that gives this token alone. The
        // article's own zone (+09:00) shows the dates, as in a setting
        // that follows the feed's time zone.
        std::u16string format = u"%" + std::u16string(token.name);
        char16_t example[1024] = {};
        ExpandFormat(&article, format.c_str(), nullptr, kNow, example, sizeof example / sizeof example[0]);
        Print(Utf8(format.c_str()) + "\t" + Utf8(token.description) + "\t" + Utf8(example) + "\n");
    }
    return 0;
}

}  // namespace tool
}  // namespace feedlet
