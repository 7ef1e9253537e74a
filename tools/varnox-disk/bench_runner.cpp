#include "bench_runner.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "protocol.h"
#include "session.h"
#include "share_text.h"

namespace varnox::disk_tool {

using client::BlockClient;
using client::Error;
using client::ErrorKind;
using client::Result;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint32_t RANDOM_BLOCK = 4096;
// Chunks the write measurement cycles over; their contents are read first and put back.
constexpr std::uint64_t WRITE_WINDOW_CHUNKS = 8;
// Below this a run says nothing while it works.
constexpr double QUIET_SECONDS = 3;

enum class Kind { RandomReads, SequentialReads, SequentialWrites };

struct Planned {
    Kind kind;
    Measure measure;
};

// Block-aligned offsets spread evenly over the disk; each connection gets its own
// sequence, so no two read the same blocks in step.
class RandomBlocks {
public:
    RandomBlocks(std::uint64_t seed, std::uint64_t blocks) : state_(seed * 0x9E3779B97F4A7C15u), blocks_(blocks) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return (z ^ (z >> 31)) % blocks_;
    }

private:
    std::uint64_t state_;
    std::uint64_t blocks_;
};

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

Clock::duration Span(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

Result<std::vector<BlockClient>> OpenSessions(const GlobalOptions& global, unsigned count) {
    std::vector<BlockClient> sessions;
    for (unsigned i = 0; i < count; ++i) {
        auto session = OpenSession(global);
        if (!session.ok()) return session.error();
        sessions.push_back(std::move(session.value()));
    }
    return sessions;
}

// Every connection reads random blocks until the time is up; the first failure stops all.
Result<void> RandomReads(const GlobalOptions& global, std::uint64_t diskSize, double seconds, Measure& measure) {
    auto sessions = OpenSessions(global, measure.connections);
    if (!sessions.ok()) return sessions.error();
    const std::uint64_t blocks = diskSize / measure.block;
    std::vector<std::uint64_t> counts(measure.connections, 0);
    std::atomic<bool> failed{false};
    std::mutex errorMutex;
    std::optional<Error> firstError;
    auto fail = [&](const Error& error) {
        std::lock_guard lock(errorMutex);
        if (!firstError) firstError = error;
        failed = true;
    };

    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + Span(seconds);
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < measure.connections; ++i) {
        auto reader = [&, i] {
            RandomBlocks offsets(i + 1, blocks);
            std::vector<std::uint8_t> buffer(measure.block);
            while (!failed && Clock::now() < deadline) {
                if (auto read = sessions.value()[i].Read(offsets.Next() * measure.block, measure.block, buffer);
                    !read.ok()) {
                    fail(read.error());
                    return;
                }
                ++counts[i];
            }
        };
        try {
            threads.emplace_back(reader);
        } catch (const std::system_error& e) {
            fail(Error{ErrorKind::System, static_cast<std::uint32_t>(e.code().value()),
                       std::string("starting a bench thread: ") + e.what()});
            break;
        }
    }
    for (std::thread& thread : threads) thread.join();
    measure.seconds = SecondsSince(start);
    if (firstError) return *firstError;
    for (const std::uint64_t count : counts) measure.requests += count;
    for (BlockClient& session : sessions.value()) {
        if (auto closed = session.Close(); !closed.ok()) return closed.error();
    }
    return {};
}

Result<void> SequentialReads(const GlobalOptions& global, std::uint64_t diskSize, double seconds, Measure& measure) {
    auto session = OpenSession(global);
    if (!session.ok()) return session.error();
    std::vector<std::uint8_t> buffer(measure.block);
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + Span(seconds);
    std::uint64_t offset = 0;
    while (Clock::now() < deadline) {
        if (offset + measure.block > diskSize) offset = 0;
        if (auto read = session.value().Read(offset, measure.block, buffer); !read.ok()) return read.error();
        offset += measure.block;
        ++measure.requests;
    }
    measure.seconds = SecondsSince(start);
    return session.value().Close();
}

// The bytes as the disk holds them. A read from offset 0 carries the connection's
// value over the disk-signature field instead; a read of no more than the bytes before
// that field shows none of it, so sector 0 is read in two pieces.
Result<void> ReadAsStored(BlockClient& session, std::uint64_t offset, std::span<std::uint8_t> out) {
    const auto length = static_cast<std::uint32_t>(out.size());
    if (offset != 0 || length <= DISK_SIGNATURE_OFFSET) return session.Read(offset, length, out);
    constexpr auto head = static_cast<std::uint32_t>(DISK_SIGNATURE_OFFSET);
    if (auto read = session.Read(0, head, out); !read.ok()) return read;
    return session.Read(head, length - head, out.subspan(head));
}

