#include "block_client.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "status_text.h"

namespace varnox::client {

namespace {

std::string Hex16(std::uint16_t value) {
    static constexpr char DIGITS[] = "0123456789ABCDEF";
    std::string text = "0x0000";
    for (int i = 0; i < 4; ++i) text[5 - i] = DIGITS[(value >> (4 * i)) & 0xF];
    return text;
}

std::string Transfer(const char* verb, std::uint64_t offset, std::uint64_t length) {
    return std::string(verb) + " at " + std::to_string(offset) + " (" + std::to_string(length) + " bytes)";
}

RequestHeader Request(std::uint8_t opcode, std::uint64_t offset = 0, std::uint32_t length = 0) {
    RequestHeader request{};
    request.opcode = opcode;
    request.offset = offset;
    request.length = length;
    return request;
}

}  // namespace

Result<BlockClient> BlockClient::Connect(std::string_view host, std::uint16_t port) {
    auto socket = Socket::Connect(host, port);
    if (!socket.ok()) return socket.error();
    return BlockClient(std::move(socket.value()));
}

Error BlockClient::Fail(const std::string& what, const Error& error) {
    // A network or framing failure leaves the stream at an unknown place: nothing after
    // it could be matched to its request, so the connection goes.
    if (error.kind == ErrorKind::System || error.kind == ErrorKind::Closed || error.kind == ErrorKind::Protocol) {
        (void)socket_.Close();
    }
    return Error{error.kind, error.code, what + ": " + error.message};
}

Error BlockClient::ProtocolError(const std::string& what, const std::string& problem) {
    return Fail(what, Error{ErrorKind::Protocol, 0, "protocol error: " + problem});
}

Error BlockClient::StatusError(const std::string& what, std::uint16_t status) {
    return Error{ErrorKind::Status, status, what + ": " + DescribeStatus(status)};
}

Error BlockClient::RefusedAfterDiscard(const std::string& what, const ResponseHeader& header) {
    if (auto discarded = Discard(what, header.dataLength); !discarded.ok()) return discarded.error();
    return StatusError(what, header.status);
}

Result<ResponseHeader> BlockClient::Exchange(const std::string& what, RequestHeader request,
                                             std::span<const std::uint8_t> payload) {
    if (!socket_.IsOpen()) return Error{ErrorKind::Usage, 0, what + ": not connected"};
    const std::uint16_t echo = nextEcho_++;
    request.echo = echo;

    std::array<std::uint8_t, REQUEST_HEADER_SIZE> header{};
    std::memcpy(header.data(), &request, sizeof request);
    if (auto sent = socket_.SendAll(header); !sent.ok()) return Fail(what, sent.error());
    if (auto sent = socket_.SendAll(payload); !sent.ok()) return Fail(what, sent.error());

    std::array<std::uint8_t, RESPONSE_HEADER_SIZE> bytes{};
    if (auto received = socket_.ReceiveExact(bytes); !received.ok()) return Fail(what, received.error());
    ResponseHeader response{};
    std::memcpy(&response, bytes.data(), sizeof response);
    if (response.echo != echo) {
        return ProtocolError(what,
                             "the answer echoes " + Hex16(response.echo) + " but the request carried " + Hex16(echo));
    }
    if (response.dataLength > MAX_TRANSFER_LENGTH) {
        return ProtocolError(what, "the answer announces " + std::to_string(response.dataLength) +
                                       " bytes of data, more than any answer carries");
    }
    return response;
}

Result<void> BlockClient::Discard(const std::string& what, std::uint32_t length) {
    std::array<std::uint8_t, 64 * 1024> scratch;
    while (length > 0) {
        const std::uint32_t piece = std::min<std::uint32_t>(length, scratch.size());
        if (auto received = socket_.ReceiveExact(std::span(scratch).first(piece)); !received.ok()) {
            return Fail(what, received.error());
        }
        length -= piece;
    }
    return {};
}

Result<ShareInfo> BlockClient::Info() {
    const std::string what = "get info";
    auto response = Exchange(what, Request(OP_GET_INFO));
    if (!response.ok()) return response.error();
    const ResponseHeader& header = response.value();
    if (header.status != STATUS_OK) return RefusedAfterDiscard(what, header);
    if (header.count != sizeof(DiskInfo) || header.dataLength != sizeof(DiskInfo)) {
        return ProtocolError(what, "the answer carries " + std::to_string(header.dataLength) + " bytes (count " +
                                       std::to_string(header.count) + "), not the 16 of a disk description");
    }
    std::array<std::uint8_t, sizeof(DiskInfo)> bytes{};
    if (auto received = socket_.ReceiveExact(bytes); !received.ok()) return Fail(what, received.error());
    DiskInfo info{};
    std::memcpy(&info, bytes.data(), sizeof info);
    return ShareInfo{info.access, info.size};
}

Result<void> BlockClient::Read(std::uint64_t offset, std::uint32_t length, std::span<std::uint8_t> out) {
    const std::string what = Transfer("read", offset, length);
    if (length > MAX_TRANSFER_LENGTH) {
        return Error{ErrorKind::Usage, 0, what + ": longer than the 2 MiB one request may carry; split it"};
    }
    if (out.size() < length) {
        return Error{ErrorKind::Usage, 0,
                     what + ": the destination holds only " + std::to_string(out.size()) + " bytes"};
    }
    auto response = Exchange(what, Request(OP_READ, offset, length));
    if (!response.ok()) return response.error();
    const ResponseHeader& header = response.value();
    if (header.status != STATUS_OK) return RefusedAfterDiscard(what, header);
    if (header.count != length || header.dataLength != length) {
        return ProtocolError(what, "the answer carries " + std::to_string(header.dataLength) + " bytes (count " +
                                       std::to_string(header.count) + ")");
    }
    if (auto received = socket_.ReceiveExact(out.first(length)); !received.ok()) return Fail(what, received.error());
    return {};
}

Result<void> BlockClient::Write(std::uint64_t offset, std::span<const std::uint8_t> data) {
    const std::string what = Transfer("write", offset, data.size());
    if (data.size() > MAX_TRANSFER_LENGTH) {
        return Error{ErrorKind::Usage, 0, what + ": longer than the 2 MiB one request may carry; split it"};
    }
    const auto length = static_cast<std::uint32_t>(data.size());
    auto response = Exchange(what, Request(OP_WRITE, offset, length), data);
    if (!response.ok()) return response.error();
    const ResponseHeader& header = response.value();
    if (header.status != STATUS_OK) return RefusedAfterDiscard(what, header);
    if (header.count != length || header.dataLength != 0) {
        return ProtocolError(what, "the answer counts " + std::to_string(header.count) + " bytes and carries " +
                                       std::to_string(header.dataLength));
    }
    return {};
}

Result<void> BlockClient::Authenticate(std::span<const std::uint8_t, CREDENTIAL_SIZE> credential) {
    const std::string what = "authenticate";
    RequestHeader request = Request(OP_AUTHENTICATE);
    std::memcpy(reinterpret_cast<std::uint8_t*>(&request) + CREDENTIAL_OFFSET, credential.data(), credential.size());
    auto response = Exchange(what, request);
    if (!response.ok()) return response.error();
    const ResponseHeader& header = response.value();
    if (header.status != STATUS_OK) return RefusedAfterDiscard(what, header);
    if (auto discarded = Discard(what, header.dataLength); !discarded.ok()) return discarded.error();
    return {};
}

Result<void> BlockClient::SendRaw(std::span<const std::uint8_t> bytes) {
    const std::string what = "send raw bytes";
    if (!socket_.IsOpen()) return Error{ErrorKind::Usage, 0, what + ": not connected"};
    if (auto sent = socket_.SendAll(bytes); !sent.ok()) return Fail(what, sent.error());
    return {};
}

Result<RawResponse> BlockClient::ReceiveResponse() {
    const std::string what = "receive a response";
    if (!socket_.IsOpen()) return Error{ErrorKind::Usage, 0, what + ": not connected"};
    std::array<std::uint8_t, RESPONSE_HEADER_SIZE> bytes{};
    if (auto received = socket_.ReceiveExact(bytes); !received.ok()) return Fail(what, received.error());
    RawResponse response;
    std::memcpy(&response.header, bytes.data(), sizeof response.header);
    if (response.header.dataLength > MAX_TRANSFER_LENGTH) {
        return ProtocolError(what, "the answer announces " + std::to_string(response.header.dataLength) +
                                       " bytes of data, more than any answer carries");
    }
    response.data.resize(response.header.dataLength);
    if (auto received = socket_.ReceiveExact(response.data); !received.ok()) return Fail(what, received.error());
    return response;
}

Result<void> BlockClient::Close() {
    return socket_.Close();
}

}  // namespace varnox::client
