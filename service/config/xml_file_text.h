#pragma once
// The bytes of Locals.xml and the text the XML component sees. The component cannot
// read or write the file's GB2312 itself, so reading decodes by the declared encoding
// and hands over text whose declaration names none; writing puts our declaration in
// front of the serialized document and encodes the rest as GB2312.

// clang-format off
#include <winsock2.h>  // before windows.h, which would bring in the old sockets header
#include <windows.h>
// clang-format on

#include <cstdint>
#include <string>
#include <string_view>

namespace varnox::config {

enum class FileState {
    Read,        // the file was read and decoded
    Missing,     // no file, or an empty one: nothing to lose
    Unreadable,  // a file is there but cannot be taken as text in a known encoding
};

struct XmlFileText {
    FileState state = FileState::Missing;
    std::wstring text;  // for Read: the document, its declaration without an encoding
};

// Files larger than this are not read as a configuration.
inline constexpr std::uint64_t MAX_CONFIGURATION_FILE_SIZE = 64ull * 1024 * 1024;

XmlFileText ReadXmlFile(const std::string& path);

// The file's bytes for a serialized document: the GB2312 declaration, a line break, and
// the document without its own declaration in GB2312.
std::string EncodeXmlFile(std::wstring_view serialized);

// Writes the bytes in place of whatever the path held; false (with a diagnostic line)
// when any step fails.
bool WriteFileBytes(const std::string& path, std::string_view bytes);

}  // namespace varnox::config
