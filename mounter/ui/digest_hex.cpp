#include "digest_hex.h"

namespace varnox {

namespace {

constexpr std::string_view HEX_DIGITS = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string DigestToHex(const Sha1Digest& digest) {
    std::string text;
    text.reserve(2 * digest.size());
    for (const std::uint8_t byte : digest) {
        text.push_back(HEX_DIGITS[byte >> 4]);
        text.push_back(HEX_DIGITS[byte & 0x0F]);
    }
    return text;
}

DigestFromHex ParseDigestHex(std::string_view text) {
    DigestFromHex result;
    if (text.size() != 2 * SHA1_DIGEST_SIZE) {
        result.error = "a digest is 40 hex digits, not " + std::to_string(text.size()) + " characters";
        return result;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (HexValue(text[i]) < 0) {
            result.error = "a digest is 40 hex digits; character " + std::to_string(i + 1) + " is not one";
            return result;
        }
    }
    for (std::size_t i = 0; i < SHA1_DIGEST_SIZE; ++i) {
        result.digest[i] = static_cast<std::uint8_t>(HexValue(text[2 * i]) << 4 | HexValue(text[2 * i + 1]));
    }
    return result;
}

}  // namespace varnox
