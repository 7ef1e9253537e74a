#pragma once
// The credential a client presents for a password: SHA-1 of the password's bytes exactly
// as typed in the ANSI code page, without a terminator. The server compares digests only,
// so the password itself never crosses the network.

#include <string_view>

#include "sha1.h"

namespace varnox {

Sha1Digest PasswordDigest(std::string_view password);

}  // namespace varnox
