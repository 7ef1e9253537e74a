#pragma once
// The fields of server and client records in the words a console user reads and types:
// dotted addresses ("any" for the any-address record), access levels by name, sizes in
// binary units, host-name states.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "records.h"

namespace varnox::console {

// `address` as the records hold it: the four bytes in network order.
std::string FormatAddress(std::uint32_t address);
// "a.b.c.d" with each part 0..255 in plain decimal, or "any" (address 0).
std::optional<std::uint32_t> ParseAddress(std::string_view text);

// "full", "read-only", "none"; every level from 2 up is no access.
std::string AccessName(std::uint8_t access);
std::optional<std::uint8_t> ParseAccess(std::string_view text);

// Bytes in the largest binary unit that keeps one decimal: "512 B", "1.5 GiB".
std::string FormatCapacity(std::uint64_t bytes);
// Decimal bytes with an optional K, M, G or T binary suffix ("4096", "64M").
std::optional<std::uint64_t> ParseCapacity(std::string_view text);

// Whole decimal numbers in a range, as handles, ports and settings are typed.
std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t minimum, std::int64_t maximum);

// The host-name column: the name, or what became of the lookup.
std::string HostNameText(const config::ClientRecord& record);

// The connected list's Status: 1 for a client that proved a password; other values are
// shown by number, so a service that lists more kinds of records is still readable.
std::string StatusText(std::uint8_t status);

}  // namespace varnox::console
