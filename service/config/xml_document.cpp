#include "xml_document.h"

#include <oleauto.h>

#include <cstring>
#include <optional>

#include "attribute_encoding.h"
#include "log_line.h"
#include "xml_text.h"

namespace varnox::config {

namespace {

// DOMDocument of MSXML 3. MinGW's uuid library carries the class of an older version
// under the same name, so ours is spelled out here.
constexpr CLSID kDomDocumentClass = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};

class Bstr {
public:
    explicit Bstr(std::wstring_view text) : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value_; }
    explicit operator bool() const { return value_ != nullptr; }

private:
    BSTR value_;
};

std::wstring AsciiWide(const char* name) {
    std::wstring wide;
    for (const char* c = name; *c != 0; ++c) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return wide;
}

template <typename Interface>
void Release(Interface*& pointer) {
    if (pointer != nullptr) pointer->Release();
    pointer = nullptr;
}

bool Succeeded(HRESULT result, const char* call) {
    if (SUCCEEDED(result)) return true;
    LogLine("%s failed: 0x%08lx\n", call, static_cast<unsigned long>(result));
    return false;
}

}  // namespace

XmlNode::XmlNode(const XmlNode& other) : node_(other.node_) {
    if (node_ != nullptr) node_->AddRef();
}

XmlNode& XmlNode::operator=(const XmlNode& other) {
    if (other.node_ != nullptr) other.node_->AddRef();
    if (node_ != nullptr) node_->Release();
    node_ = other.node_;
    return *this;
}

XmlNode::~XmlNode() {
    if (node_ != nullptr) node_->Release();
}

bool XmlDocument::Open(const std::string& path) {
    Close();
    // A multithreaded apartment: the threads that load and save (the service's, the
    // management call threads) never pump messages, which a single-threaded apartment
    // needs, and creating one makes Wine start a desktop, a 10-second wait without a
    // display. S_FALSE (already initialised) is balanced as well; a thread in the other
    // mode can still use the in-process component.
    comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    if (!Succeeded(CoCreateInstance(kDomDocumentClass, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                    reinterpret_cast<void**>(&document_)),
                   "CoCreateInstance()")) {
        document_ = nullptr;
        return false;
    }
    if (!Succeeded(document_->put_async(VARIANT_FALSE), "put_async()")) return false;
    // A configuration never needs anything from outside the file.
    Succeeded(document_->put_resolveExternals(VARIANT_FALSE), "put_resolveExternals()");
    Succeeded(document_->put_validateOnParse(VARIANT_FALSE), "put_validateOnParse()");

    const XmlFileText file = ReadXmlFile(path);
    fileFound_ = file.state;
    bool loaded = file.state == FileState::Read && LoadText(file.text);
    if (file.state == FileState::Read && !loaded) fileFound_ = FileState::Unreadable;
    if (!loaded) {
        const std::string body = DEFAULT_DOCUMENT_BODY;
        if (!LoadText(std::wstring(body.begin(), body.end()))) {
            LogLine("loadXML() failed for the default document\n");
            return false;
        }
    }
    if (!Succeeded(document_->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(&documentNode_)),
                   "QueryInterface(IXMLDOMNode)")) {
        documentNode_ = nullptr;
        return false;
    }
    open_ = true;
    return true;
}

bool XmlDocument::LoadText(const std::wstring& text) {
    // A NUL is no XML character; the component would see only the text before it.
    if (text.find(L'\0') != std::wstring::npos) return false;
    const Bstr source(text);
    if (!source) return false;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (FAILED(document_->loadXML(source.get(), &loaded)) || loaded != VARIANT_TRUE) return false;
    IXMLDOMElement* root = nullptr;
    const HRESULT result = document_->get_documentElement(&root);
    const bool hasRoot = result == S_OK && root != nullptr;
    Release(root);
    return hasRoot;
}

XmlNode XmlDocument::Root() {
    if (!open_) return {};
    IXMLDOMElement* root = nullptr;
    if (document_->get_documentElement(&root) != S_OK || root == nullptr) return {};
    IXMLDOMNode* node = nullptr;
    const HRESULT result = root->QueryInterface(IID_IXMLDOMNode, reinterpret_cast<void**>(&node));
    Release(root);
    return SUCCEEDED(result) ? XmlNode(node) : XmlNode();
}

long XmlDocument::ChildCount(const XmlNode& node) {
    if (!node) return 0;
    IXMLDOMNodeList* children = nullptr;
    if (node.get()->get_childNodes(&children) != S_OK || children == nullptr) return 0;
    long length = 0;
    if (FAILED(children->get_length(&length))) length = 0;
    Release(children);
    return length;
}

XmlNode XmlDocument::Child(const XmlNode& node, long index) {
    if (!node || index < 0) return {};
    IXMLDOMNodeList* children = nullptr;
    if (node.get()->get_childNodes(&children) != S_OK || children == nullptr) return {};
    long length = 0;
    IXMLDOMNode* child = nullptr;
    if (SUCCEEDED(children->get_length(&length)) && index < length) {
        if (children->get_item(index, &child) != S_OK) child = nullptr;
    }
    Release(children);
    return XmlNode(child);
}

bool XmlDocument::IsElement(const XmlNode& node) {
    if (!node) return false;
    DOMNodeType type = NODE_INVALID;
    return SUCCEEDED(node.get()->get_nodeType(&type)) && type == NODE_ELEMENT;
}

bool XmlDocument::RemoveChildren(const XmlNode& node) {
    if (!node) return false;
    const long count = ChildCount(node);
    for (long i = 0; i < count; ++i) {
        IXMLDOMNode* first = nullptr;
        if (node.get()->get_firstChild(&first) != S_OK || first == nullptr) return false;
        IXMLDOMNode* removed = nullptr;
        const HRESULT result = node.get()->removeChild(first, &removed);
        Release(removed);
        Release(first);
        if (!Succeeded(result, "removeChild()")) return false;
    }
    return true;
}

