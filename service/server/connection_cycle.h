#pragma once
// One connection's request/response cycle as a state machine. The engine reports each
// completion; the cycle answers with the one operation to carry out next. It never
// touches a socket or a file, so it runs the same natively, under Wine and in a fuzzer.

#include <cstdint>
#include <optional>
#include <span>

#include "protocol.h"
#include "request_rules.h"

namespace varnox {

enum class ActionKind {
    Receive,    // receive up to `length` bytes into buffer[bufferOffset..]
    Send,       // send `length` bytes from buffer[bufferOffset..]
    ReadDisk,   // read `length` bytes at diskOffset into buffer[bufferOffset..]
    WriteDisk,  // write `length` bytes from buffer[bufferOffset..] at diskOffset
    Close,      // close the connection with a reset
};

struct Action {
    ActionKind kind = ActionKind::Close;
    std::uint32_t bufferOffset = 0;
    std::uint32_t length = 0;
    std::uint64_t diskOffset = 0;
    // Call ClientConnected with this identity level before carrying out the action.
    std::optional<std::uint32_t> connectedIdentity;
    // A write continuation could not be started: the engine logs "write file error %X\n".
    std::optional<std::uint32_t> writeErrorToLog;
};

enum class Phase {
    Receiving,  // collecting a request header and, for a write, its data
    Draining,   // discarding the data of a write too long for the buffer
    OnDisk,     // one disk read or write is outstanding
    Sending,    // the response is going out
    Ignoring,   // an unknown opcode arrived: nothing more is answered
};

// The state field of the connection's I/O record as the engine sees it.
inline constexpr std::int32_t STATE_RECEIVING = 1;
inline constexpr std::int32_t STATE_SENDING = 2;

class ConnectionCycle {
public:
    // `buffer` is the connection's CONNECTION_BUFFER_SIZE-byte buffer; `signature` is the
    // value put over the disk-signature field of sector-0 reads (the socket's low 32 bits).
    ConnectionCycle(std::span<std::uint8_t, CONNECTION_BUFFER_SIZE> buffer, const ShareCredentials& credentials,
                    std::uint64_t diskSize, std::uint32_t signature, std::uint32_t access);

    // The first receive, over the whole buffer.
    Action Start();

    // A receive or send finished. A failure or a 0-byte transfer means the peer is gone.
    Action OnNetworkCompleted(bool succeeded, std::uint32_t bytes);

    // A disk read or write finished (after the engine issued ReadDisk or WriteDisk).
    Action OnDiskCompleted(bool succeeded, std::uint32_t bytes);

    // ReadDisk or WriteDisk could not even be started; `error` is the platform's code.
    Action OnDiskStartFailed(std::uint32_t error);

    std::uint32_t Access() const { return access_; }
    Phase CurrentPhase() const { return phase_; }
    std::int32_t State() const { return phase_ == Phase::Sending ? STATE_SENDING : STATE_RECEIVING; }
    // 0 while a disk read is in progress, 1 while a disk write is.
    std::uint32_t DiskMode() const { return diskMode_; }
    std::uint32_t Total() const { return total_; }
    std::uint32_t Sent() const { return sent_; }
    std::uint32_t Received() const { return received_; }

private:
    Action ReceiveNextRequest();
    Action OnRequestBytes();
    Action ActOnRequest(const RequestHeader& request);
    Action StartRead(const RequestHeader& request);
    Action StartWrite(const RequestHeader& request);
    Action ContinueDrain();
    Action SendResponse(std::uint16_t status, std::uint32_t count, std::uint32_t dataLength);
    Action OnDiskCompletedRead(std::uint32_t bytes);
    Action OnDiskCompletedWrite(std::uint32_t bytes);

    std::span<std::uint8_t, CONNECTION_BUFFER_SIZE> buffer_;
    const ShareCredentials& credentials_;
    std::uint64_t diskSize_;
    std::uint32_t signature_;
    std::uint32_t access_;

    Phase phase_ = Phase::Receiving;
    std::uint32_t diskMode_ = 0;
    std::uint32_t total_ = 0;
    std::uint32_t sent_ = 0;
    std::uint32_t received_ = 0;
    // The request being executed: its header is overwritten by read data, so keep it.
    std::uint64_t requestOffset_ = 0;
    std::uint32_t requestLength_ = 0;
    // Where the outstanding disk operation started; 0 only for a read of sector 0 in one piece.
    std::uint64_t diskOffset_ = 0;
    std::uint64_t drainRemaining_ = 0;
};

}  // namespace varnox
