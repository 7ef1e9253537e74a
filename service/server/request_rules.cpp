#include "request_rules.h"

#include <algorithm>
#include <cstring>

namespace varnox {

namespace {

template <typename T>
void Store(std::span<std::uint8_t> buffer, std::size_t offset, T value) {
    std::memcpy(buffer.data() + offset, &value, sizeof value);
}

}  // namespace

std::optional<Refusal> CheckRead(std::uint32_t access, std::uint32_t length) {
    if (!ReadAllowed(access)) return Refusal{ERR_ACCESS_DENIED};
    if (length > MAX_TRANSFER_LENGTH) return Refusal{ERR_REQUEST_FAILED};
    return std::nullopt;
}

std::optional<Refusal> CheckWrite(std::uint32_t access, std::uint32_t length) {
    if (!WriteAllowed(access) || length > MAX_TRANSFER_LENGTH) return Refusal{ERR_ACCESS_DENIED};
    return std::nullopt;
}

AuthenticateResult Authenticate(std::span<const std::uint8_t, CREDENTIAL_SIZE> credential,
                                const ShareCredentials& share, std::uint32_t access) {
    if (std::equal(credential.begin(), credential.end(), share.password.begin())) {
        return {STATUS_OK, access, ACCESS_READ_ONLY};
    }
    if (std::equal(credential.begin(), credential.end(), share.managePassword.begin())) {
        return {STATUS_OK, ACCESS_FULL, ACCESS_FULL};
    }
    return {ERR_ACCESS_DENIED, ACCESS_NONE, std::nullopt};
}

void WriteResponseHeader(std::span<std::uint8_t> buffer, std::uint16_t status, std::uint32_t count,
                         std::uint32_t dataLength) {
    Store(buffer, offsetof(ResponseHeader, status), status);
    Store(buffer, offsetof(ResponseHeader, count), count);
    Store(buffer, offsetof(ResponseHeader, dataLength), dataLength);
}

void WriteDiskInfo(std::span<std::uint8_t> buffer, std::uint32_t access, std::uint64_t diskSize) {
    DiskInfo info{};
    info.access = static_cast<std::uint8_t>(access);
    info.size = diskSize;
    std::memcpy(buffer.data() + READ_DATA_OFFSET, &info, sizeof info);
}

void ApplyDiskSignature(std::span<std::uint8_t> buffer, std::uint32_t signature) {
    Store(buffer, READ_DATA_OFFSET + DISK_SIGNATURE_OFFSET, signature);
}

RequestHeader ReadRequestHeader(std::span<const std::uint8_t> buffer) {
    RequestHeader header;
    std::memcpy(&header, buffer.data(), sizeof header);
    return header;
}

}  // namespace varnox
