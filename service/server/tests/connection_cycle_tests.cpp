#include "connection_cycle.h"

#include <gtest/gtest.h>

#include <cstring>

#include "cycle_harness.h"

namespace varnox::testing {
namespace {

constexpr std::size_t kDiskSize = 4 * 1024 * 1024;
constexpr std::uint32_t kSignature = 0xA1B2C3D4;

Credential Filled(std::uint8_t value) {
    Credential c;
    c.fill(value);
    return c;
}

ShareCredentials TestCredentials() { return {Filled(0x11), Filled(0x22)}; }

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<ParsedResponse> Responses(const CycleHarness& h) {
    std::vector<ParsedResponse> out;
    EXPECT_TRUE(ParseResponses(h.received, out)) << "the server's output does not frame";
    EXPECT_TRUE(h.violations.empty()) << h.violations.front();
    return out;
}

// One request, one response: the table of what the server answers.
struct SingleRequestCase {
    const char* name;
    std::uint32_t access;
    std::uint8_t opcode;
    std::uint64_t offset;
    std::uint32_t length;
    std::uint16_t status;
    std::uint32_t count;
    std::uint32_t dataLength;
    bool diskTouched;
};

class SingleRequest : public ::testing::TestWithParam<SingleRequestCase> {};

TEST_P(SingleRequest, IsAnsweredAsTheRulesSay) {
    const SingleRequestCase& c = GetParam();
    CycleHarness h(kDiskSize, c.access, TestCredentials(), kSignature);
    const std::vector<std::uint8_t> before = h.disk;
    std::vector<std::uint8_t> request = Request(c.opcode, c.offset, c.length, 0xBEEF);
    if (c.opcode == OP_WRITE && c.length <= MAX_TRANSFER_LENGTH + 1) {
        request.resize(request.size() + c.length, 0x5A);
    }
    h.ClientSends(request);

    const auto responses = Responses(h);
    ASSERT_EQ(responses.size(), 1u);
    EXPECT_EQ(responses[0].status, c.status);
    EXPECT_EQ(responses[0].echo, 0xBEEF);
    EXPECT_EQ(responses[0].count, c.count);
    EXPECT_EQ(responses[0].dataLength, c.dataLength);
    EXPECT_EQ(h.diskOperations > 0, c.diskTouched);
    if (c.opcode == OP_WRITE && c.status != STATUS_OK) {
        EXPECT_EQ(h.disk, before);
    }
    EXPECT_TRUE(h.WaitingForNetwork()) << "a refusal must not end the connection";
}

constexpr std::uint32_t kMax = MAX_TRANSFER_LENGTH;

INSTANTIATE_TEST_SUITE_P(
    Rules, SingleRequest,
    ::testing::Values(
        SingleRequestCase{"ReadOfMaxIsServed", ACCESS_FULL, OP_READ, 4096, kMax, STATUS_OK, kMax, kMax, true},
        SingleRequestCase{"ReadOneOverMaxFull", ACCESS_FULL, OP_READ, 0, kMax + 1, ERR_REQUEST_FAILED, kMax + 1, 0,
                          false},
        SingleRequestCase{"ReadOneOverMaxReadOnly", ACCESS_READ_ONLY, OP_READ, 0, kMax + 1, ERR_REQUEST_FAILED,
                          kMax + 1, 0, false},
        SingleRequestCase{"ReadOneOverMaxNoAccess", ACCESS_NONE, OP_READ, 0, kMax + 1, ERR_ACCESS_DENIED, kMax + 1,
                          0, false},
        SingleRequestCase{"ReadNoAccess", ACCESS_NONE, OP_READ, 0, 512, ERR_ACCESS_DENIED, 512, 0, false},
        SingleRequestCase{"ReadByReadOnly", ACCESS_READ_ONLY, OP_READ, 512, 512, STATUS_OK, 512, 512, true},
        SingleRequestCase{"ZeroLengthRead", ACCESS_FULL, OP_READ, 512, 0, STATUS_OK, 0, 0, false},
        SingleRequestCase{"WriteOfMaxIsServed", ACCESS_FULL, OP_WRITE, 0, kMax, STATUS_OK, kMax, 0, true},
        SingleRequestCase{"WriteOneOverMaxIsDenied", ACCESS_FULL, OP_WRITE, 0, kMax + 1, ERR_ACCESS_DENIED, kMax + 1,
                          0, false},
        SingleRequestCase{"WriteByReadOnlyIsDenied", ACCESS_READ_ONLY, OP_WRITE, 0, 4096, ERR_ACCESS_DENIED, 4096, 0,
                          false},
        SingleRequestCase{"WriteNoAccessIsDenied", ACCESS_NONE, OP_WRITE, 0, 4096, ERR_ACCESS_DENIED, 4096, 0, false},
        SingleRequestCase{"ZeroLengthWrite", ACCESS_FULL, OP_WRITE, 0, 0, STATUS_OK, 0, 0, false},
        SingleRequestCase{"GetInfoAtNoAccess", ACCESS_NONE, OP_GET_INFO, 0, 0, STATUS_OK, 16, 16, false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ConnectionCycle, ReadReturnsTheDiskBytes) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    h.ClientSends(Request(OP_READ, 1000, 3000));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].data, std::vector<std::uint8_t>(h.disk.begin() + 1000, h.disk.begin() + 4000));
}

TEST(ConnectionCycle, WriteStoresTheDataAndALaterReadSeesThem) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    std::vector<std::uint8_t> data(5000);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i ^ 0x5C);
    h.ClientSends(Concat(Request(OP_WRITE, 777, 5000, 1), data));
    h.ClientSends(Request(OP_READ, 777, 5000, 2));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].status, STATUS_OK);
    EXPECT_EQ(r[1].data, data);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), h.disk.begin() + 777));
}

