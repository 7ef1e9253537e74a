#pragma once
// The block protocol's records and constants. Everything on the wire is little-endian;
// both platforms we build for are little-endian, so the records are used in place.

#include <bit>
#include <cstddef>
#include <cstdint>

namespace varnox {

static_assert(std::endian::native == std::endian::little, "the wire records are little-endian");

inline constexpr std::uint8_t OP_READ = 0x82;
inline constexpr std::uint8_t OP_WRITE = 0x83;
inline constexpr std::uint8_t OP_GET_INFO = 0x84;
inline constexpr std::uint8_t OP_AUTHENTICATE = 0x85;

inline constexpr std::uint16_t STATUS_OK = 0;
inline constexpr std::uint16_t ERR_REQUEST_FAILED = 0x2002;
inline constexpr std::uint16_t ERR_ACCESS_DENIED = 0x2004;

inline constexpr std::uint32_t ACCESS_FULL = 0;
inline constexpr std::uint32_t ACCESS_READ_ONLY = 1;
inline constexpr std::uint32_t ACCESS_NONE = 2;

inline constexpr std::uint32_t MAX_TRANSFER_LENGTH = 0x200000;

inline constexpr std::size_t CREDENTIAL_SIZE = 20;

#pragma pack(push, 1)

struct RequestHeader {
    std::uint8_t opcode;
    std::uint8_t reserved1;
    std::uint16_t echo;
    std::uint32_t reserved4;
    std::uint64_t offset;  // OP_AUTHENTICATE: the credential starts here
    std::uint32_t length;
    std::uint8_t reserved20[12];
};

struct ResponseHeader {
    std::uint16_t status;
    std::uint16_t echo;
    std::uint32_t count;
    std::uint32_t dataLength;
};

struct DiskInfo {
    std::uint8_t reserved0;
    std::uint8_t access;
    std::uint8_t reserved2[6];
    std::uint64_t size;
};

#pragma pack(pop)

static_assert(sizeof(RequestHeader) == 32);
static_assert(offsetof(RequestHeader, opcode) == 0);
static_assert(offsetof(RequestHeader, echo) == 2);
static_assert(offsetof(RequestHeader, offset) == 8);
static_assert(offsetof(RequestHeader, length) == 16);
static_assert(offsetof(RequestHeader, reserved20) == 20);

static_assert(sizeof(ResponseHeader) == 12);
static_assert(offsetof(ResponseHeader, status) == 0);
static_assert(offsetof(ResponseHeader, echo) == 2);
static_assert(offsetof(ResponseHeader, count) == 4);
static_assert(offsetof(ResponseHeader, dataLength) == 8);

static_assert(sizeof(DiskInfo) == 16);
static_assert(offsetof(DiskInfo, access) == 1);
static_assert(offsetof(DiskInfo, size) == 8);

inline constexpr std::size_t REQUEST_HEADER_SIZE = sizeof(RequestHeader);
inline constexpr std::size_t RESPONSE_HEADER_SIZE = sizeof(ResponseHeader);
// The credential of OP_AUTHENTICATE lies over bytes 8..27 of the request header.
inline constexpr std::size_t CREDENTIAL_OFFSET = 8;
static_assert(CREDENTIAL_OFFSET + CREDENTIAL_SIZE <= REQUEST_HEADER_SIZE);

// One connection's buffer: a request header and the largest write, or a response
// header and the largest read.
inline constexpr std::size_t CONNECTION_BUFFER_SIZE = REQUEST_HEADER_SIZE + MAX_TRANSFER_LENGTH;
static_assert(CONNECTION_BUFFER_SIZE == 0x200020);

// Read data land right behind the response header, write data lie right behind the
// request header: neither is ever copied between network and disk.
inline constexpr std::size_t READ_DATA_OFFSET = RESPONSE_HEADER_SIZE;
inline constexpr std::size_t WRITE_DATA_OFFSET = REQUEST_HEADER_SIZE;

// The master boot record's disk-signature field, replaced per connection in reads of sector 0.
inline constexpr std::size_t DISK_SIGNATURE_OFFSET = 440;
inline constexpr std::size_t DISK_SIGNATURE_SIZE = 4;

inline bool ReadAllowed(std::uint32_t access) { return access < ACCESS_NONE; }
inline bool WriteAllowed(std::uint32_t access) { return access == ACCESS_FULL; }

}  // namespace varnox