XmlNode XmlDocument::AppendElement(const XmlNode& parent, const char* name) {
    if (!open_) return {};
    const XmlNode target = parent ? parent : Root();
    if (!target) return {};
    const Bstr elementName(AsciiWide(name));
    const Bstr noNamespace(L"");
    VARIANT type;
    VariantInit(&type);
    V_VT(&type) = VT_I4;
    V_I4(&type) = NODE_ELEMENT;
    IXMLDOMNode* created = nullptr;
    if (!Succeeded(document_->createNode(type, elementName.get(), noNamespace.get(), &created), "createNode()")) {
        return {};
    }
    IXMLDOMNode* appended = nullptr;
    const HRESULT result = target.get()->appendChild(created, &appended);
    Release(created);
    if (!Succeeded(result, "appendChild()")) return {};
    return XmlNode(appended);
}

IXMLDOMElement* XmlDocument::ElementOf(const XmlNode& node) {
    if (!node) return nullptr;
    IXMLDOMElement* element = nullptr;
    if (FAILED(node.get()->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element)))) return nullptr;
    return element;
}

bool XmlDocument::SetIntAttribute(const XmlNode& element, const char* name, std::int32_t value) {
    IXMLDOMElement* target = ElementOf(element);
    if (target == nullptr) return false;
    const Bstr attribute(AsciiWide(name));
    VARIANT number;
    VariantInit(&number);
    V_VT(&number) = VT_I4;
    V_I4(&number) = value;
    const HRESULT result = target->setAttribute(attribute.get(), number);
    Release(target);
    return Succeeded(result, "setAttribute()");
}

bool XmlDocument::SetStringAttribute(const XmlNode& element, const char* name, std::string_view value) {
    IXMLDOMElement* target = ElementOf(element);
    if (target == nullptr) return false;
    const std::optional<std::wstring> wide = Widen(value);
    if (!wide) {
        Release(target);
        return false;
    }
    const Bstr attribute(AsciiWide(name));
    const Bstr text(*wide);
    VARIANT string;
    VariantInit(&string);
    V_VT(&string) = VT_BSTR;
    V_BSTR(&string) = text.get();
    const HRESULT result = text ? target->setAttribute(attribute.get(), string) : E_OUTOFMEMORY;
    Release(target);
    return Succeeded(result, "setAttribute()");
}

bool XmlDocument::AttributeText(const XmlNode& element, const char* name, std::wstring& text) {
    IXMLDOMElement* source = ElementOf(element);
    if (source == nullptr) return false;
    const Bstr attribute(AsciiWide(name));
    VARIANT value;
    VariantInit(&value);
    const HRESULT result = source->getAttribute(attribute.get(), &value);
    Release(source);
    // An absent attribute is S_FALSE with VT_NULL.
    const bool found = result == S_OK && V_VT(&value) == VT_BSTR;
    if (found) text.assign(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
    VariantClear(&value);
    return found;
}

bool XmlDocument::GetIntAttribute(const XmlNode& element, const char* name, std::int32_t& value) {
    std::wstring text;
    if (!AttributeText(element, name, text)) return false;
    std::string ascii;
    for (const wchar_t c : text) {
        if (c >= 0x80) return false;
        ascii.push_back(static_cast<char>(c));
    }
    const auto parsed = ParseAttributeInt(ascii);
    if (!parsed) return false;
    value = *parsed;
    return true;
}

bool XmlDocument::GetStringAttribute(const XmlNode& element, const char* name, char* buffer, std::size_t capacity) {
    if (capacity == 0) return false;
    std::wstring text;
    if (!AttributeText(element, name, text)) return false;
    std::string narrow;
    if (!text.empty()) {
        const int length =
            WideCharToMultiByte(codePage_, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
        if (length <= 0) return false;
        narrow.resize(static_cast<std::size_t>(length));
        if (WideCharToMultiByte(codePage_, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length,
                                nullptr, nullptr) != length) {
            return false;
        }
    }
    // Cut between characters: in a double-byte code page a lead byte keeps its trail.
    std::size_t cut = 0;
    while (cut < narrow.size()) {
        const std::size_t width =
            IsDBCSLeadByteEx(codePage_, static_cast<BYTE>(narrow[cut])) && cut + 1 < narrow.size() ? 2 : 1;
        if (cut + width > capacity - 1) break;
        cut += width;
    }
    std::memcpy(buffer, narrow.data(), cut);
    buffer[cut] = 0;
    return true;
}

std::optional<std::wstring> XmlDocument::Widen(std::string_view text) const {
    if (text.empty()) return std::wstring();
    const int length = MultiByteToWideChar(codePage_, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(codePage_, 0, text.data(), static_cast<int>(text.size()), wide.data(), length) != length) {
        return std::nullopt;
    }
    return wide;
}

bool XmlDocument::SaveTo(const std::string& path) {
    if (!open_) return false;
    BSTR serialized = nullptr;
    if (!Succeeded(document_->get_xml(&serialized), "get_xml()") || serialized == nullptr) return false;
    const std::string bytes = EncodeXmlFile(std::wstring_view(serialized, SysStringLen(serialized)));
    SysFreeString(serialized);
    return WriteFileBytes(path, bytes);
}

void XmlDocument::Close() {
    Release(documentNode_);
    Release(document_);
    open_ = false;
    if (comInitialized_) CoUninitialize();
    comInitialized_ = false;
}

}  // namespace varnox::config