// The signature lands only on reads of sector 0 that arrived in one piece.
struct SignatureCase {
    const char* name;
    std::uint64_t offset;
    std::uint32_t length;
    std::size_t signatureBytesShown;
};

class DiskSignature : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(DiskSignature, ReplacesOnlyWhatTheReadCovers) {
    const SignatureCase& c = GetParam();
    CycleHarness h(kDiskSize, ACCESS_FULL, {}, kSignature);
    h.ClientSends(Request(OP_READ, c.offset, c.length));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    std::vector<std::uint8_t> expected(h.disk.begin() + static_cast<std::ptrdiff_t>(c.offset),
                                       h.disk.begin() + static_cast<std::ptrdiff_t>(c.offset + c.length));
    std::uint8_t signature[4];
    std::memcpy(signature, &kSignature, 4);
    for (std::size_t i = 0; i < c.signatureBytesShown; ++i) expected[DISK_SIGNATURE_OFFSET + i] = signature[i];
    EXPECT_EQ(r[0].data, expected);
    EXPECT_EQ(h.disk[DISK_SIGNATURE_OFFSET], static_cast<std::uint8_t>(DISK_SIGNATURE_OFFSET * 7 + 3))
        << "the disk itself must not change";
}

INSTANTIATE_TEST_SUITE_P(Reads, DiskSignature,
                         ::testing::Values(SignatureCase{"Sector0Of512", 0, 512, 4},
                                           SignatureCase{"Sector0Of442", 0, 442, 2},
                                           SignatureCase{"Sector0Of100", 0, 100, 0},
                                           SignatureCase{"Sector0Of440", 0, 440, 0},
                                           SignatureCase{"Offset512", 512, 512, 0}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(ConnectionCycle, ShortSector0ReadIsContinuedAndCarriesNoSignature) {
    CycleHarness h(kDiskSize, ACCESS_FULL, {}, kSignature);
    h.knobs.maxDiskPiece = 100;
    h.ClientSends(Request(OP_READ, 0, 512));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].data, std::vector<std::uint8_t>(h.disk.begin(), h.disk.begin() + 512));
    EXPECT_EQ(h.diskOperations, 6u);
}

TEST(ConnectionCycle, ShortWritesAreContinuedFromWhereTheyStopped) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    h.knobs.maxDiskPiece = 1000;
    std::vector<std::uint8_t> data(4500);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
    h.ClientSends(Concat(Request(OP_WRITE, 10, 4500), data));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].count, 4500u);
    EXPECT_EQ(h.diskOperations, 5u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), h.disk.begin() + 10));
}

