#include "connection_cycle.h"

#include <algorithm>

namespace varnox {

namespace {

Action Make(ActionKind kind, std::size_t bufferOffset, std::uint32_t length, std::uint64_t diskOffset = 0) {
    Action action;
    action.kind = kind;
    action.bufferOffset = static_cast<std::uint32_t>(bufferOffset);
    action.length = length;
    action.diskOffset = diskOffset;
    return action;
}

Action CloseAction() { return Make(ActionKind::Close, 0, 0); }

}  // namespace

ConnectionCycle::ConnectionCycle(std::span<std::uint8_t, CONNECTION_BUFFER_SIZE> buffer,
                                 const ShareCredentials& credentials, std::uint64_t diskSize,
                                 std::uint32_t signature, std::uint32_t access)
    : buffer_(buffer), credentials_(credentials), diskSize_(diskSize), signature_(signature), access_(access) {}

Action ConnectionCycle::Start() { return ReceiveNextRequest(); }

Action ConnectionCycle::ReceiveNextRequest() {
    // Whatever a client sent beyond its last request is overwritten by this receive.
    phase_ = Phase::Receiving;
    received_ = 0;
    total_ = 0;
    return Make(ActionKind::Receive, 0, static_cast<std::uint32_t>(CONNECTION_BUFFER_SIZE));
}

Action ConnectionCycle::OnNetworkCompleted(bool succeeded, std::uint32_t bytes) {
    if (!succeeded || bytes == 0) return CloseAction();

    switch (phase_) {
    case Phase::Sending:
        sent_ += bytes;
        if (sent_ < total_) return Make(ActionKind::Send, sent_, total_ - sent_);
        return ReceiveNextRequest();
    case Phase::Receiving:
        received_ = static_cast<std::uint32_t>(std::min<std::size_t>(received_ + std::size_t{bytes}, CONNECTION_BUFFER_SIZE));
        return OnRequestBytes();
    case Phase::Draining:
        drainRemaining_ -= std::min<std::uint64_t>(bytes, drainRemaining_);
        return ContinueDrain();
    case Phase::Ignoring:
        // Keep a receive posted only to notice the peer closing; its bytes are never acted on.
        return Make(ActionKind::Receive, 0, static_cast<std::uint32_t>(CONNECTION_BUFFER_SIZE));
    case Phase::OnDisk:
        break;
    }
    // A network completion while the disk owns the connection cannot come from a
    // well-behaved engine; ending the connection is the only safe answer.
    return CloseAction();
}

Action ConnectionCycle::OnRequestBytes() {
    if (received_ < REQUEST_HEADER_SIZE) {
        total_ = static_cast<std::uint32_t>(REQUEST_HEADER_SIZE);
        return Make(ActionKind::Receive, received_, total_ - received_);
    }
    return ActOnRequest(ReadRequestHeader(buffer_));
}

Action ConnectionCycle::ActOnRequest(const RequestHeader& request) {
    switch (request.opcode) {
    case OP_READ:
        return StartRead(request);
    case OP_WRITE:
        return StartWrite(request);
    case OP_GET_INFO:
        WriteDiskInfo(buffer_, access_, diskSize_);
        return SendResponse(STATUS_OK, sizeof(DiskInfo), sizeof(DiskInfo));
    case OP_AUTHENTICATE: {
        const auto credential = std::span<const std::uint8_t>(buffer_).subspan<CREDENTIAL_OFFSET, CREDENTIAL_SIZE>();
        const AuthenticateResult result = Authenticate(credential, credentials_, access_);
        access_ = result.newAccess;
        Action action = SendResponse(result.status, 0, 0);
        action.connectedIdentity = result.connectedIdentity;
        return action;
    }
    default:
        phase_ = Phase::Ignoring;
        return Make(ActionKind::Receive, 0, static_cast<std::uint32_t>(CONNECTION_BUFFER_SIZE));
    }
}

Action ConnectionCycle::StartRead(const RequestHeader& request) {
    if (auto refusal = CheckRead(access_, request.length)) return SendResponse(refusal->status, request.length, 0);
    if (request.length == 0) return SendResponse(STATUS_OK, 0, 0);

    requestOffset_ = request.offset;
    requestLength_ = request.length;
    diskOffset_ = request.offset;
    received_ = sent_ = 0;
    total_ = request.length;
    diskMode_ = 0;
    phase_ = Phase::OnDisk;
    return Make(ActionKind::ReadDisk, READ_DATA_OFFSET, total_, diskOffset_);
}

Action ConnectionCycle::StartWrite(const RequestHeader& request) {
    if (request.length > MAX_TRANSFER_LENGTH) {
        // The data cannot be held; take them off the stream in buffer-sized pieces and
        // refuse afterwards, so the client's next request is read from the right place.
        requestLength_ = request.length;
        drainRemaining_ = WRITE_DATA_OFFSET + std::uint64_t{request.length} - received_;
        phase_ = Phase::Draining;
        return ContinueDrain();
    }
    const std::uint32_t needed = static_cast<std::uint32_t>(WRITE_DATA_OFFSET) + request.length;
    if (received_ < needed) {
        total_ = needed - received_;
        return Make(ActionKind::Receive, received_, total_);
    }
    if (auto refusal = CheckWrite(access_, request.length)) return SendResponse(refusal->status, request.length, 0);
    if (request.length == 0) return SendResponse(STATUS_OK, 0, 0);

    requestOffset_ = request.offset;
    requestLength_ = request.length;
    diskOffset_ = request.offset;
    received_ = sent_ = 0;
    total_ = request.length;
    diskMode_ = 1;
    phase_ = Phase::OnDisk;
    return Make(ActionKind::WriteDisk, WRITE_DATA_OFFSET, total_, diskOffset_);
}

Action ConnectionCycle::ContinueDrain() {
    if (drainRemaining_ > 0) {
        const auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(drainRemaining_, MAX_TRANSFER_LENGTH));
        return Make(ActionKind::Receive, WRITE_DATA_OFFSET, piece);
    }
    return SendResponse(ERR_ACCESS_DENIED, requestLength_, 0);
}

