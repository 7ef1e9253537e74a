#include "password_digest.h"

namespace varnox {

Sha1Digest PasswordDigest(std::string_view password) {
    Sha1 sha;
    sha.Update(password);
    return sha.Finish();
}

}  // namespace varnox
