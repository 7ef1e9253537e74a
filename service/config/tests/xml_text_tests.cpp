// The file's text rules: which decoder a file gets, what the parser is given, and how
// text is written as GB2312.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "xml_text.h"

namespace varnox::config {
namespace {

TEST(XmlTextTest, TheFilesEncodingComesFromItsMarkOrItsDeclaration) {
    struct Case {
        std::string bytes;
        FileEncoding encoding;
        std::size_t mark;
    };
    const Case cases[] = {
        {"<?xml version=\"1.0\" encoding=\"GB2312\"?><Services/>", FileEncoding::Gb2312, 0},
        {"<?xml version=\"1.0\" encoding=\"gb2312\"?><Services/>", FileEncoding::Gb2312, 0},
        {"<?xml version='1.0' encoding='GBK'?><Services/>", FileEncoding::Gb2312, 0},
        {"<?xml version=\"1.0\" encoding = \"UTF-8\" ?><Services/>", FileEncoding::Utf8, 0},
        {"<?xml version=\"1.0\"?><Services/>", FileEncoding::Utf8, 0},
        {"<Services/>", FileEncoding::Utf8, 0},
        {"", FileEncoding::Utf8, 0},
        {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"GB2312\"?><Services/>", FileEncoding::Utf8, 3},
        {std::string("\xFF\xFE<\0?\0", 6), FileEncoding::Utf16LittleEndian, 2},
        {std::string("\xFE\xFF\0<\0?", 6), FileEncoding::Utf16BigEndian, 2},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Services/>", FileEncoding::Unknown, 0},
        {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><Services/>", FileEncoding::Unknown, 0},  // no mark
        {"<?xml version=\"1.0\" encoding=\"\"?><Services/>", FileEncoding::Unknown, 0},
        // "encoding" inside another pseudo-attribute's value is not the encoding.
        {"<?xml version=\"1.0\" x=\"a encoding='GBK'\"?>", FileEncoding::Utf8, 0},
    };
    for (const auto& c : cases) {
        const DetectedEncoding detected = DetectFileEncoding(c.bytes);
        EXPECT_EQ(detected.encoding, c.encoding) << c.bytes;
        EXPECT_EQ(detected.byteOrderMarkLength, c.mark) << c.bytes;
    }
}

TEST(XmlTextTest, TheParserGetsTheDeclarationWithoutItsEncoding) {
    const std::pair<std::string, std::string> cases[] = {
        {"<?xml version=\"1.0\" encoding=\"GB2312\"?><Services/>", "<?xml version=\"1.0\"?><Services/>"},
        {"<?xml version='1.0' encoding='GBK' standalone='yes'?><S/>", "<?xml version='1.0' standalone='yes'?><S/>"},
        {"<?xml version=\"1.0\"\n\tencoding = \"UTF-8\"?>\n<S/>", "<?xml version=\"1.0\"?>\n<S/>"},
        {"<?xml version=\"1.0\"?><S a=' encoding=\"x\"'/>", "<?xml version=\"1.0\"?><S a=' encoding=\"x\"'/>"},
        {"<S encoding=\"GB2312\"/>", "<S encoding=\"GB2312\"/>"},  // no declaration: untouched
        {"<?xml version=\"1.0\" encoding=\"GB2312\"", "<?xml version=\"1.0\" encoding=\"GB2312\""},  // unclosed
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(WithoutEncodingPseudoAttribute(std::string_view(in)), out) << in;
    }
    const std::u16string wide = u"<?xml version=\"1.0\" encoding=\"GB2312\"?><Services/>";
    EXPECT_EQ(WithoutEncodingPseudoAttribute(std::u16string_view(wide)), u"<?xml version=\"1.0\"?><Services/>");
}

TEST(XmlTextTest, ASerializedDocumentLosesItsOwnDeclaration) {
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"<?xml version=\"1.0\"?>\r\n<Services/>\r\n", u"<Services/>\r\n"},
        {u"<Services/>", u"<Services/>"},
        {u"<?xml-stylesheet href=\"a\"?><Services/>", u"<?xml-stylesheet href=\"a\"?><Services/>"},
        {u"<?xml version=\"1.0\"", u"<?xml version=\"1.0\""},
        {u"", u""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(WithoutDeclaration(std::u16string_view(in)), out);
}

// Code page 936 for a few characters, as the platform would answer.
std::optional<std::string> FewCharacters(char16_t character, void*) {
    static const std::map<char16_t, std::string> table = {
        {u'\u4E2D', "\xD6\xD0"},  // 中, GB2312
        {u'\u6587', "\xCE\xC4"},  // 文, GB2312
        {u'\u4E02', "\x81\x40"},  // 丂, GBK only: lead byte below 0xA1
        {u'\u20AC', "\x80"},      // €, a single non-ASCII byte in code page 936
        {u'\u00E9', "\xA8\xA6"},  // é, in GB2312's pinyin row
    };
    const auto it = table.find(character);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

TEST(XmlTextTest, TextIsWrittenAsGb2312WithReferencesForEverythingElse) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"<Server Source=\"C:\\a.img\"/>", "<Server Source=\"C:\\a.img\"/>"},
        {u"\u4E2D\u6587", "\xD6\xD0\xCE\xC4"},
        {u"caf\u00E9", "caf\xA8\xA6"},
        {u"\u4E02", "&#x4E02;"},
        {u"\u20AC", "&#x20AC;"},
        {u"\u00F1", "&#xF1;"},                        // not in the code page at all
        {u"a\U0001F600b", "a&#x1F600;b"},             // a surrogate pair is one character
        {std::u16string(u"x\xD800y"), "x&#xFFFD;y"},  // a lone surrogate is none
        {std::u16string(u"x\xDC00"), "x&#xFFFD;"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(EncodeGb2312(std::u16string_view(in), FewCharacters, nullptr), out);
    }
}

TEST(XmlTextTest, Gb2312PairsAreTheTwoHighRanges) {
    EXPECT_TRUE(IsGb2312Pair(0xA1, 0xA1));
    EXPECT_TRUE(IsGb2312Pair(0xF7, 0xFE));
    EXPECT_FALSE(IsGb2312Pair(0xF8, 0xA1));
    EXPECT_FALSE(IsGb2312Pair(0xA0, 0xA1));
    EXPECT_FALSE(IsGb2312Pair(0xB0, 0xA0));
    EXPECT_FALSE(IsGb2312Pair(0xB0, 0xFF));
    EXPECT_FALSE(IsGb2312Pair(0x81, 0x40));
}

TEST(XmlTextTest, CharacterReferencesAreHexadecimal) {
    EXPECT_EQ(CharacterReference(0xF1), "&#xF1;");
    EXPECT_EQ(CharacterReference(0x10FFFF), "&#x10FFFF;");
}

}  // namespace
}  // namespace varnox::config
