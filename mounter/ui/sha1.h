#pragma once
// SHA-1 (FIPS 180-1), the hash a share's passwords are compared by. Incremental, so a
// digest can be fed in whatever pieces the data arrive in.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace varnox {

inline constexpr std::size_t SHA1_DIGEST_SIZE = 20;
using Sha1Digest = std::array<std::uint8_t, SHA1_DIGEST_SIZE>;

class Sha1 {
public:
    Sha1();

    void Update(std::span<const std::uint8_t> bytes);
    void Update(std::string_view text);

    // Pads the message and returns its digest; the object starts over afterwards.
    Sha1Digest Finish();

private:
    static constexpr std::size_t BLOCK_SIZE = 64;

    void Reset();
    void ProcessBlock(const std::uint8_t* block);

    std::array<std::uint32_t, 5> state_{};
    std::array<std::uint8_t, BLOCK_SIZE> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t messageBytes_ = 0;
};

Sha1Digest Sha1Of(std::span<const std::uint8_t> bytes);

}  // namespace varnox
