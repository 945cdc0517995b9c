// Text helpers of the XML parser: white space, case-insensitive names,
// reference decoding, trimming, the scans of the parser's hot loops, and
// the attribute lists of ParseAttributes.
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// 9..13 and U+0020 are white space and end names, as do '/' and '>'; U+00A0
// is white space too. (U+0085 is not: the run-time classifies it as a
// control only.)
const uint8_t kUnitClass[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3, 3, 0, 0,  // 00
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 10
    3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2,  // 20  ' ' '/'
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0,  // 30  '>'
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 40
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 50
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 60
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 70
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 80
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 90
    3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // A0  U+00A0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // B0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // C0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // D0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // E0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // F0
};

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

namespace {

// The number of leading units of text[0, length) that decoding leaves as
// they are: no control unit, no '&', no space right after a space
// (after_space: the unit before text[0] was one). Most text is such runs.
size_t CleanPrefix(const char16_t* text, size_t length, bool after_space) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i amp = _mm_set1_epi16(u'&');
    const __m128i space = _mm_set1_epi16(u' ');
    const __m128i control = _mm_set1_epi16(static_cast<short>(0xFFE0));  // clear: below U+0020
    const __m128i zero = _mm_setzero_si128();
    unsigned carry = after_space ? 3u : 0u;  // the unit before the block, as a lane's two bits
    for (; i + 8 <= length; i += 8) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        unsigned special = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi16(_mm_and_si128(block, control), zero), _mm_cmpeq_epi16(block, amp))));
        unsigned spaces = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, space)));
        special |= spaces & ((spaces << 2) | carry);
        if (special) return i + static_cast<size_t>(__builtin_ctz(special)) / 2;
        carry = (spaces >> 14) & 3u;
    }
    after_space = carry != 0;
#endif
    for (; i < length; ++i) {
        char16_t c = text[i];
        if (c < 0x20 || c == u'&' || (c == u' ' && after_space)) return i;
        after_space = c == u' ';
    }
    return length;
}

}  // namespace

size_t DecodeRun(char16_t* text, size_t length) {
    size_t in = 0;
    size_t out = 0;  // never ahead of in: the result is never longer
    bool after_space = false;  // the last unit written is a space
    while (in < length) {
        // Units that stay as they are: left in place until the first change,
        // moved down in one piece after it.
        size_t clean = CleanPrefix(text + in, length - in, after_space);
        if (clean) {
            after_space = text[in + clean - 1] == u' ';
            if (out != in) std::memmove(text + out, text + in, clean * sizeof(char16_t));
            in += clean;
            out += clean;
            if (in == length) break;
        }
        char16_t c = text[in];
        if (c == u'&') {
            after_space = false;
            // Only the first ';' counts, and no reference is longer than
            // kMaxNumericLength, so looking a few units ahead is enough (and
            // keeps runs of '&' linear).
            size_t limit = length - in - 1;
            if (limit > kMaxNumericLength + 1) limit = kMaxNumericLength + 1;
            size_t n = 0;
            while (n < limit && text[in + 1 + n] != u';') ++n;
            if (n < limit) {
                char16_t decoded[2];
                size_t produced = DecodeReference(text + in + 1, n, decoded);
                if (produced) {
                    // Read before writing: the reference is at least three
                    // units long, the result at most two.
                    text[out++] = decoded[0];
                    if (produced == 2) text[out++] = decoded[1];
                    in += n + 2;
                    continue;
                }
            }
            text[out++] = c;  // an '&' that starts no reference stays
            ++in;
        } else if (c < 0x20) {
            after_space = false;  // line breaks vanish without leaving a space
            ++in;
        } else {
            in = SkipUnit(text, in, length, u' ');  // spaces after a space, dropped
        }
    }
    return out;
}

size_t SkipUnit(const char16_t* text, size_t from, size_t end, char16_t unit) {
    size_t i = from;
#if defined(__SSE2__)
    const __m128i skipped = _mm_set1_epi16(static_cast<short>(unit));
    for (; i + 8 <= end; i += 8) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, skipped))) ^ 0xFFFFu;
        if (mask) return i + static_cast<size_t>(__builtin_ctz(mask)) / 2;
    }
#endif
    while (i < end && text[i] == unit) ++i;
    return i;
}

size_t BoundedLength(const char16_t* text, size_t limit) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= limit; i += 8) {
        __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(block, zero));
        if (mask) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask))) / 2;
    }
#endif
    while (i < limit && text[i]) ++i;
    return i;
}

void ReleaseNode(void* item, uint32_t, uint32_t) {
    delete static_cast<XmlNode*>(item);  // the destructor clears
}

void ReleaseAttribute(void* item, uint32_t, uint32_t) {
    XmlAttribute* attribute = static_cast<XmlAttribute*>(item);
    delete[] attribute->name;
    delete[] attribute->value;
    delete attribute;
}

namespace {

// Adds one attribute to a list on the heap; false when memory ran out (the
// attribute is not added, and the list stays null rather than empty).
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

}  // namespace xml_detail

ItemList* ParseAttributes(const char16_t* attribute_text) {
    if (!attribute_text) return nullptr;
    ItemList* list = nullptr;
    xml_detail::ScanAttributes(attribute_text, attribute_text + Utf16Length(attribute_text),
                               [&list](const char16_t* name, size_t name_length, const char16_t* value,
                                       size_t value_length) {
                                   return xml_detail::AddAttribute(&list, name, name_length, value,
                                                                   value_length);
                               });
    return list;
}

void DecodeText(char16_t* text) {
    if (!text) return;
    size_t length = xml_detail::DecodeRun(text, Utf16Length(text));
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
