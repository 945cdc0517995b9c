// Text helpers of the XML parser: white space, case-insensitive names,
// reference decoding, trimming, and the attribute scanner.
#include <cstring>
#include <new>

#include "core/encoding.h"
#include "core/text_field.h"
#include "feed/xml_internal.h"
#include "feed/xml_node.h"

namespace feedlet {

// The set the Windows C run-time's iswspace reports for UTF-16 units, which
// is what feeds are read with on the plugin's own platform: C0 9..13, U+0020
// and the Unicode space separators (Zs), line and paragraph separators
// (U+2028, U+2029). U+0085 is not in it: the run-time classifies it as a
// control only. A fixed table instead of the library call keeps the answer
// the same on every platform and in every locale.
bool IsXmlSpace(char16_t c) {
    return xml_detail::IsSpaceUnit(c);
}

// The plugin never sets LC_CTYPE, and in the C locale _wcsicmp folds only
// ASCII letters and returns the difference of the folded units.
int32_t CompareIgnoreCase(const char16_t* left, const char16_t* right) {
    if (!left || !right) return left == right ? 0 : (left ? 1 : -1);
    return CompareIgnoringAsciiCase(left, right);
}

namespace xml_detail {

namespace {

struct NamedEntity {
    const char16_t* name;
    char16_t value;
};

// The XML five and the HTML names that feeds commonly carry and that fit in
// the six units a named reference may have.
const NamedEntity kNamedEntities[] = {
    {u"amp", u'&'},       {u"lt", u'<'},        {u"gt", u'>'},        {u"quot", u'"'},
    {u"apos", u'\''},     {u"nbsp", 0x00A0},    {u"copy", 0x00A9},    {u"reg", 0x00AE},
    {u"trade", 0x2122},   {u"hellip", 0x2026},  {u"mdash", 0x2014},   {u"ndash", 0x2013},
    {u"laquo", 0x00AB},   {u"raquo", 0x00BB},   {u"middot", 0x00B7},  {u"yen", 0x00A5},
};

constexpr size_t kMaxNamedLength = 6;    // between '&' and ';'
constexpr size_t kMaxNumericLength = 8;  // "#1114111", "#x10FFFF", "#x1F600"

int32_t DigitValue(char16_t c, bool hex) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (!hex) return -1;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Decodes the reference name[0, length) (the text between '&' and ';').
// Returns the number of units written to out (1 or 2), or 0 when the
// reference is not one we know, in which case the '&' stays as written.
size_t DecodeReference(const char16_t* name, size_t length, char16_t out[2]) {
    if (length >= 2 && name[0] == u'#') {
        bool hex = name[1] == u'x' || name[1] == u'X';
        size_t first = hex ? 2 : 1;
        if (first >= length) return 0;
        uint32_t code = 0;
        for (size_t i = first; i < length; ++i) {
            int32_t digit = DigitValue(name[i], hex);
            if (digit < 0) return 0;
            code = code * (hex ? 16 : 10) + static_cast<uint32_t>(digit);  // <= 8 digits: no overflow
        }
        // A NUL would end the text early, a lone surrogate would corrupt it.
        if (code == 0 || IsSurrogate(code) || code > 0x10FFFF) {
            out[0] = 0xFFFD;
            return 1;
        }
        return EncodeUtf16(code, out);
    }
    if (length == 0 || length > kMaxNamedLength) return 0;
    for (const NamedEntity& entity : kNamedEntities) {
        size_t i = 0;
        while (i < length && entity.name[i] == name[i]) ++i;
        if (i == length && entity.name[i] == 0) {
            out[0] = entity.value;
            return 1;
        }
    }
    return 0;
}

}  // namespace

size_t DecodeRun(const char16_t* source, size_t length, char16_t* destination) {
    size_t out = 0;
    bool after_space = false;  // the last unit written is a space
    for (size_t i = 0; i < length; ++i) {
        char16_t c = source[i];
        if (c > 0x20 && c != u'&') {  // by far the most common case
            destination[out++] = c;
            after_space = false;
        } else if (c == u'&') {
            after_space = false;
            // Only the first ';' counts, and no reference is longer than
            // kMaxNumericLength, so looking a few units ahead is enough (and
            // keeps runs of '&' linear).
            size_t limit = length - i - 1;
            if (limit > kMaxNumericLength + 1) limit = kMaxNumericLength + 1;
            size_t n = 0;
            while (n < limit && source[i + 1 + n] != u';') ++n;
            if (n < limit) {
                char16_t decoded[2];
                size_t produced = DecodeReference(source + i + 1, n, decoded);
                if (produced) {
                    // Read before writing: the reference is at least three
                    // units long, the result at most two.
                    destination[out++] = decoded[0];
                    if (produced == 2) destination[out++] = decoded[1];
                    i += n + 1;
                    continue;
                }
            }
            destination[out++] = c;
        } else if (c < 0x20) {
            after_space = false;  // line breaks vanish without leaving a space
        } else if (c == 0x20) {
            if (!after_space) destination[out++] = c;
            after_space = true;
        }
    }
    return out;
}

void TrimRange(const char16_t** begin, const char16_t** end) {
    const char16_t* b = *begin;
    const char16_t* e = *end;
    while (e > b && IsSpaceUnit(e[-1])) --e;
    while (b < e && IsSpaceUnit(*b)) ++b;
    *begin = b;
    *end = e;
}

void ReleaseAttribute(void* item, uint32_t, uint32_t) {
    XmlAttribute* attribute = static_cast<XmlAttribute*>(item);
    delete[] attribute->name;
    delete[] attribute->value;
    delete attribute;
}

namespace {

// Adds one attribute; false when memory ran out (the attribute is not added,
// and the list stays null rather than empty).
bool AddAttribute(ItemList** list, const char16_t* name, size_t name_length,
                  const char16_t* value, size_t value_length) {
    XmlAttribute* attribute = new (std::nothrow) XmlAttribute;
    if (!attribute) return false;
    attribute->name = Utf16Duplicate(name, name_length);
    if (value) attribute->value = Utf16Duplicate(value, value_length);
    if (!*list) *list = new (std::nothrow) ItemList(ReleaseAttribute, 0, 0);
    if (!attribute->name || (value && !attribute->value) || !*list || !(*list)->Append(attribute)) {
        ReleaseAttribute(attribute, 0, 0);
        if (*list && (*list)->Empty()) {
            delete *list;
            *list = nullptr;
        }
        return false;
    }
    return true;
}

}  // namespace

ItemList* ParseAttributeRange(const char16_t* begin, const char16_t* end) {
    enum class State { kName, kAfterName, kBeforeValue, kValue };
    ItemList* list = nullptr;
    State state = State::kName;
    const char16_t* mark = begin;
    const char16_t* name = begin;
    size_t name_length = 0;
    char16_t quote = 0;
    const char16_t* p = begin;
    while (p < end) {
        char16_t c = *p;
        switch (state) {
        case State::kName:
            if (c == u'=' || IsSpaceUnit(c)) {
                name = mark;
                name_length = static_cast<size_t>(p - mark);
                state = State::kAfterName;
                continue;  // look at the same unit again
            }
            break;
        case State::kAfterName:
            if (c == u'=') {
                state = State::kBeforeValue;
            } else if (!IsSpaceUnit(c)) {
                // A bare name followed by another name: kept without value.
                if (!AddAttribute(&list, name, name_length, nullptr, 0)) return list;
                mark = p;
                state = State::kName;
                continue;
            }
            break;
        case State::kBeforeValue:
            // Unquoted values are not recognised: the value is the next
            // quoted string.
            if (c == u'"' || c == u'\'') {
                quote = c;
                mark = p + 1;
                state = State::kValue;
            }
            break;
        case State::kValue:
            if (c == quote) {
                if (!AddAttribute(&list, name, name_length, mark, static_cast<size_t>(p - mark)))
                    return list;
                ++p;
                while (p < end && IsSpaceUnit(*p)) ++p;
                mark = p;
                state = State::kName;
                continue;
            }
            break;
        }
        ++p;
    }
    // A pending name without value is dropped at the end of the text.
    return list;
}

}  // namespace xml_detail

ItemList* ParseAttributes(const char16_t* attribute_text) {
    if (!attribute_text) return nullptr;
    return xml_detail::ParseAttributeRange(attribute_text,
                                           attribute_text + Utf16Length(attribute_text));
}

void DecodeText(char16_t* text) {
    if (!text) return;
    size_t length = xml_detail::DecodeRun(text, Utf16Length(text), text);
    text[length] = 0;
}

void TrimText(char16_t* text) {
    if (!text || !*text) return;
    const char16_t* begin = text;
    const char16_t* end = text + Utf16Length(text);
    xml_detail::TrimRange(&begin, &end);
    size_t length = static_cast<size_t>(end - begin);
    if (begin != text) std::memmove(text, begin, length * sizeof(char16_t));
    text[length] = 0;
}

}  // namespace feedlet