Action ConnectionCycle::SendResponse(std::uint16_t status, std::uint32_t count, std::uint32_t dataLength) {
    WriteResponseHeader(buffer_, status, count, dataLength);
    phase_ = Phase::Sending;
    sent_ = 0;
    total_ = static_cast<std::uint32_t>(RESPONSE_HEADER_SIZE) + dataLength;
    return Make(ActionKind::Send, 0, total_);
}

Action ConnectionCycle::OnDiskCompleted(bool succeeded, std::uint32_t bytes) {
    if (phase_ != Phase::OnDisk) return CloseAction();
    if (!succeeded) return SendResponse(ERR_REQUEST_FAILED, 0, 0);
    if (bytes == 0) {
        // The disk has nothing more to give: the request ends as if it had all arrived.
        return SendResponse(STATUS_OK, total_, diskMode_ == 0 ? total_ : 0);
    }
    return diskMode_ == 0 ? OnDiskCompletedRead(bytes) : OnDiskCompletedWrite(bytes);
}

Action ConnectionCycle::OnDiskCompletedRead(std::uint32_t bytes) {
    received_ += std::min(bytes, total_ - received_);
    if (received_ < total_) {
        diskOffset_ = requestOffset_ + received_;
        return Make(ActionKind::ReadDisk, READ_DATA_OFFSET + received_, total_ - received_, diskOffset_);
    }
    // Only a sector-0 read that arrived in one piece carries the connection's signature.
    if (diskOffset_ == 0) ApplyDiskSignature(buffer_, signature_);
    return SendResponse(STATUS_OK, total_, total_);
}

Action ConnectionCycle::OnDiskCompletedWrite(std::uint32_t bytes) {
    sent_ += std::min(bytes, total_ - sent_);
    if (sent_ < total_) {
        diskOffset_ = requestOffset_ + sent_;
        return Make(ActionKind::WriteDisk, WRITE_DATA_OFFSET + sent_, total_ - sent_, diskOffset_);
    }
    return SendResponse(STATUS_OK, total_, 0);
}

Action ConnectionCycle::OnDiskStartFailed(std::uint32_t error) {
    if (phase_ != Phase::OnDisk) return CloseAction();
    const std::uint16_t status = StartFailureStatus(error);
    if (diskMode_ == 0) {
        // The answer still carries the announced amount of (undefined) data, so the
        // client's framing holds.
        return SendResponse(status, 0, requestLength_);
    }
    const bool continuation = sent_ > 0;
    Action action = SendResponse(status, 0, 0);
    if (continuation) action.writeErrorToLog = error;
    return action;
}

}  // namespace varnox