// Writes each chunk of a small window back with the bytes it held, so the disk ends as
// it began (unless someone else writes to the same place meanwhile). The window leaves
// out the first chunk when the disk has room, so the partition table is not rewritten.
Result<void> SequentialWrites(const GlobalOptions& global, std::uint64_t diskSize, double seconds, Measure& measure) {
    auto session = OpenSession(global);
    if (!session.ok()) return session.error();
    const std::uint64_t chunksOnDisk = diskSize / measure.block;
    const std::uint64_t first = chunksOnDisk >= 2 ? 1 : 0;
    const std::uint64_t chunks = std::clamp<std::uint64_t>(chunksOnDisk - first, 1, WRITE_WINDOW_CHUNKS);
    std::vector<std::vector<std::uint8_t>> window(static_cast<std::size_t>(chunks));
    auto offsetOf = [&](std::size_t i) { return (first + i) * std::uint64_t{measure.block}; };
    for (std::size_t i = 0; i < window.size(); ++i) {
        window[i].resize(measure.block);
        if (auto read = ReadAsStored(session.value(), offsetOf(i), window[i]); !read.ok()) return read.error();
    }
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + Span(seconds);
    for (std::size_t i = 0; Clock::now() < deadline; i = (i + 1) % window.size()) {
        if (auto written = session.value().Write(offsetOf(i), window[i]); !written.ok()) return written.error();
        ++measure.requests;
    }
    measure.seconds = SecondsSince(start);
    return session.value().Close();
}

Planned Plan(Kind kind, std::string key, std::string title, unsigned connections, std::uint32_t block) {
    Planned planned{kind, Measure{}};
    planned.measure.key = std::move(key);
    planned.measure.title = std::move(title);
    planned.measure.connections = connections;
    planned.measure.block = block;
    return planned;
}

std::vector<Planned> Plan(const BenchOptions& options, std::uint64_t diskSize) {
    const auto sequentialBlock = static_cast<std::uint32_t>(std::min<std::uint64_t>(MAX_TRANSFER_LENGTH, diskSize));
    std::vector<Planned> plan;
    plan.push_back(Plan(Kind::RandomReads, "rand_read_qd1", "random reads, one in flight", 1, RANDOM_BLOCK));
    plan.push_back(Plan(Kind::SequentialReads, "seq_read", "sequential reads", 1, sequentialBlock));
    plan.push_back(Plan(Kind::SequentialWrites, "seq_write", "sequential writes", 1, sequentialBlock));
    for (const unsigned connections : options.connections) {
        plan.push_back(Plan(Kind::RandomReads, "agg_read_c" + std::to_string(connections), "random reads, aggregate",
                            connections, options.aggregateBlock));
    }
    return plan;
}

}  // namespace

Result<BenchRun> RunBenchMeasures(const GlobalOptions& global, const BenchOptions& options,
                                  const BenchProgress& progress) {
    BenchRun run;
    {
        auto probe = OpenSession(global);
        if (!probe.ok()) return probe.error();
        auto info = probe.value().Info();
        if (!info.ok()) return info.error();
        run.share = info.value();
        if (auto closed = probe.value().Close(); !closed.ok()) return closed.error();
    }
    const std::uint64_t diskSize = run.share.size;
    const std::uint32_t largestRandom = std::max(RANDOM_BLOCK, options.aggregateBlock);
    if (diskSize < largestRandom) {
        return Error{ErrorKind::Usage, 0,
                     "bench: the disk (" + ByteCountText(diskSize) + ") is smaller than one " +
                         BlockSizeText(largestRandom) + " block"};
    }

    std::vector<Planned> plan = Plan(options, diskSize);
    for (Planned& planned : plan) {
        if (planned.kind != Kind::SequentialWrites) continue;
        if (!options.write) {
            planned.measure.skipped = "left out (--no-write)";
        } else if (!WriteAllowed(run.share.access)) {
            planned.measure.skipped = "needs full access, the connection has " + AccessText(run.share.access);
        }
    }
    std::size_t toRun = 0;
    for (const Planned& planned : plan) toRun += planned.measure.skipped ? 0 : 1;
    const bool report = progress && static_cast<double>(toRun) * options.secondsPerMeasure > QUIET_SECONDS;

    std::size_t index = 0;
    for (Planned& planned : plan) {
        Measure& measure = planned.measure;
        if (measure.skipped) continue;
        ++index;
        if (report) {
            progress("bench: [" + std::to_string(index) + "/" + std::to_string(toRun) + "] " + measure.title + ", " +
                     BlockSizeText(measure.block) + ", " + std::to_string(measure.connections) +
                     (measure.connections == 1 ? " connection" : " connections"));
        }
        Result<void> done = planned.kind == Kind::RandomReads
                                ? RandomReads(global, diskSize, options.secondsPerMeasure, measure)
                            : planned.kind == Kind::SequentialReads
                                ? SequentialReads(global, diskSize, options.secondsPerMeasure, measure)
                                : SequentialWrites(global, diskSize, options.secondsPerMeasure, measure);
        if (!done.ok()) return Error{done.error().kind, done.error().code, measure.title + ": " + done.error().message};
    }
    for (Planned& planned : plan) run.measures.push_back(std::move(planned.measure));
    return run;
}

}  // namespace varnox::disk_tool
