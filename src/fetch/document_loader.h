// Document loading: which encoding a feed's bytes are in, their conversion to
// UTF-16, and the parse into an XML tree (LoadDocument, at the end).
//
// Only a byte-order mark and the encoding="..." of the XML declaration are
// looked at; no HTTP header, no guessing. Anything not recognised is UTF-8.
// Converted texts are blocks from the C library's allocator, released with free.
// The decoders themselves (DecodeUtf8, EucJpToShiftJis, ISO-2022-JP) are the
// encoding module's (core/encoding.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "fetch/download.h"

namespace feedlet {

class XmlNode;

enum class TextEncoding : uint8_t {
    kUtf8 = 1,
    kUtf16LittleEndian = 2,  // only ever chosen by a byte-order mark
    kShiftJis = 3,           // code page 932
    kIso2022Jp = 4,          // code page 50220
    kEucJp = 5,              // to Shift_JIS, then code page 932
};

struct EncodingName {
    const char* name;
    TextEncoding encoding;
};
// Declared names in the order they are tried; ends with a null name. A name
// matches when it is a prefix of the declared value, ASCII case ignored.
extern const EncodingName EncodingNameTable[];

// The encoding that the first "<?xml" ... "?>" of a NUL-terminated byte text
// declares with encoding="..." (double quotes, no blanks around '='), or
// UTF-8 when there is no such declaration or its value is not in the table.
TextEncoding DeclaredEncoding(const char* text);

// Exchanges the bytes of each pair whose first byte lies below length (with
// an odd length the last pair takes in the following byte).
void SwapByteOrder(unsigned char* block, size_t length);

// A document's text as UTF-16: a converted block it owns, or, for a UTF-16
// document, a view into the download buffer, which must then outlive it.
class DocumentText {
public:
    DocumentText() = default;
    ~DocumentText() { Reset(); }
    DocumentText(const DocumentText&) = delete;
    DocumentText& operator=(const DocumentText&) = delete;

    const char16_t* text() const { return text_; }
    TextEncoding encoding() const { return encoding_; }
    void Reset();
    // Hands the text over (to the parse tree, which keeps it): returns it
    // and the malloc'd block that holds it in *block, its length in *length.
    // A converted text leaves the bytes behind, and they are released; a
    // UTF-16 text lies in them, and the buffer gives up its block. Leaves
    // this empty; null (buffer untouched) when there is no text.
    char16_t* Release(DownloadBuffer& buffer, void** block, size_t* length);

private:
    friend bool DecodeDocument(DownloadBuffer& buffer, DocumentText& text);
    const char16_t* text_ = nullptr;
    char16_t* owned_ = nullptr;
    size_t length_ = SIZE_MAX;  // unknown until counted
    TextEncoding encoding_ = TextEncoding::kUtf8;
};

// Chooses the encoding of the fetched bytes (byte-order mark FE FF or FF FE,
// else the declaration) and converts them. A big-endian document is swapped
// in place in the buffer. False only when memory runs out.
bool DecodeDocument(DownloadBuffer& buffer, DocumentText& text);

// Where the parser starts: right after the first "?>" that follows the first
// "<?xml", or the whole text when there is no "<?xml". Null when "<?xml" has
// no "?>" after it: then there is nothing to parse.
const char16_t* SkipDeclaration(const char16_t* text);

// Fetches location (see FetchLocation) and parses it: on true, root is an
// element named "*" whose children are the document's top-level nodes (none
// when the text decodes or parses into nothing; the feed builder rejects
// that), and root's tree keeps the decoded text. False, with root empty,
// when the download fails, memory runs out, or the document is too large to
// hold (XmlNode::ParseDocument). root is emptied first in every case.
bool LoadDocument(XmlNode& root, const char* location);
// The same with the fetch's options (its cancel flag, say).
bool LoadDocument(XmlNode& root, const char* location, const FetchOptions& options);
// The same for bytes already fetched (tests and fuzzing): decodes the
// buffer and parses it into root. The buffer is empty afterwards: its bytes
// are released once decoded, or become the tree's (UTF-16).
bool LoadDocumentFromBuffer(XmlNode& root, DownloadBuffer& buffer);

}  // namespace feedlet
