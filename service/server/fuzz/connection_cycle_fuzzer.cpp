// Feeds arbitrary client bytes, cut into arbitrary fragments, and arbitrary disk and
// network behaviour to one connection cycle. The harness reports any action outside the
// buffer, any answer after an unknown opcode and any response not framed as 12 + data
// length; the fuzzer turns each report into a crash.

#include <cstdio>
#include <cstdlib>

#include "cycle_harness.h"

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t Byte() {
        if (size == 0) return 0;
        --size;
        return *data++;
    }
    std::uint32_t U32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
        return v;
    }
};

// Requests with lengths the fuzzer rarely finds by itself: the limits and just past them.
std::uint32_t InterestingLength(std::uint8_t selector, std::uint32_t raw) {
    switch (selector % 6) {
    case 0:
        return varnox::MAX_TRANSFER_LENGTH;
    case 1:
        return varnox::MAX_TRANSFER_LENGTH + 1;
    case 2:
        return raw % 4096;
    case 3:
        return 0;
    default:
        return raw;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace varnox;
    using namespace varnox::testing;
    Reader in{data, size};

    ShareCredentials credentials;
    credentials.password.fill(0x11);
    credentials.managePassword.fill(0x22);
    CycleHarness h(64 * 1024, in.Byte() % 4, credentials);
    h.knobs.maxSendPiece = 1 + in.U32() % CONNECTION_BUFFER_SIZE;
    h.knobs.maxDiskPiece = 1 + in.U32() % MAX_TRANSFER_LENGTH;

    while (in.size > 0 && !h.closed) {
        const std::uint8_t what = in.Byte();
        h.knobs.maxReceivePiece = 1 + in.Byte() % 64 * (what & 0x80 ? 4096 : 1);
        h.knobs.diskZeroCompletion = (what & 0x7) == 1;
        h.knobs.diskFailsAfterStart = (what & 0x7) == 2;
        h.knobs.diskStartError = (what & 0x7) == 3 ? in.U32() : 0;
        switch ((what >> 3) & 0x7) {
        case 0: {  // a well-formed header with a chosen opcode and length
            const std::uint8_t opcode = static_cast<std::uint8_t>(0x80 + in.Byte() % 7);
            const std::uint32_t length = InterestingLength(in.Byte(), in.U32());
            auto request = Request(opcode, in.U32() % (128 * 1024), length);
            if (opcode == OP_WRITE && length <= MAX_TRANSFER_LENGTH + 1 && (in.Byte() & 1)) {
                request.resize(request.size() + length, 0xAB);
            }
            h.ClientSends(request);
            break;
        }
        case 1: {  // a credential
            Credential credential;
            credential.fill(static_cast<std::uint8_t>(0x10 + in.Byte() % 3 * 0x11));
            h.ClientSends(AuthenticateRequest(credential));
            break;
        }
        case 2:
            h.ClientCloses();
            break;
        default: {  // raw bytes
            const std::size_t n = std::min<std::size_t>(in.size, 1 + in.Byte());
            h.ClientSends(std::vector<std::uint8_t>(in.data, in.data + n));
            in.data += n;
            in.size -= n;
            break;
        }
        }
        if (!h.violations.empty()) {
            std::fprintf(stderr, "invariant broken: %s\n", h.violations.front().c_str());
            std::abort();
        }
    }
    std::vector<ParsedResponse> responses;
    if (!ParseResponses(h.received, responses)) {
        std::fprintf(stderr, "invariant broken: the server's output does not frame\n");
        std::abort();
    }
    return 0;
}