TEST(ConnectionCycle, HeaderInPiecesIsActedOnOnce) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    const auto request = Request(OP_READ, 0, 512, 7);
    h.ClientSends({request.begin(), request.begin() + 10});
    EXPECT_TRUE(h.received.empty());
    EXPECT_EQ(h.diskOperations, 0u);
    EXPECT_EQ(h.Cycle().Total(), 32u);
    EXPECT_EQ(h.Cycle().Received(), 10u);
    h.ClientSends({request.begin() + 10, request.end()});
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].echo, 7);
    EXPECT_EQ(h.diskOperations, 1u);
}

TEST(ConnectionCycle, WriteWaitsForAllItsDataEvenInTinyPieces) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    h.knobs.maxReceivePiece = 7;
    std::vector<std::uint8_t> data(300, 0xEE);
    h.ClientSends(Concat(Request(OP_WRITE, 0, 300), data));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].status, STATUS_OK);
    EXPECT_EQ(h.diskOperations, 1u);
    EXPECT_TRUE(std::all_of(h.disk.begin(), h.disk.begin() + 300, [](std::uint8_t b) { return b == 0xEE; }));
}

TEST(ConnectionCycle, LargeResponseInManySendPiecesArrivesWholeBeforeTheNextRequest) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    h.knobs.maxSendPiece = 65536 + 3;
    h.ClientSends(Concat(Request(OP_READ, 0, kMax, 1), Request(OP_GET_INFO, 0, 0, 2)));
    // The GET_INFO arrived during the read and was dropped with the buffer: one answer only.
    auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].dataLength, kMax);
    h.ClientSends(Request(OP_GET_INFO, 0, 0, 3));
    r = Responses(h);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].echo, 3);
}

TEST(ConnectionCycle, GetInfoReportsAccessAndSize) {
    CycleHarness h(kDiskSize, ACCESS_READ_ONLY);
    h.ClientSends(Request(OP_GET_INFO, 0, 0));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    DiskInfo info;
    ASSERT_EQ(r[0].data.size(), sizeof info);
    std::memcpy(&info, r[0].data.data(), sizeof info);
    EXPECT_EQ(info.access, ACCESS_READ_ONLY);
    EXPECT_EQ(info.size, kDiskSize);
    EXPECT_EQ(info.reserved0, 0);
}

// Each step: a credential, then what the connection's level and the hook become.
struct AuthStep {
    std::uint8_t credentialByte;
    std::uint16_t status;
    std::uint32_t accessAfter;
    int identity;  // -1: no ClientConnected call
};

struct AuthCase {
    const char* name;
    std::uint32_t startAccess;
    std::vector<AuthStep> steps;
};

class AuthenticateSequence : public ::testing::TestWithParam<AuthCase> {};

