#pragma once
// What the server answers to each request, independent of how bytes move.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "protocol.h"

namespace varnox {

using Credential = std::array<std::uint8_t, CREDENTIAL_SIZE>;

// The two digests a share compares OP_AUTHENTICATE credentials with.
struct ShareCredentials {
    Credential password{};
    Credential managePassword{};
};

struct Refusal {
    std::uint16_t status;
};

// A read is refused before it touches the disk when the connection may not read, or
// when it is longer than one buffer; the denial wins over the length.
std::optional<Refusal> CheckRead(std::uint32_t access, std::uint32_t length);

// Checked only once the write's data have all arrived.
std::optional<Refusal> CheckWrite(std::uint32_t access, std::uint32_t length);

struct AuthenticateResult {
    std::uint16_t status;
    std::uint32_t newAccess;
    // The identity level passed to ClientConnected, when a credential matched.
    std::optional<std::uint32_t> connectedIdentity;
};

// Password first, ManagePassword second; a miss lowers the connection to no access.
AuthenticateResult Authenticate(std::span<const std::uint8_t, CREDENTIAL_SIZE> credential,
                                const ShareCredentials& share, std::uint32_t access);

// The response header is written over the request header in the same buffer; only the
// status, count and data-length fields are written, so the echo bytes 2..3 stay as the
// request had them.
void WriteResponseHeader(std::span<std::uint8_t> buffer, std::uint16_t status, std::uint32_t count,
                         std::uint32_t dataLength);

void WriteDiskInfo(std::span<std::uint8_t> buffer, std::uint32_t access, std::uint64_t diskSize);

// Puts the connection's value over the disk-signature field of a sector-0 read; the
// buffer always has room for it, whatever the read's length.
void ApplyDiskSignature(std::span<std::uint8_t> buffer, std::uint32_t signature);

// The status of a disk operation that could not be started: the error's low 16 bits.
inline std::uint16_t StartFailureStatus(std::uint32_t error) { return static_cast<std::uint16_t>(error & 0xFFFF); }

RequestHeader ReadRequestHeader(std::span<const std::uint8_t> buffer);

}  // namespace varnox
