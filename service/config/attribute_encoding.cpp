#include "attribute_encoding.h"

#include <cstring>
#include <limits>

namespace varnox::config {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::int32_t AddressToAttribute(std::uint32_t address) {
    // The field's bytes as they lie in memory, whatever the host's byte order.
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    const std::uint32_t littleEndian =
        static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
        static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return static_cast<std::int32_t>(littleEndian);
}

std::uint32_t AddressFromAttribute(std::int32_t value) {
    const auto littleEndian = static_cast<std::uint32_t>(value);
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(littleEndian), static_cast<std::uint8_t>(littleEndian >> 8),
        static_cast<std::uint8_t>(littleEndian >> 16), static_cast<std::uint8_t>(littleEndian >> 24)};
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

std::int32_t CapabilityToAttribute(std::uint64_t bytes) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes / 512));
}

std::uint64_t CapabilityFromAttribute(std::int32_t value) {
    return static_cast<std::uint64_t>(static_cast<std::uint32_t>(value)) * 512;
}

std::string DigestToAttribute(const std::uint8_t (&digest)[DIGEST_SIZE]) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(DIGEST_SIZE * 2);
    for (const std::uint8_t byte : digest) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

void DigestFromAttribute(std::string_view text, std::uint8_t (&digest)[DIGEST_SIZE]) {
    for (std::size_t i = 0; i < DIGEST_SIZE; ++i) {
        digest[i] = 0;
        if (2 * i + 1 >= text.size()) continue;
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) continue;
        digest[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
}

std::int32_t HasNameToAttribute(std::uint8_t hasName) {
    return hasName == HAS_NAME_RESOLVED ? 1 : 0;
}

std::string_view HostNameToAttribute(const ClientRecord& client) {
    if (client.HasName == HAS_NAME_NOT_RESOLVED) return {};
    return {client.HostName, strnlen(client.HostName, HOST_NAME_CAPACITY - 1)};
}

std::string_view SourceToAttribute(const ServerRecord& server) {
    return {server.Source, strnlen(server.Source, SOURCE_CAPACITY - 1)};
}

std::uint16_t PortFromAttribute(std::int32_t value) {
    return static_cast<std::uint16_t>(value);
}

std::uint8_t ByteFromAttribute(std::int32_t value) {
    return static_cast<std::uint8_t>(value);
}

void CopyToField(std::string_view text, char* field, std::size_t capacity) {
    if (capacity == 0) return;
    const std::size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::memset(field, 0, capacity);
    std::memcpy(field, text.data(), length);
}

std::optional<std::int32_t> ParseAttributeInt(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && IsBlank(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const std::size_t digitsStart = at;
    // Accumulated as a magnitude so that the most negative value still fits.
    std::uint64_t magnitude = 0;
    constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[at] - '0');
        if (magnitude > kLimit) return std::nullopt;
        ++at;
    }
    if (at == digitsStart) return std::nullopt;
    while (at < text.size() && IsBlank(text[at])) ++at;
    if (at != text.size()) return std::nullopt;
    if (!negative && magnitude == kLimit) return std::nullopt;
    const auto value = negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(value);
}

}  // namespace varnox::config