TEST_P(AuthenticateSequence, ChangesTheLevelAsTheCredentialsSay) {
    const AuthCase& c = GetParam();
    CycleHarness h(kDiskSize, c.startAccess, TestCredentials());
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const AuthStep& step = c.steps[i];
        h.received.clear();
        h.identities.clear();
        h.ClientSends(AuthenticateRequest(Filled(step.credentialByte)));
        const auto r = Responses(h);
        ASSERT_EQ(r.size(), 1u) << "step " << i;
        EXPECT_EQ(r[0].status, step.status) << "step " << i;
        EXPECT_EQ(r[0].count, 0u);
        EXPECT_EQ(r[0].dataLength, 0u);
        EXPECT_EQ(h.Cycle().Access(), step.accessAfter) << "step " << i;
        if (step.identity < 0) {
            EXPECT_TRUE(h.identities.empty()) << "step " << i;
        } else {
            EXPECT_EQ(h.identities, std::vector<std::uint32_t>{static_cast<std::uint32_t>(step.identity)})
                << "step " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Credentials, AuthenticateSequence,
    ::testing::Values(
        AuthCase{"ReadOnlyPasswordStaysReadOnly", ACCESS_READ_ONLY, {{0x11, STATUS_OK, ACCESS_READ_ONLY, 1}}},
        AuthCase{"ReadOnlyManagePasswordBecomesFull", ACCESS_READ_ONLY, {{0x22, STATUS_OK, ACCESS_FULL, 0}}},
        AuthCase{"WrongCredentialLowersFullToNone", ACCESS_FULL, {{0x33, ERR_ACCESS_DENIED, ACCESS_NONE, -1}}},
        AuthCase{"PasswordThenManagePassword",
                 ACCESS_READ_ONLY,
                 {{0x11, STATUS_OK, ACCESS_READ_ONLY, 1}, {0x22, STATUS_OK, ACCESS_FULL, 0}}},
        AuthCase{"AfterAMissOnlyManagePasswordRaises",
                 ACCESS_FULL,
                 {{0x33, ERR_ACCESS_DENIED, ACCESS_NONE, -1},
                  {0x11, STATUS_OK, ACCESS_NONE, 1},
                  {0x22, STATUS_OK, ACCESS_FULL, 0}}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ConnectionCycle, ManageCredentialLetsAReadOnlyConnectionWrite) {
    CycleHarness h(kDiskSize, ACCESS_READ_ONLY, TestCredentials());
    h.ClientSends(AuthenticateRequest(Filled(0x22)));
    h.ClientSends(Concat(Request(OP_WRITE, 0, 4), {9, 9, 9, 9}));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].status, STATUS_OK);
    EXPECT_EQ(h.disk[0], 9);
}

TEST(ConnectionCycle, WrongCredentialThenReadIsDeniedAndInfoShowsNone) {
    CycleHarness h(kDiskSize, ACCESS_FULL, TestCredentials());
    h.ClientSends(AuthenticateRequest(Filled(0x99)));
    h.ClientSends(Request(OP_READ, 0, 512));
    h.ClientSends(Request(OP_GET_INFO, 0, 0));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[1].status, ERR_ACCESS_DENIED);
    EXPECT_EQ(r[2].data[offsetof(DiskInfo, access)], ACCESS_NONE);
}

TEST(ConnectionCycle, UnknownOpcodeEndsAllAnswersButNoticesTheClientClosing) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    h.ClientSends(Request(0x81, 0, 0));
    h.ClientSends(Request(OP_GET_INFO, 0, 0));
    h.ClientSends(Request(OP_READ, 0, 512));
    EXPECT_TRUE(h.received.empty());
    EXPECT_EQ(h.diskOperations, 0u);
    EXPECT_TRUE(h.violations.empty());
    EXPECT_TRUE(h.WaitingForNetwork());
    h.ClientCloses();
    EXPECT_TRUE(h.closed);
}

TEST(ConnectionCycle, OverlongWriteIsDrainedThenDeniedAndTheStreamStaysInStep) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    const std::uint32_t length = 3 * kMax + 5;
    const std::vector<std::uint8_t> before = h.disk;
    std::vector<std::uint8_t> stream = Request(OP_WRITE, 0, length, 1);
    stream.resize(stream.size() + length, 0x77);
    // The data of the refused write must not be taken for a request.
    std::memcpy(stream.data() + 32, Request(OP_GET_INFO, 0, 0).data(), 32);
    h.ClientSends(stream);
    h.ClientSends(Request(OP_GET_INFO, 0, 0, 2));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].status, ERR_ACCESS_DENIED);
    EXPECT_EQ(r[0].count, length);
    EXPECT_EQ(r[1].echo, 2);
    EXPECT_EQ(h.diskOperations, 0u);
    EXPECT_EQ(h.disk, before);
}

struct DiskFailureCase {
    const char* name;
    std::uint8_t opcode;
    bool zeroCompletion;
    bool failsAfterStart;
    std::uint32_t startError;
    std::uint16_t status;
    std::uint32_t count;
    std::uint32_t dataLength;
};

class DiskFailure : public ::testing::TestWithParam<DiskFailureCase> {};

TEST_P(DiskFailure, IsAnsweredAndKeepsTheConnection) {
    const DiskFailureCase& c = GetParam();
    CycleHarness h(kDiskSize, ACCESS_FULL);
    h.knobs.diskZeroCompletion = c.zeroCompletion;
    h.knobs.diskFailsAfterStart = c.failsAfterStart;
    h.knobs.diskStartError = c.startError;
    std::vector<std::uint8_t> request = Request(c.opcode, 4096, 1000);
    if (c.opcode == OP_WRITE) request.resize(request.size() + 1000, 1);
    h.ClientSends(request);
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].status, c.status);
    EXPECT_EQ(r[0].count, c.count);
    EXPECT_EQ(r[0].dataLength, c.dataLength);
    EXPECT_TRUE(h.WaitingForNetwork());
    EXPECT_TRUE(h.loggedWriteErrors.empty()) << "only a continuation that cannot start is logged";
}

