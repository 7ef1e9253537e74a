#pragma once
// How each record field is written as a Locals.xml attribute value and read back. The
// forms are fixed by the files already out there, so each rule is a small function of
// its own and every quirk (signed decimals of unsigned values, sectors instead of bytes,
// digests as lowercase hex pairs) is kept on purpose.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records.h"

namespace varnox::config {

// An IPv4 address field (the four bytes in network order, as they lie in a socket
// address) is written as those bytes read as a little-endian signed 32-bit number:
// 10.0.0.200 is -939524086, 192.168.0.1 is 16820416.
std::int32_t AddressToAttribute(std::uint32_t address);
std::uint32_t AddressFromAttribute(std::int32_t value);

// A capacity in bytes is written as 512-byte sectors, rounded toward zero, in a signed
// 32-bit number (only the low 32 bits of the count are kept); it is read back as an
// unsigned count. 2 TiB - 512 bytes is written as -1 and survives.
std::int32_t CapabilityToAttribute(std::uint64_t bytes);
std::uint64_t CapabilityFromAttribute(std::int32_t value);

// A 20-byte digest is written as "%02x" per byte, first byte first.
std::string DigestToAttribute(const std::uint8_t (&digest)[DIGEST_SIZE]);
// Reads the first 40 characters two at a time; a pair that is not two hex digits, and
// every pair missing from a short text, leaves its byte zero. Never fails.
void DigestFromAttribute(std::string_view text, std::uint8_t (&digest)[DIGEST_SIZE]);

// Only a resolved name is saved as resolved; a failed resolution is tried again after
// the next start, so it is saved as "0".
std::int32_t HasNameToAttribute(std::uint8_t hasName);
// The host name is written only for a record that has one, cut to 127 characters.
std::string_view HostNameToAttribute(const ClientRecord& client);
// The source as a string: never more than 259 characters, even when the field holds no
// terminator.
std::string_view SourceToAttribute(const ServerRecord& server);

// Numbers are read into wider fields and cut: a port keeps its low 16 bits, an access
// level and a host-name state their low 8 bits.
std::uint16_t PortFromAttribute(std::int32_t value);
std::uint8_t ByteFromAttribute(std::int32_t value);

// Copies text into a fixed field, cut to capacity - 1 characters and zero-terminated; the
// rest of the field is zeroed.
void CopyToField(std::string_view text, char* field, std::size_t capacity);

// The decimal text of a 32-bit signed number, as an attribute holds it: optional blanks,
// an optional sign, digits, optional blanks. Anything else, or a value out of range,
// gives nothing.
std::optional<std::int32_t> ParseAttributeInt(std::string_view text);

}  // namespace varnox::config
