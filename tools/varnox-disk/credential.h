#pragma once
// The credential a share compares: the SHA-1 digest of a password as typed, or the same
// digest given directly as 40 hex digits (the form a share's configuration keeps), so
// a script need not hold the password itself.

#include <string_view>

#include "request_rules.h"
#include "result.h"

namespace varnox::disk_tool {

Credential CredentialFromPassword(std::string_view password);

// Exactly 40 hex digits in either case; anything else is a usage error.
client::Result<Credential> CredentialFromHex(std::string_view hex);

}  // namespace varnox::disk_tool
