#include "fetch/document_loader.h"

#include <cstdlib>
#include <cstring>

#include "core/codepage.h"
#include "core/encoding.h"
#include "core/text_field.h"
#include "feed/xml_node.h"
#include "platform/memory.h"

namespace feedlet {

const EncodingName EncodingNameTable[] = {
    {"utf-8", TextEncoding::kUtf8},
    {"Shift_JIS", TextEncoding::kShiftJis},
    {"Shift-JIS", TextEncoding::kShiftJis},
    {"SJIS", TextEncoding::kShiftJis},
    {"ShiftJIS", TextEncoding::kShiftJis},
    {"x-sjis", TextEncoding::kShiftJis},
    {"MS_Kanji", TextEncoding::kShiftJis},
    {"ISO-2022-JP", TextEncoding::kIso2022Jp},
    {"JIS", TextEncoding::kIso2022Jp},
    {"EUC-JP", TextEncoding::kEucJp},
    {nullptr, TextEncoding::kUtf8},
};

namespace {

const char16_t* FindUtf16(const char16_t* text, const char16_t* pattern) {
    for (; *text; ++text) {
        size_t i = 0;
        while (pattern[i] && text[i] == pattern[i]) ++i;
        if (!pattern[i]) return text;
    }
    return nullptr;
}

char16_t* DecodeEucJp(const char* bytes) {
    size_t length = std::strlen(bytes);
    auto* sjis = static_cast<char*>(platform::AllocateZeroed(length + 1, 1));
    if (!sjis) return nullptr;
    EucJpToShiftJis(sjis, bytes, length);
    char16_t* text = CodePageToUtf16(kCodePageShiftJis, sjis);
    free(sjis);
    return text;
}

}  // namespace

TextEncoding DeclaredEncoding(const char* text) {
    const char* declaration = std::strstr(text, "<?xml");
    if (!declaration) return TextEncoding::kUtf8;
    const char* end = std::strstr(declaration, "?>");
    if (!end) return TextEncoding::kUtf8;
    static const char kAttribute[] = "encoding=\"";
    const char* attribute = std::strstr(declaration, kAttribute);
    if (!attribute || attribute >= end) return TextEncoding::kUtf8;
    // The closing quote is never looked at: a table name only has to be a
    // prefix of the value ("EUC-JP-MS" is EUC-JP).
    const char* value = attribute + sizeof kAttribute - 1;
    for (const EncodingName* row = EncodingNameTable; row->name; ++row)
        if (StartsWithIgnoringAsciiCase(value, row->name)) return row->encoding;
    return TextEncoding::kUtf8;
}

void SwapByteOrder(unsigned char* block, size_t length) {
    for (size_t i = 0; i < length; i += 2) {
        unsigned char first = block[i];
        block[i] = block[i + 1];
        block[i + 1] = first;
    }
}

void DocumentText::Reset() {
    free(owned_);
    owned_ = nullptr;
    text_ = nullptr;
    length_ = SIZE_MAX;
    encoding_ = TextEncoding::kUtf8;
}

char16_t* DocumentText::Release(DownloadBuffer& buffer, void** block, size_t* length) {
    if (!text_) return nullptr;
    char16_t* text;
    if (owned_) {
        text = owned_;
        *block = owned_;
        buffer.Clear();
    } else {
        // The text is inside the buffer's block (after the byte-order mark).
        text = reinterpret_cast<char16_t*>(buffer.data + 2);
        *block = buffer.data;
        buffer.data = nullptr;
        buffer.length = 0;
    }
    *length = length_ != SIZE_MAX ? length_ : Utf16Length(text);
    owned_ = nullptr;
    text_ = nullptr;
    length_ = SIZE_MAX;
    return text;
}

bool DecodeDocument(DownloadBuffer& buffer, DocumentText& text) {
    text.Reset();
    unsigned char* data = buffer.data;
    if (buffer.length >= 2 && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE))) {
        // UTF-16 is used where it lies; big-endian is first turned around.
        // The terminator keeps the text ended whatever the length's parity.
        if (data[0] == 0xFE) SwapByteOrder(data, buffer.length);
        text.encoding_ = TextEncoding::kUtf16LittleEndian;
        text.text_ = reinterpret_cast<const char16_t*>(data + 2);
        return true;
    }
    const char* bytes = data ? reinterpret_cast<const char*>(data) : "";
    text.encoding_ = DeclaredEncoding(bytes);
    switch (text.encoding_) {
        case TextEncoding::kShiftJis:
            text.owned_ = CodePageToUtf16(kCodePageShiftJis, bytes);
            break;
        case TextEncoding::kIso2022Jp:
            text.owned_ = CodePageToUtf16(kCodePageIso2022Jp, bytes);
            break;
        case TextEncoding::kEucJp:
            text.owned_ = DecodeEucJp(bytes);
            break;
        case TextEncoding::kUtf8:
        case TextEncoding::kUtf16LittleEndian:
            text.owned_ = DecodeUtf8(bytes, &text.length_);
            break;
    }
    text.text_ = text.owned_;
    return text.owned_ != nullptr;
}

const char16_t* SkipDeclaration(const char16_t* text) {
    const char16_t* declaration = FindUtf16(text, u"<?xml");
    if (!declaration) return text;
    const char16_t* end = FindUtf16(declaration, u"?>");
    return end ? end + 2 : nullptr;
}

bool LoadDocumentFromBuffer(XmlNode& root, DownloadBuffer& buffer) {
    root.Clear();
    DocumentText text;
    if (!DecodeDocument(buffer, text)) return false;
    // The tree keeps the text (its names and texts point into it), and the
    // bytes go before it is built. A malformed document is still a document:
    // whatever the parse made of it, a text that yields nothing leaves a
    // bare root; only one too large to hold, or a lack of memory, fails.
    void* block = nullptr;
    size_t length = 0;
    char16_t* whole = text.Release(buffer, &block, &length);
    const char16_t* content = SkipDeclaration(whole);
    if (!content) length = 0;
    else length -= static_cast<size_t>(content - whole);
    return root.ParseDocument(block, const_cast<char16_t*>(content), length) == XmlDocumentResult::kParsed;
}

bool LoadDocument(XmlNode& root, const char* location) { return LoadDocument(root, location, FetchOptions{}); }

bool LoadDocument(XmlNode& root, const char* location, const FetchOptions& options) {
    root.Clear();
    DownloadBuffer buffer;
    if (!FetchLocation(buffer, location, options, nullptr)) return false;
    return LoadDocumentFromBuffer(root, buffer);
}

}  // namespace feedlet