INSTANTIATE_TEST_SUITE_P(
    Disk, DiskFailure,
    ::testing::Values(
        DiskFailureCase{"ReadFailsAfterStart", OP_READ, false, true, 0, ERR_REQUEST_FAILED, 0, 0},
        DiskFailureCase{"WriteFailsAfterStart", OP_WRITE, false, true, 0, ERR_REQUEST_FAILED, 0, 0},
        DiskFailureCase{"ReadCannotStart", OP_READ, false, false, 0x10017, 0x0017, 0, 1000},
        DiskFailureCase{"WriteCannotStart", OP_WRITE, false, false, 0x10017, 0x0017, 0, 0},
        DiskFailureCase{"ReadZeroByteCompletion", OP_READ, true, false, 0, STATUS_OK, 1000, 1000},
        DiskFailureCase{"WriteZeroByteCompletion", OP_WRITE, true, false, 0, STATUS_OK, 1000, 0}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ConnectionCycle, ReadPastTheEndOfTheDiskIsAnsweredAsFailed) {
    CycleHarness h(4096, ACCESS_FULL);
    h.ClientSends(Request(OP_READ, 8192, 512));
    const auto r = Responses(h);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].status, ERR_REQUEST_FAILED);
}

TEST(ConnectionCycle, WriteContinuationThatCannotStartIsLogged) {
    ShareCredentials credentials{};
    std::vector<std::uint8_t> buffer(CONNECTION_BUFFER_SIZE);
    ConnectionCycle cycle(std::span<std::uint8_t, CONNECTION_BUFFER_SIZE>(buffer.data(), CONNECTION_BUFFER_SIZE),
                          credentials, 1 << 20, 0, ACCESS_FULL);
    cycle.Start();
    const auto request = Concat(Request(OP_WRITE, 100, 64), std::vector<std::uint8_t>(64, 1));
    std::memcpy(buffer.data(), request.data(), request.size());
    Action action = cycle.OnNetworkCompleted(true, static_cast<std::uint32_t>(request.size()));
    ASSERT_EQ(action.kind, ActionKind::WriteDisk);
    EXPECT_EQ(cycle.DiskMode(), 1u);
    action = cycle.OnDiskCompleted(true, 16);
    ASSERT_EQ(action.kind, ActionKind::WriteDisk);
    EXPECT_EQ(action.diskOffset, 116u);
    EXPECT_EQ(action.bufferOffset, 32u + 16u);
    EXPECT_EQ(action.length, 48u);
    action = cycle.OnDiskStartFailed(0x70);
    ASSERT_EQ(action.kind, ActionKind::Send);
    ASSERT_TRUE(action.writeErrorToLog);
    EXPECT_EQ(*action.writeErrorToLog, 0x70u);
    EXPECT_EQ(cycle.State(), STATE_SENDING);
}

TEST(ConnectionCycle, ClientGoingAwayMidRequestClosesWithoutAnswer) {
    CycleHarness h(kDiskSize, ACCESS_FULL);
    const auto request = Request(OP_READ, 0, 512);
    h.ClientSends({request.begin(), request.begin() + 5});
    h.ClientCloses();
    EXPECT_TRUE(h.closed);
    EXPECT_TRUE(h.received.empty()) << "a request in progress is dropped without an answer";
}

TEST(ConnectionCycle, FailedNetworkCompletionCloses) {
    ShareCredentials credentials{};
    std::vector<std::uint8_t> buffer(CONNECTION_BUFFER_SIZE);
    ConnectionCycle cycle(std::span<std::uint8_t, CONNECTION_BUFFER_SIZE>(buffer.data(), CONNECTION_BUFFER_SIZE),
                          credentials, 0, 0, ACCESS_FULL);
    EXPECT_EQ(cycle.Start().kind, ActionKind::Receive);
    EXPECT_EQ(cycle.OnNetworkCompleted(false, 100).kind, ActionKind::Close);
}

}  // namespace
}  // namespace varnox::testing
