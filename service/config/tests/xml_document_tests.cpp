// The XML layer on its own: opening, walking, attributes and the bytes it writes.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config_test_files.h"
#include "xml_document.h"

namespace varnox::config {
namespace {

using testing::ReadBytes;
using testing::TempDirectory;
using testing::WriteBytes;

class XmlDocumentTest : public ::testing::Test {
protected:
    std::string Path(const char* name) { return directory.Path() + "\\" + name; }
    TempDirectory directory;
};

TEST_F(XmlDocumentTest, AMissingFileGivesTheDefaultDocument) {
    XmlDocument document;
    ASSERT_TRUE(document.Open(Path("none.xml")));
    EXPECT_TRUE(document.IsOpen());
    EXPECT_EQ(document.FileFound(), FileState::Missing);
    const XmlNode root = document.Root();
    ASSERT_TRUE(root);
    EXPECT_EQ(document.ChildCount(root), 0);
    EXPECT_FALSE(document.Child(root, 0));
}

TEST_F(XmlDocumentTest, AFileThatIsNotADocumentGivesTheDefaultDocument) {
    for (const char* bytes : {"<Services><Server>", "not xml at all", "<?xml version=\"1.0\" encoding=\"KOI8-R\"?><a/>",
                              "<a/><b/>", "<?xml version=\"1.0\"?>"}) {
        WriteBytes(Path("bad.xml"), bytes);
        XmlDocument document;
        ASSERT_TRUE(document.Open(Path("bad.xml"))) << bytes;
        EXPECT_EQ(document.FileFound(), FileState::Unreadable) << bytes;
        EXPECT_EQ(document.ChildCount(document.Root()), 0) << bytes;
    }
}

TEST_F(XmlDocumentTest, ChildrenAreCountedAndIndexed) {
    WriteBytes(Path("walk.xml"),
               "<?xml version=\"1.0\" encoding=\"GB2312\"?><Services><A/><!--c--><B/>text</Services>");
    XmlDocument document;
    ASSERT_TRUE(document.Open(Path("walk.xml")));
    EXPECT_EQ(document.FileFound(), FileState::Read);
    const XmlNode root = document.Root();
    ASSERT_EQ(document.ChildCount(root), 4);
    EXPECT_TRUE(document.IsElement(document.Child(root, 0)));
    EXPECT_FALSE(document.IsElement(document.Child(root, 1)));
    EXPECT_TRUE(document.IsElement(document.Child(root, 2)));
    EXPECT_FALSE(document.IsElement(document.Child(root, 3)));
    EXPECT_FALSE(document.Child(root, 4));  // index equal to the count
    EXPECT_FALSE(document.Child(root, -1));
    // Attribute operations on what is not an element fail without effect.
    std::int32_t value = 5;
    EXPECT_FALSE(document.GetIntAttribute(document.Child(root, 1), "x", value));
    EXPECT_FALSE(document.SetIntAttribute(document.Child(root, 1), "x", 1));
    EXPECT_EQ(value, 5);
    EXPECT_TRUE(document.RemoveChildren(root));
    EXPECT_EQ(document.ChildCount(root), 0);
}

TEST_F(XmlDocumentTest, TheRootIsTheDocumentElementEvenBeforeATrailingComment) {
    WriteBytes(Path("comment.xml"),
               "<?xml version=\"1.0\" encoding=\"GB2312\"?><Services><Server/></Services><!--end-->");
    XmlDocument document;
    ASSERT_TRUE(document.Open(Path("comment.xml")));
    EXPECT_EQ(document.ChildCount(document.Root()), 1);
}

TEST_F(XmlDocumentTest, AttributesRoundTripAndFailWithoutEffect) {
    XmlDocument document;
    ASSERT_TRUE(document.Open(Path("new.xml")));
    const XmlNode element = document.AppendElement(XmlNode(), "Server");
    ASSERT_TRUE(element);
    EXPECT_TRUE(document.SetIntAttribute(element, "Number", -939524086));
    EXPECT_TRUE(document.SetStringAttribute(element, "Text", "a \"quoted\" <value> & more"));
    EXPECT_TRUE(document.SetStringAttribute(element, "Word", "not a number"));

    std::int32_t number = 0;
    EXPECT_TRUE(document.GetIntAttribute(element, "Number", number));
    EXPECT_EQ(number, -939524086);
    number = 77;
    EXPECT_FALSE(document.GetIntAttribute(element, "Absent", number));
    EXPECT_FALSE(document.GetIntAttribute(element, "Word", number));
    EXPECT_EQ(number, 77);

    char text[8];
    std::memset(text, 'z', sizeof text);
    EXPECT_FALSE(document.GetStringAttribute(element, "Absent", text, sizeof text));
    EXPECT_EQ(text[0], 'z');
    EXPECT_TRUE(document.GetStringAttribute(element, "Text", text, sizeof text));
    EXPECT_STREQ(text, "a \"quot");  // cut to the capacity, terminated

    const XmlNode child = document.AppendElement(element, "Client");
    ASSERT_TRUE(child);
    EXPECT_EQ(document.ChildCount(element), 1);
    EXPECT_EQ(document.ChildCount(document.Root()), 1);
}

TEST_F(XmlDocumentTest, SavedFilesAreDeclaredAndEncodedAsGb2312) {
    {
        XmlDocument document;
        ASSERT_TRUE(document.Open(Path("out.xml")));
        const XmlNode element = document.AppendElement(XmlNode(), "Server");
        EXPECT_TRUE(document.SetIntAttribute(element, "Port", 3260));
        ASSERT_TRUE(document.SaveTo(Path("out.xml")));
    }
    const std::string bytes = ReadBytes(Path("out.xml"));
    EXPECT_EQ(bytes.rfind("<?xml version=\"1.0\" encoding=\"GB2312\"?>", 0), 0u) << bytes;
    // The component lays the document out on lines of its own.
    const std::size_t services = bytes.find("<Services>");
    const std::size_t server = bytes.find("<Server Port=\"3260\"/>");
    const std::size_t end = bytes.find("</Services>");
    EXPECT_TRUE(services != std::string::npos && server > services && end != std::string::npos && end > server)
        << bytes;
    // Only one declaration: the component's own was replaced.
    EXPECT_EQ(bytes.find("<?xml", 1), std::string::npos) << bytes;

    XmlDocument again;
    ASSERT_TRUE(again.Open(Path("out.xml")));
    EXPECT_EQ(again.FileFound(), FileState::Read);
    std::int32_t port = 0;
    EXPECT_TRUE(again.GetIntAttribute(again.Child(again.Root(), 0), "Port", port));
    EXPECT_EQ(port, 3260);
}

TEST_F(XmlDocumentTest, OtherEncodingsAreRead) {
    struct Case {
        const char* name;
        std::string bytes;
    };
    const std::wstring text = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><Services><S v=\"\u4E2D\"/></Services>";
    std::string little("\xFF\xFE"), big("\xFE\xFF");
    for (const wchar_t c : text) {
        little.push_back(static_cast<char>(c & 0xFF));
        little.push_back(static_cast<char>(c >> 8));
        big.push_back(static_cast<char>(c >> 8));
        big.push_back(static_cast<char>(c & 0xFF));
    }
    const Case cases[] = {
        {"gb2312", "<?xml version=\"1.0\" encoding=\"GB2312\"?><Services><S v=\"\xD6\xD0\"/></Services>"},
        {"gbk", "<?xml version='1.0' encoding='gbk'?><Services><S v=\"\xD6\xD0\"/></Services>"},
        {"utf8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Services><S v=\"\xE4\xB8\xAD\"/></Services>"},
        {"utf8bom", "\xEF\xBB\xBF<Services><S v=\"\xE4\xB8\xAD\"/></Services>"},
        {"utf16le", little},
        {"utf16be", big},
        {"reference", "<?xml version=\"1.0\" encoding=\"GB2312\"?><Services><S v=\"&#x4E2D;\"/></Services>"},
    };
    for (const auto& c : cases) {
        WriteBytes(Path("enc.xml"), c.bytes);
        // Read in code page 936, where the character has narrow bytes.
        XmlDocument document(936);
        ASSERT_TRUE(document.Open(Path("enc.xml"))) << c.name;
        EXPECT_EQ(document.FileFound(), FileState::Read) << c.name;
        char value[8] = {};
        EXPECT_TRUE(document.GetStringAttribute(document.Child(document.Root(), 0), "v", value, sizeof value))
            << c.name;
        EXPECT_STREQ(value, "\xD6\xD0") << c.name;
    }
}

TEST_F(XmlDocumentTest, BytesInvalidInTheDeclaredEncodingMakeTheFileUnreadable) {
    for (const char* bytes : {"<?xml version=\"1.0\" encoding=\"UTF-8\"?><Services a=\"\xFF\"/>",
                              "<?xml version=\"1.0\" encoding=\"GB2312\"?><Services a=\"\xD6\"/>"}) {
        WriteBytes(Path("invalid.xml"), bytes);
        XmlDocument document;
        ASSERT_TRUE(document.Open(Path("invalid.xml")));
        EXPECT_EQ(document.FileFound(), FileState::Unreadable) << bytes;
    }
}

TEST_F(XmlDocumentTest, StringsAreCutBetweenCharactersOfADoubleByteCodePage) {
    XmlDocument document(936);
    ASSERT_TRUE(document.Open(Path("cut.xml")));
    const XmlNode element = document.AppendElement(XmlNode(), "S");
    ASSERT_TRUE(document.SetStringAttribute(element, "v", "a\xD6\xD0\xCE\xC4"));
    char value[5];
    ASSERT_TRUE(document.GetStringAttribute(element, "v", value, sizeof value));
    EXPECT_STREQ(value, "a\xD6\xD0");  // room for 4 bytes, but not for half of the second character
}

}  // namespace
}  // namespace varnox::config
