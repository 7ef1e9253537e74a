#include "tool.h"

#include "help_text.h"
#include "protocol.h"

namespace varnox::disk_tool {

namespace {

client::Result<void> Dispatch(const Invocation& invocation, ToolStreams& streams) {
    switch (invocation.command) {
        case CommandKind::Help:
            streams.out << HelpText(invocation.helpTopic);
            return {};
        case CommandKind::Info:
            return RunInfo(invocation, streams);
        case CommandKind::Read:
            return RunRead(invocation, streams);
        case CommandKind::Write:
            return RunWrite(invocation, streams);
        case CommandKind::Auth:
            return RunAuth(invocation, streams);
        case CommandKind::Bench:
            return RunBench(invocation, streams);
    }
    return {};
}

}  // namespace

int RunTool(std::span<const std::string_view> args, ToolStreams& streams) {
    auto invocation = ParseCommandLine(args);
    if (!invocation.ok()) {
        streams.err << "varnox-disk: " << invocation.error().message << "\n"
                    << "Try 'varnox-disk --help'.\n";
        return EXIT_USAGE;
    }
    const auto done = Dispatch(invocation.value(), streams);
    streams.out.flush();
    if (done.ok()) return EXIT_OK;

    const client::Error& error = done.error();
    streams.err << "varnox-disk: " << error.message << "\n";
    // The commonest cause of a refusal is a share that wants a password first.
    if (error.kind == client::ErrorKind::Status && error.code == ERR_ACCESS_DENIED &&
        !invocation.value().global.credential) {
        streams.err << "varnox-disk: the share may need a credential: give --password or --digest\n";
    }
    return EXIT_FAILED;
}

}  // namespace varnox::disk_tool
