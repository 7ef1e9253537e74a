#include "sha1.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace varnox {

namespace {

std::uint32_t LoadBigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           std::uint32_t{bytes[3]};
}

void StoreBigEndian32(std::uint32_t value, std::uint8_t* bytes) {
    bytes[0] = static_cast<std::uint8_t>(value >> 24);
    bytes[1] = static_cast<std::uint8_t>(value >> 16);
    bytes[2] = static_cast<std::uint8_t>(value >> 8);
    bytes[3] = static_cast<std::uint8_t>(value);
}

}  // namespace

Sha1::Sha1() { Reset(); }

void Sha1::Reset() {
    state_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    pendingSize_ = 0;
    messageBytes_ = 0;
}

void Sha1::Update(std::string_view text) {
    Update(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

void Sha1::Update(std::span<const std::uint8_t> bytes) {
    messageBytes_ += bytes.size();
    const std::uint8_t* at = bytes.data();
    std::size_t left = bytes.size();

    // Top up a partly filled block first, then hash whole blocks straight from the input.
    if (pendingSize_ > 0) {
        const std::size_t take = std::min(left, BLOCK_SIZE - pendingSize_);
        std::memcpy(pending_.data() + pendingSize_, at, take);
        pendingSize_ += take;
        at += take;
        left -= take;
        if (pendingSize_ < BLOCK_SIZE) return;
        ProcessBlock(pending_.data());
        pendingSize_ = 0;
    }
    for (; left >= BLOCK_SIZE; at += BLOCK_SIZE, left -= BLOCK_SIZE) ProcessBlock(at);
    if (left > 0) {
        std::memcpy(pending_.data(), at, left);
        pendingSize_ = left;
    }
}

Sha1Digest Sha1::Finish() {
    const std::uint64_t messageBits = messageBytes_ * 8;

    // A single 1 bit, zeros up to 8 bytes short of a block boundary, then the length.
    std::array<std::uint8_t, BLOCK_SIZE + 8> padding{};
    padding[0] = 0x80;
    const std::size_t used = (pendingSize_ + 1) % BLOCK_SIZE;
    const std::size_t zeros = used <= BLOCK_SIZE - 8 ? BLOCK_SIZE - 8 - used : 2 * BLOCK_SIZE - 8 - used;
    const std::size_t paddingSize = 1 + zeros;
    std::array<std::uint8_t, 8> length{};
    for (std::size_t i = 0; i < 8; ++i) length[i] = static_cast<std::uint8_t>(messageBits >> (56 - 8 * i));
    Update(std::span<const std::uint8_t>(padding.data(), paddingSize));
    Update(length);

    Sha1Digest digest{};
    for (std::size_t i = 0; i < state_.size(); ++i) StoreBigEndian32(state_[i], digest.data() + 4 * i);
    Reset();
    return digest;
}

void Sha1::ProcessBlock(const std::uint8_t* block) {
    std::array<std::uint32_t, 80> w{};
    for (std::size_t t = 0; t < 16; ++t) w[t] = LoadBigEndian32(block + 4 * t);
    for (std::size_t t = 16; t < 80; ++t) w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);

    std::uint32_t a = state_[0];
    std::uint32_t b = state_[1];
    std::uint32_t c = state_[2];
    std::uint32_t d = state_[3];
    std::uint32_t e = state_[4];
    for (std::size_t t = 0; t < 80; ++t) {
        std::uint32_t f;
        std::uint32_t k;
        if (t < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (t < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        const std::uint32_t temp = std::rotl(a, 5) + f + e + k + w[t];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = temp;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

Sha1Digest Sha1Of(std::span<const std::uint8_t> bytes) {
    Sha1 sha;
    sha.Update(bytes);
    return sha.Finish();
}

}  // namespace varnox
