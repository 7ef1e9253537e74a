#pragma once
// Runs varnox-disk in-process against a fake server started for the test, with its
// standard streams captured.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fake_block_server.h"
#include "password_digest.h"
#include "tool.h"

namespace varnox::disk_tool::testing {

struct ToolRun {
    int exit = -1;
    std::string out;
    std::string err;
};

inline ToolRun RunWith(const std::vector<std::string>& args, const std::string& input = {}) {
    const std::vector<std::string_view> views(args.begin(), args.end());
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    ToolStreams streams{in, out, err};
    ToolRun run;
    run.exit = RunTool(views, streams);
    run.out = out.str();
    run.err = err.str();
    return run;
}

class ToolTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (server) server->Stop();
    }

    static client::FakeServerOptions Options(std::uint32_t access, std::uint64_t diskSize) {
        client::FakeServerOptions options;
        options.diskSize = diskSize;
        options.access = access;
        options.credentials.password = PasswordDigest("reader");
        options.credentials.managePassword = PasswordDigest("manager");
        return options;
    }

    // Use as ASSERT_TRUE(StartServer(...)).
    ::testing::AssertionResult StartServer(const client::FakeServerOptions& options) {
        if (server) server->Stop();
        auto started = client::FakeBlockServer::Start(options);
        if (!started.ok()) return ::testing::AssertionFailure() << started.error().message;
        server = std::move(started.value());
        return ::testing::AssertionSuccess();
    }

    // The tool with --port of the running server (and a timeout, so a hang fails).
    ToolRun Run(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.begin(), {"--port", std::to_string(server->Port()), "--timeout", "20"});
        return RunWith(args, input);
    }

    std::unique_ptr<client::FakeBlockServer> server;
};

inline std::string Text(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

inline std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(seed + i * 31 + (i >> 11));
    return bytes;
}

}  // namespace varnox::disk_tool::testing
