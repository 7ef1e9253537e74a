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

// Takes up to `wanted` bytes off the input; fewer only at its end.
Result<std::size_t> FillFromInput(std::istream& input, const std::string& inputName, std::uint8_t* at,
                                  std::size_t wanted) {
    input.read(reinterpret_cast<char*>(at), static_cast<std::streamsize>(wanted));
    const auto got = static_cast<std::size_t>(input.gcount());
    if (input.bad()) return Error{ErrorKind::System, 0, "reading " + inputName + " failed"};
    return got;
}

}  // namespace

Result<void> RunWrite(const Invocation& invocation, ToolStreams& streams) {
    const WriteOptions& options = invocation.write;
    const bool fromStandardInput = options.input == "-";
    std::ifstream file;
    if (!fromStandardInput) {
        file.open(options.input, std::ios::binary);
        if (!file.is_open()) {
            return Error{ErrorKind::System, static_cast<std::uint32_t>(errno),
                         "cannot open '" + options.input + "' for reading: " + std::strerror(errno)};
        }
    }
    std::istream& source = fromStandardInput ? streams.in : file;
    const std::string sourceName = fromStandardInput ? "standard input" : "'" + options.input + "'";

    auto session = OpenSession(invocation.global);
    if (!session.ok()) return session.error();
    client::BlockClient& share = session.value();
    auto info = share.Info();
    if (!info.ok()) return info.error();
    const std::uint64_t diskSize = info.value().size;

    std::vector<std::uint8_t> buffer(MAX_TRANSFER_LENGTH);
    Progress progress(streams.err, "wrote", options.length);
    std::uint64_t done = 0;
    for (;;) {
        std::size_t wanted = MAX_TRANSFER_LENGTH;
        if (options.length) wanted = static_cast<std::size_t>(std::min<std::uint64_t>(*options.length - done, wanted));
        if (wanted == 0) break;
        auto got = FillFromInput(source, sourceName, buffer.data(), wanted);
        if (!got.ok()) return got.error();
        if (got.value() == 0) break;
        const std::uint64_t at = options.offset + done;
        // Checked before each piece goes out, since the input's length is known only at its end.
        if (at > diskSize || got.value() > diskSize - at) {
            return Error{ErrorKind::Usage, 0,
                         "write: the input runs past the end of the disk (" + std::to_string(diskSize) + " bytes) at " +
                             std::to_string(at) + "; " + std::to_string(done) + " bytes before it were written"};
        }
        if (auto written = share.Write(at, std::span<const std::uint8_t>(buffer.data(), got.value())); !written.ok()) {
            return written.error();
        }
        done += got.value();
        progress.Update(done);
        if (got.value() < wanted) break;
    }
    progress.Finish(done);
    if (options.length && done < *options.length) {
        return Error{ErrorKind::Usage, 0,
                     "write: " + sourceName + " ended after " + std::to_string(done) + " of " +
                         std::to_string(*options.length) + " bytes (those were written)"};
    }
    streams.out << "wrote " << done << " bytes at " << options.offset << "\n";
    return share.Close();
}

}  // namespace varnox::disk_tool
