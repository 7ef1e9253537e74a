#include "credential.h"

#include <string>
#include <type_traits>

#include "digest_hex.h"
#include "password_digest.h"

namespace varnox::disk_tool {

static_assert(std::is_same_v<Sha1Digest, Credential>, "a password digest is what a share compares");

Credential CredentialFromPassword(std::string_view password) {
    return PasswordDigest(password);
}

client::Result<Credential> CredentialFromHex(std::string_view hex) {
    const DigestFromHex parsed = ParseDigestHex(hex);
    if (!parsed.ok()) return client::Error{client::ErrorKind::Usage, 0, "--digest: " + parsed.error};
    return parsed.digest;
}

}  // namespace varnox::disk_tool
