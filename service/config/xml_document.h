#pragma once
// XmlDocument: one MSXML DOM document, reached through COM, with narrow strings and
// 32-bit integers at its surface. One instance serves one load or one save on one
// thread and is closed before that returns; Open initialises COM on that thread and
// Close uninitialises it.
//
// The file's bytes are read and written here, not by the component, which cannot handle
// the GB2312 the file is in (see xml_file_text.h).

// clang-format off
#include <winsock2.h>  // before windows.h, which would bring in the old sockets header
#include <windows.h>
// clang-format on
#include <msxml.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "xml_file_text.h"

namespace varnox::config {

// A counted reference to a DOM node; empty for "none".
class XmlNode {
public:
    XmlNode() = default;
    explicit XmlNode(IXMLDOMNode* adopted) : node_(adopted) {}
    XmlNode(const XmlNode& other);
    XmlNode& operator=(const XmlNode& other);
    ~XmlNode();

    explicit operator bool() const { return node_ != nullptr; }
    IXMLDOMNode* get() const { return node_; }

private:
    IXMLDOMNode* node_ = nullptr;
};

class XmlDocument {
public:
    // Narrow strings are in this code page: the system's ANSI code page, or another one a
    // test wants to stand in for it.
    explicit XmlDocument(UINT codePage = CP_ACP) : codePage_(codePage) {}
    ~XmlDocument() { Close(); }
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Loads the file at the path, or the default document (an empty Services element)
    // when the file is missing or cannot be read as a document. False only when the
    // component itself is not available.
    bool Open(const std::string& path);
    bool IsOpen() const { return open_; }
    // How the file at the path was found by Open.
    FileState FileFound() const { return fileFound_; }

    // The document element. (Not the last child: a comment after the element would be.)
    XmlNode Root();
    long ChildCount(const XmlNode& node);
    // The child at a 0-based index, or none at or beyond the count.
    XmlNode Child(const XmlNode& node, long index);
    bool IsElement(const XmlNode& node);
    bool RemoveChildren(const XmlNode& node);
    // A new element appended to the parent, or to the root when the parent is empty.
    XmlNode AppendElement(const XmlNode& parent, const char* name);

    bool SetIntAttribute(const XmlNode& element, const char* name, std::int32_t value);
    bool SetStringAttribute(const XmlNode& element, const char* name, std::string_view value);
    // Fail, leaving the output as it was, when the attribute is absent or (for the
    // integer) its text is not a 32-bit decimal.
    bool GetIntAttribute(const XmlNode& element, const char* name, std::int32_t& value);
    // The value cut to capacity - 1 characters and zero-terminated.
    bool GetStringAttribute(const XmlNode& element, const char* name, char* buffer, std::size_t capacity);

    // Writes the document to the path as Locals.xml is written; true only when every
    // step succeeded.
    bool SaveTo(const std::string& path);
    void Close();

private:
    bool LoadText(const std::wstring& text);
    IXMLDOMElement* ElementOf(const XmlNode& node);
    bool AttributeText(const XmlNode& element, const char* name, std::wstring& text);
    std::optional<std::wstring> Widen(std::string_view text) const;

    UINT codePage_;
    IXMLDOMDocument* document_ = nullptr;
    IXMLDOMNode* documentNode_ = nullptr;
    bool open_ = false;
    bool comInitialized_ = false;
    FileState fileFound_ = FileState::Missing;
};

}  // namespace varnox::config
