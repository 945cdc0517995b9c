// What the two HTTP implementations share: the header lines every request
// carries, the redirects they follow and the response fields they keep.
// Portable code only.
#include <cstring>

#include "platform/http.h"

namespace feedlet {
namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A value that would end its header line early never goes out: it could
// add lines of its own to the request.
bool FitsOnOneLine(const char* value) { return std::strpbrk(value, "\r\n") == nullptr; }

void AppendLine(std::string& lines, const char* name, const char* value) {
    if (!value || !*value || !FitsOnOneLine(value)) return;
    lines.append(name).append(": ").append(value).append("\r\n");
}

}  // namespace

void HttpField::Set(const char* value, size_t length) {
    if (!empty()) return;
    while (length > 0 && IsBlank(*value)) ++value, --length;
    while (length > 0 && IsBlank(value[length - 1])) --length;
    if (length > kHttpMaxFieldBytes || std::memchr(value, 0, length)) return;
    std::memcpy(text, value, length);
    text[length] = 0;
}

std::string RequestHeaderLines(const HttpRequest& request) {
    // Neither a proxy's cache nor the system's may answer for the origin:
    // a conditional request still reaches the server, which alone says
    // whether the feed changed.
    std::string lines = "Pragma: no-cache\r\nCache-Control: no-cache\r\n";
    AppendLine(lines, "If-None-Match", request.if_none_match);
    AppendLine(lines, "If-Modified-Since", request.if_modified_since);
    return lines;
}

bool IsFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace platform
}  // namespace feedlet
