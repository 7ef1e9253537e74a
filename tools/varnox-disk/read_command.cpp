#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "commands.h"
#include "progress.h"
#include "protocol.h"
#include "session.h"

namespace varnox::disk_tool {

using client::Error;
using client::ErrorKind;
using client::Result;

namespace {

// Refused here, before a request goes out: the server would only answer "request
// failed", which says nothing about why.
Result<std::uint64_t> ReadLength(const ReadOptions& options, std::uint64_t diskSize) {
    if (options.offset > diskSize) {
        return Error{ErrorKind::Usage, 0,
                     "read: offset " + std::to_string(options.offset) + " lies beyond the end of the disk (" +
                         std::to_string(diskSize) + " bytes)"};
    }
    const std::uint64_t available = diskSize - options.offset;
    if (!options.length) return available;
    if (*options.length > available) {
        return Error{ErrorKind::Usage, 0,
                     "read: " + std::to_string(*options.length) + " bytes at " + std::to_string(options.offset) +
                         " run past the end of the disk (" + std::to_string(diskSize) + " bytes)"};
    }
    return *options.length;
}

}  // namespace

Result<void> RunRead(const Invocation& invocation, ToolStreams& streams) {
    const ReadOptions& options = invocation.read;
    auto session = OpenSession(invocation.global);
    if (!session.ok()) return session.error();
    client::BlockClient& share = session.value();
    auto info = share.Info();
    if (!info.ok()) return info.error();
    auto length = ReadLength(options, info.value().size);
    if (!length.ok()) return length.error();

    const bool toStandardOutput = options.output == "-";
    std::ofstream file;
    if (!toStandardOutput) {
        file.open(options.output, std::ios::binary | std::ios::trunc);
        if (!file.is_open()) {
            return Error{ErrorKind::System, static_cast<std::uint32_t>(errno),
                         "cannot open '" + options.output + "' for writing: " + std::strerror(errno)};
        }
    }
    std::ostream& sink = toStandardOutput ? streams.out : file;
    const std::string sinkName = toStandardOutput ? "standard output" : "'" + options.output + "'";

    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(length.value(), MAX_TRANSFER_LENGTH)));
    Progress progress(streams.err, "read", length.value());
    std::uint64_t done = 0;
    while (done < length.value()) {
        const auto piece =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(length.value() - done, MAX_TRANSFER_LENGTH));
        if (auto read = share.Read(options.offset + done, piece, buffer); !read.ok()) return read.error();
        sink.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(piece));
        if (!sink) return Error{ErrorKind::System, 0, "writing to " + sinkName + " failed"};
        done += piece;
        progress.Update(done);
    }
    progress.Finish(done);
    sink.flush();
    if (!sink) return Error{ErrorKind::System, 0, "writing to " + sinkName + " failed"};
    if (!toStandardOutput) {
        file.close();
        if (file.fail()) return Error{ErrorKind::System, 0, "closing " + sinkName + " failed"};
        streams.out << "read " << done << " bytes at " << options.offset << " to " << options.output << "\n";
    }
    return share.Close();
}

}  // namespace varnox::disk_tool
