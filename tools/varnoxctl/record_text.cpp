#include "record_text.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>

namespace varnox::console {

std::string FormatAddress(std::uint32_t address) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &address, sizeof bytes);
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." + std::to_string(bytes[2]) + "." +
           std::to_string(bytes[3]);
}

std::optional<std::uint32_t> ParseAddress(std::string_view text) {
    if (text == "any") return 0u;
    std::array<std::uint8_t, 4> bytes{};
    std::size_t part = 0;
    std::size_t position = 0;
    while (part < bytes.size()) {
        std::size_t digits = 0;
        unsigned value = 0;
        while (position < text.size() && text[position] >= '0' && text[position] <= '9' && digits < 4) {
            value = value * 10 + static_cast<unsigned>(text[position] - '0');
            ++position;
            ++digits;
        }
        // No leading zeros: "010" reads as octal in some tools and as ten in others.
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[position - digits] == '0')) {
            return std::nullopt;
        }
        bytes[part++] = static_cast<std::uint8_t>(value);
        if (part < bytes.size()) {
            if (position >= text.size() || text[position] != '.') return std::nullopt;
            ++position;
        }
    }
    if (position != text.size()) return std::nullopt;
    std::uint32_t address = 0;
    std::memcpy(&address, bytes.data(), sizeof address);
    return address;
}

std::string AccessName(std::uint8_t access) {
    switch (access) {
    case 0:
        return "full";
    case 1:
        return "read-only";
    default:
        return "none";
    }
}

std::optional<std::uint8_t> ParseAccess(std::string_view text) {
    if (text == "full") return std::uint8_t{0};
    if (text == "read-only") return std::uint8_t{1};
    if (text == "none") return std::uint8_t{2};
    return std::nullopt;
}

std::string FormatCapacity(std::uint64_t bytes) {
    static constexpr const char* UNITS[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    std::size_t unit = 0;
    double value = static_cast<double>(bytes);
    while (value >= 1024.0 && unit + 1 < std::size(UNITS)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, UNITS[unit]);
    return text;
}

std::optional<std::uint64_t> ParseCapacity(std::string_view text) {
    unsigned shift = 0;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K':
        case 'k':
            shift = 10;
            break;
        case 'M':
        case 'm':
            shift = 20;
            break;
        case 'G':
        case 'g':
            shift = 30;
            break;
        case 'T':
        case 't':
            shift = 40;
            break;
        default:
            break;
        }
        if (shift != 0) text.remove_suffix(1);
    }
    const auto count = ParseInteger(text, 0, std::numeric_limits<std::int64_t>::max());
    if (!count) return std::nullopt;
    const auto value = static_cast<std::uint64_t>(*count);
    if (shift != 0 && value > (std::numeric_limits<std::uint64_t>::max() >> shift)) return std::nullopt;
    return value << shift;
}

std::optional<std::int64_t> ParseInteger(std::string_view text, std::int64_t minimum, std::int64_t maximum) {
    bool negative = false;
    if (!text.empty() && text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        if (value > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative) value = -value;
    if (value < minimum || value > maximum) return std::nullopt;
    return value;
}

std::string HostNameText(const config::ClientRecord& record) {
    switch (record.HasName) {
    case config::HAS_NAME_RESOLVED: {
        const std::size_t length = strnlen(record.HostName, sizeof record.HostName);
        return std::string(record.HostName, length);
    }
    case config::HAS_NAME_NOT_RESOLVED:
        return "(not looked up yet)";
    default:
        return "(no name found)";
    }
}

std::string StatusText(std::uint8_t status) {
    switch (status) {
    case config::CLIENT_STATUS_STATIC:
        return "configured";
    case config::CLIENT_STATUS_CONNECTED:
        return "connected";
    default:
        return "status " + std::to_string(status);
    }
}

}  // namespace varnox::console
