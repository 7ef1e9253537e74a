#pragma once
// Drives a ConnectionCycle the way an engine would, against an in-memory disk and a
// byte queue standing in for the socket, and checks on every action that the cycle
// never points outside its buffer, never answers after an unknown opcode, and frames
// every response as 12 + data length bytes.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "connection_cycle.h"

namespace varnox::testing {

struct HarnessKnobs {
    std::size_t maxReceivePiece = CONNECTION_BUFFER_SIZE;  // the network delivers at most this per receive
    std::size_t maxSendPiece = CONNECTION_BUFFER_SIZE;     // a send takes at most this much
    std::size_t maxDiskPiece = MAX_TRANSFER_LENGTH;        // a disk transfer moves at most this much
    bool diskZeroCompletion = false;                       // the disk reports success with 0 bytes
    bool diskFailsAfterStart = false;                      // the disk reports failure in the completion
    std::uint32_t diskStartError = 0;                      // non-zero: the disk operation cannot start
};

class CycleHarness {
public:
    CycleHarness(std::size_t diskSize, std::uint32_t access, ShareCredentials credentials = {},
                 std::uint32_t signature = 0xA1B2C3D4)
        : disk(diskSize),
          buffer_(std::make_unique<std::uint8_t[]>(CONNECTION_BUFFER_SIZE)),
          credentials_(credentials),
          cycle_(std::span<std::uint8_t, CONNECTION_BUFFER_SIZE>(buffer_.get(), CONNECTION_BUFFER_SIZE), credentials_,
                 diskSize, signature, access) {
        std::memset(buffer_.get(), 0, CONNECTION_BUFFER_SIZE);
        for (std::size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<std::uint8_t>(i * 7 + 3);
        Carry(cycle_.Start());
    }

    HarnessKnobs knobs;
    std::vector<std::uint8_t> disk;
    std::vector<std::uint8_t> received;  // everything the server sent
    std::vector<std::uint32_t> identities;
    std::vector<std::uint32_t> loggedWriteErrors;
    std::vector<std::string> violations;
    std::size_t diskOperations = 0;
    bool closed = false;

    const ConnectionCycle& Cycle() const { return cycle_; }

    // The client's bytes arrive; the cycle runs until it waits for more of them.
    void ClientSends(const std::vector<std::uint8_t>& bytes) {
        inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
        Pump();
    }

    // The client goes away.
    void ClientCloses() {
        if (!closed && pending_.kind == ActionKind::Receive) Carry(cycle_.OnNetworkCompleted(true, 0));
    }

    bool WaitingForNetwork() const { return !closed && pending_.kind == ActionKind::Receive; }

private:
    void Violation(const std::string& what) { violations.push_back(what); }

    void Check(const Action& action) {
        const std::uint64_t end = std::uint64_t{action.bufferOffset} + action.length;
        switch (action.kind) {
        case ActionKind::Receive:
        case ActionKind::Send:
        case ActionKind::ReadDisk:
        case ActionKind::WriteDisk:
            if (end > CONNECTION_BUFFER_SIZE) Violation("action reaches beyond the buffer");
            if (action.length == 0) Violation("zero-length action");
            break;
        case ActionKind::Close:
            break;
        }
        if (action.kind == ActionKind::Send && ignoring_) Violation("answer after an unknown opcode");
        if (action.kind == ActionKind::Send && action.bufferOffset == 0) {
            std::uint32_t dataLength;
            std::memcpy(&dataLength, buffer_.get() + offsetof(ResponseHeader, dataLength), sizeof dataLength);
            if (action.length != RESPONSE_HEADER_SIZE + dataLength) Violation("response not 12 + data length");
        }
        if (cycle_.CurrentPhase() == Phase::Ignoring) ignoring_ = true;
    }

    void Carry(Action action) {
        for (;;) {
            Check(action);
            pending_ = action;
            if (action.connectedIdentity) identities.push_back(*action.connectedIdentity);
            if (action.writeErrorToLog) loggedWriteErrors.push_back(*action.writeErrorToLog);
            switch (action.kind) {
            case ActionKind::Close:
                closed = true;
                return;
            case ActionKind::Receive:
                if (inbound_.empty()) return;
                action = DeliverInbound(action);
                break;
            case ActionKind::Send: {
                const std::size_t n = std::min<std::size_t>(action.length, knobs.maxSendPiece);
                received.insert(received.end(), buffer_.get() + action.bufferOffset,
                                buffer_.get() + action.bufferOffset + n);
                action = cycle_.OnNetworkCompleted(true, static_cast<std::uint32_t>(n));
                break;
            }
            case ActionKind::ReadDisk:
            case ActionKind::WriteDisk:
                action = RunDisk(action);
                break;
            }
        }
    }

    void Pump() {
        if (!closed && pending_.kind == ActionKind::Receive && !inbound_.empty()) Carry(DeliverInbound(pending_));
    }

    Action DeliverInbound(const Action& action) {
        std::size_t n = std::min({std::size_t{action.length}, inbound_.size(), knobs.maxReceivePiece});
        if (action.bufferOffset + n > CONNECTION_BUFFER_SIZE) n = 0;  // already reported by Check
        for (std::size_t i = 0; i < n; ++i) {
            buffer_[action.bufferOffset + i] = inbound_.front();
            inbound_.pop_front();
        }
        return cycle_.OnNetworkCompleted(true, static_cast<std::uint32_t>(n));
    }

    Action RunDisk(const Action& action) {
        ++diskOperations;
        if (knobs.diskStartError != 0) return cycle_.OnDiskStartFailed(knobs.diskStartError);
        if (knobs.diskFailsAfterStart) return cycle_.OnDiskCompleted(false, 0);
        if (knobs.diskZeroCompletion) return cycle_.OnDiskCompleted(true, 0);
        if (action.diskOffset >= disk.size()) return cycle_.OnDiskCompleted(false, 0);  // end of file
        const std::size_t available = disk.size() - static_cast<std::size_t>(action.diskOffset);
        const std::size_t n = std::min({std::size_t{action.length}, available, knobs.maxDiskPiece});
        std::uint8_t* bytes = buffer_.get() + action.bufferOffset;
        std::uint8_t* at = disk.data() + action.diskOffset;
        if (action.kind == ActionKind::ReadDisk) {
            std::memcpy(bytes, at, n);
        } else {
            std::memcpy(at, bytes, n);
        }
        return cycle_.OnDiskCompleted(true, static_cast<std::uint32_t>(n));
    }

    std::unique_ptr<std::uint8_t[]> buffer_;
    ShareCredentials credentials_;
    ConnectionCycle cycle_;
    std::deque<std::uint8_t> inbound_;
    Action pending_;
    bool ignoring_ = false;
};

// Request builders for the tests and the fuzzer.
inline std::vector<std::uint8_t> Request(std::uint8_t opcode, std::uint64_t offset, std::uint32_t length,
                                         std::uint16_t echo = 0) {
    RequestHeader header{};
    header.opcode = opcode;
    header.echo = echo;
    header.offset = offset;
    header.length = length;
    std::vector<std::uint8_t> bytes(sizeof header);
    std::memcpy(bytes.data(), &header, sizeof header);
    return bytes;
}

inline std::vector<std::uint8_t> AuthenticateRequest(const Credential& credential, std::uint16_t echo = 0) {
    std::vector<std::uint8_t> bytes = Request(OP_AUTHENTICATE, 0, 0, echo);
    std::memcpy(bytes.data() + CREDENTIAL_OFFSET, credential.data(), credential.size());
    return bytes;
}

struct ParsedResponse {
    std::uint16_t status = 0;
    std::uint16_t echo = 0;
    std::uint32_t count = 0;
    std::uint32_t dataLength = 0;
    std::vector<std::uint8_t> data;
};

// Splits the server's output into responses; false when it does not frame exactly.
inline bool ParseResponses(const std::vector<std::uint8_t>& bytes, std::vector<ParsedResponse>& out) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < RESPONSE_HEADER_SIZE) return false;
        ResponseHeader header;
        std::memcpy(&header, bytes.data() + at, sizeof header);
        at += sizeof header;
        if (bytes.size() - at < header.dataLength) return false;
        ParsedResponse response{header.status, header.echo, header.count, header.dataLength, {}};
        response.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + header.dataLength));
        at += header.dataLength;
        out.push_back(std::move(response));
    }
    return true;
}

}  // namespace varnox::testing
