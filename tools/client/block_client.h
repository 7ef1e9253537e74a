#pragma once
// The client side of the block protocol over one TCP connection: one request at a time,
// each answered before the next goes out. Every call returns a Result whose error names
// the request and the status, e.g. "read at 4096 (512 bytes): access denied (0x2004)".

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol.h"
#include "result.h"
#include "socket.h"

namespace varnox::client {

struct ShareInfo {
    std::uint32_t access = ACCESS_NONE;
    std::uint64_t size = 0;
};

struct RawResponse {
    ResponseHeader header{};
    std::vector<std::uint8_t> data;
};

class BlockClient {
public:
    BlockClient() = default;

    static Result<BlockClient> Connect(std::string_view host, std::uint16_t port);

    // False once the connection has been closed, by Close() or because its stream can no
    // longer be trusted after a network or protocol error.
    bool IsConnected() const { return socket_.IsOpen(); }

    // A server that stops answering makes a call fail after this long instead of
    // blocking it forever; zero waits without limit.
    Result<void> SetTimeout(std::chrono::milliseconds timeout) { return socket_.SetTimeout(timeout); }

    Result<ShareInfo> Info();

    // Reads `length` bytes at `offset` into the start of `out`. At most
    // MAX_TRANSFER_LENGTH bytes; longer reads are refused here, before anything is sent.
    Result<void> Read(std::uint64_t offset, std::uint32_t length, std::span<std::uint8_t> out);

    // At most MAX_TRANSFER_LENGTH bytes; longer writes are refused here rather than sent
    // for the server to drain and deny.
    Result<void> Write(std::uint64_t offset, std::span<const std::uint8_t> data);

    // Presents a password digest; success changes what this connection may do.
    Result<void> Authenticate(std::span<const std::uint8_t, CREDENTIAL_SIZE> credential);

    // For tests that need to put arbitrary bytes on the wire: the echo the next request
    // will carry, sending raw bytes, and receiving one response without checking its echo.
    std::uint16_t NextEcho() const { return nextEcho_; }
    Result<void> SendRaw(std::span<const std::uint8_t> bytes);
    Result<RawResponse> ReceiveResponse();

    Result<void> Close();

private:
    explicit BlockClient(Socket socket) : socket_(std::move(socket)) {}

    // Sends the request with the next echo and receives the response header, checking
    // that it echoes the request and announces no more data than a response can hold.
    Result<ResponseHeader> Exchange(const std::string& what, RequestHeader request,
                                    std::span<const std::uint8_t> payload = {});
    // Takes `length` bytes off the stream: the data of an answer that carries none we want.
    Result<void> Discard(const std::string& what, std::uint32_t length);
    Error Fail(const std::string& what, const Error& error);
    Error ProtocolError(const std::string& what, const std::string& problem);
    Error StatusError(const std::string& what, std::uint16_t status);
    // After a non-zero status, the announced data are junk but still on the stream.
    Error RefusedAfterDiscard(const std::string& what, const ResponseHeader& header);

    Socket socket_;
    std::uint16_t nextEcho_ = 1;
};

}  // namespace varnox::client
