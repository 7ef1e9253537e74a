#pragma once
// Which attributes a Server and a Client element carry, in which order they are written
// and how each is read back. The XML layer only moves named values in and out of an
// element; everything a record's fields mean to the file is decided here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records.h"

namespace varnox::config {

// An element being written: attributes are set in call order.
class AttributeWriter {
public:
    virtual ~AttributeWriter() = default;
    virtual void SetInt(const char* name, std::int32_t value) = 0;
    virtual void SetString(const char* name, std::string_view value) = 0;
};

// An element being read: nothing when the attribute is absent or (for numbers) its text
// is not a 32-bit decimal; strings come back cut to capacity - 1 characters.
class AttributeReader {
public:
    virtual ~AttributeReader() = default;
    virtual std::optional<std::int32_t> GetInt(const char* name) = 0;
    virtual std::optional<std::string> GetString(const char* name, std::size_t capacity) = 0;
};

// IpAddress, Port, Source, Capability, Started, Cache, AuthMode, Password, ManagePassword.
void WriteServerAttributes(const ServerRecord& server, AttributeWriter& element);
// IpAddress, Access, HasName, HostName.
void WriteClientAttributes(const ClientRecord& client, AttributeWriter& element);

// A zeroed record with every attribute that is present and readable filled in.
ServerRecord ReadServerAttributes(AttributeReader& element);
// As above; the host name is read only when HasName is not 0.
ClientRecord ReadClientAttributes(AttributeReader& element);

}  // namespace varnox::config
