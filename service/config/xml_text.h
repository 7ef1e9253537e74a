#pragma once
// Locals.xml as text. The file is declared GB2312 and written in it, but the XML
// component we load it with accepts neither that name in a declaration nor the bytes, so
// the bytes are ours: the declared encoding picks the decoder, the declaration loses its
// encoding before the text goes to the parser, and on the way out a character the
// encoding has no bytes for becomes a character reference instead of a '?'.
//
// The functions work on any character type so that the same code handles the narrow
// bytes of the file and the 16-bit text of the XML component.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace varnox::config {

// What every file this system writes starts with.
inline constexpr char XML_DECLARATION[] = "<?xml version=\"1.0\" encoding=\"GB2312\"?>";
// The document a load starts from when there is no readable file; the component gets it
// without the declaration.
inline constexpr char DEFAULT_DOCUMENT_BODY[] = "<Services/>";

enum class FileEncoding {
    Gb2312,  // GB2312 or GBK, both read as code page 936
    Utf8,
    Utf16LittleEndian,
    Utf16BigEndian,
    Unknown,  // an encoding this system does not read: the file is unreadable
};

struct DetectedEncoding {
    FileEncoding encoding = FileEncoding::Unknown;
    std::size_t byteOrderMarkLength = 0;
};

// A byte-order mark decides; otherwise the declaration's encoding does, and a file
// without one is UTF-8, as XML has it.
DetectedEncoding DetectFileEncoding(std::string_view bytes);

// Where the encoding pseudo-attribute lies in an XML declaration at the start of text.
struct EncodingSpan {
    std::size_t removeStart = 0;   // the blank before "encoding"
    std::size_t removeLength = 0;  // up to and with the closing quote
    std::size_t valueStart = 0;
    std::size_t valueLength = 0;
};

template <typename Char>
std::optional<EncodingSpan> FindEncodingPseudoAttribute(std::basic_string_view<Char> text) {
    auto isBlank = [](Char c) { return c == Char(' ') || c == Char('\t') || c == Char('\r') || c == Char('\n'); };
    auto startsWith = [&](std::size_t at, std::string_view ascii) {
        if (text.size() < at + ascii.size()) return false;
        for (std::size_t i = 0; i < ascii.size(); ++i) {
            if (text[at + i] != Char(static_cast<unsigned char>(ascii[i]))) return false;
        }
        return true;
    };
    if (!startsWith(0, "<?xml") || text.size() < 6 || !isBlank(text[5])) return std::nullopt;
    std::size_t close = 5;
    while (close < text.size() && !startsWith(close, "?>")) ++close;
    if (close >= text.size()) return std::nullopt;
    text = text.substr(0, close + 2);
    // The pseudo-attributes one by one, so that "encoding" inside a value is no match.
    std::size_t at = 5;
    for (;;) {
        const std::size_t blankStart = at;
        while (at < text.size() && isBlank(text[at])) ++at;
        if (at >= text.size() || startsWith(at, "?>") || at == blankStart) return std::nullopt;
        const std::size_t nameStart = at;
        while (at < text.size() && !isBlank(text[at]) && text[at] != Char('=') && !startsWith(at, "?>")) ++at;
        const std::size_t nameEnd = at;
        while (at < text.size() && isBlank(text[at])) ++at;
        if (at >= text.size() || text[at] != Char('=')) return std::nullopt;
        ++at;
        while (at < text.size() && isBlank(text[at])) ++at;
        if (at >= text.size() || (text[at] != Char('"') && text[at] != Char('\''))) return std::nullopt;
        const Char quote = text[at++];
        const std::size_t valueStart = at;
        while (at < text.size() && text[at] != quote) ++at;
        if (at >= text.size()) return std::nullopt;
        const std::size_t valueEnd = at++;
        if (nameEnd - nameStart == 8 && startsWith(nameStart, "encoding")) {
            return EncodingSpan{blankStart, at - blankStart, valueStart, valueEnd - valueStart};
        }
    }
}

// The text with the declaration's encoding pseudo-attribute taken out; anything else is
// left as it is.
template <typename Char>
std::basic_string<Char> WithoutEncodingPseudoAttribute(std::basic_string_view<Char> text) {
    std::basic_string<Char> out(text);
    if (const auto span = FindEncodingPseudoAttribute(text)) out.erase(span->removeStart, span->removeLength);
    return out;
}

// The text after a leading XML declaration and the line break behind it; the whole text
// when it has none.
template <typename Char>
std::basic_string_view<Char> WithoutDeclaration(std::basic_string_view<Char> text) {
    const Char open[] = {Char('<'), Char('?'), Char('x'), Char('m'), Char('l')};
    if (text.size() < 6 || !std::equal(open, open + 5, text.begin())) return text;
    const Char next = text[5];
    if (next != Char(' ') && next != Char('\t') && next != Char('\r') && next != Char('\n')) return text;
    std::size_t at = 5;
    while (at + 1 < text.size() && !(text[at] == Char('?') && text[at + 1] == Char('>'))) ++at;
    if (at + 1 >= text.size()) return text;
    at += 2;
    while (at < text.size() && (text[at] == Char('\r') || text[at] == Char('\n'))) ++at;
    return text.substr(at);
}

// "&#x...;" for a code point.
std::string CharacterReference(std::uint32_t codePoint);

// True for the two bytes of a GB2312 character (both in 0xA1..0xFE, the first at most
// 0xF7): code page 936 is GBK and has more, which a GB2312 reader would not take.
bool IsGb2312Pair(std::uint8_t lead, std::uint8_t trail);

// How the platform writes one character in code page 936: its bytes, or nothing.
using Cp936Encoder = std::optional<std::string> (*)(char16_t character, void* context);

// Text from the XML component as GB2312 bytes: ASCII as it is, GB2312 characters as
// their two bytes, everything else (GBK-only characters, characters outside the code
// page, surrogate pairs) as character references, which read back as the same
// character. A lone surrogate, which is no character, becomes U+FFFD.
template <typename Char>
std::string EncodeGb2312(std::basic_string_view<Char> text, Cp936Encoder encode, void* context) {
    static_assert(sizeof(Char) == 2, "UTF-16 text");
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<char16_t>(text[i]);
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
            continue;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            const auto low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out += CharacterReference(0x10000 + ((static_cast<std::uint32_t>(unit) - 0xD800) << 10) +
                                          (static_cast<std::uint32_t>(low) - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            out += CharacterReference(0xFFFD);
            continue;
        }
        const std::optional<std::string> bytes = encode(unit, context);
        if (bytes && bytes->size() == 2 &&
            IsGb2312Pair(static_cast<std::uint8_t>((*bytes)[0]), static_cast<std::uint8_t>((*bytes)[1]))) {
            out += *bytes;
        } else {
            out += CharacterReference(unit);
        }
    }
    return out;
}

}  // namespace varnox::config
