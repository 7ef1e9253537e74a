#pragma once
// Digests as text: 40 hex digits, so a credential can be given or shown without the
// password it came from.

#include <string>
#include <string_view>

#include "sha1.h"

namespace varnox {

// Lowercase, two digits per byte, first byte first.
std::string DigestToHex(const Sha1Digest& digest);

struct DigestFromHex {
    Sha1Digest digest{};
    std::string error;  // empty when `digest` holds the parsed value
    bool ok() const { return error.empty(); }
};

// Exactly 40 hex digits in either case; anything else is an error naming what is wrong.
DigestFromHex ParseDigestHex(std::string_view text);

}  // namespace varnox
