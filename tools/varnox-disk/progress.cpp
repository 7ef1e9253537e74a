#include "progress.h"

#include <cstdio>
#include <utility>

namespace varnox::disk_tool {

namespace {

std::string MiB(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

}  // namespace

Progress::Progress(std::ostream& err, std::string verb, std::optional<std::uint64_t> total, Clock::duration quiet)
    : err_(err), verb_(std::move(verb)), total_(total), start_(Clock::now()), nextLine_(start_ + quiet) {}

void Progress::Update(std::uint64_t done) {
    const Clock::time_point now = Clock::now();
    if (now < nextLine_) return;
    nextLine_ = now + std::chrono::seconds(1);
    Print(done);
}

void Progress::Finish(std::uint64_t done) {
    if (printed_) Print(done);
}

void Progress::Print(std::uint64_t done) {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    char rate[48];
    std::snprintf(rate, sizeof rate, ", %.1f MiB/s",
                  seconds > 0 ? static_cast<double>(done) / seconds / 1048576.0 : 0.0);
    err_ << "varnox-disk: " << verb_ << " " << MiB(done);
    if (total_) err_ << " of " << MiB(*total_);
    err_ << rate << "\n";
    err_.flush();
    printed_ = true;
}

}  // namespace varnox::disk_tool
