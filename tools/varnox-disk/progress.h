#pragma once
// Progress of a long transfer on standard error: silent for the first few seconds, so
// short commands print nothing extra, then one line a second.

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace varnox::disk_tool {

class Progress {
public:
    using Clock = std::chrono::steady_clock;

    // `verb` names the transfer in each line: "read" gives "read 12 MiB of 40 MiB".
    Progress(std::ostream& err, std::string verb, std::optional<std::uint64_t> total,
             Clock::duration quiet = std::chrono::seconds(3));

    // `done` bytes so far; prints when the quiet time is over and a second has passed
    // since the last line.
    void Update(std::uint64_t done);

    // A closing line, only when any progress line was printed.
    void Finish(std::uint64_t done);

private:
    void Print(std::uint64_t done);

    std::ostream& err_;
    std::string verb_;
    std::optional<std::uint64_t> total_;
    Clock::time_point start_;
    Clock::time_point nextLine_;
    bool printed_ = false;
};

}  // namespace varnox::disk_tool
