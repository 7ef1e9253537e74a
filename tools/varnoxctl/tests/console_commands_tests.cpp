#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "configuration_model.h"
#include "console_commands.h"
#include "fake_backends.h"
#include "management.h"
#include "model_calls.h"

namespace varnox::console {
namespace {

using config::testing::FakeRunner;
using config::testing::FakeStore;

// A table row's cells: columns are at least two spaces apart, cells hold single spaces.
std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::size_t position = 0;
    while (position < line.size()) {
        std::size_t end = line.find("  ", position);
        if (end == std::string::npos) end = line.size();
        cells.push_back(line.substr(position, end - position));
        position = line.find_first_not_of(' ', end);
        if (position == std::string::npos) break;
    }
    return cells;
}

struct Ran {
    int status;
    std::string out;
    std::string err;
};

class ConsoleCommands : public ::testing::Test {
protected:
    void SetUp() override {
        config::TheConfiguration().Empty();
        config::TheConfiguration().SetBackends(&store_, &runner_);
        config::TheConfiguration().Load();
    }
    void TearDown() override {
        config::TheConfiguration().Empty();
        config::TheConfiguration().SetBackends(nullptr, nullptr);
    }

    Ran Run(const std::vector<std::string>& words) {
        std::vector<std::string_view> arguments(words.begin(), words.end());
        std::ostringstream out;
        std::ostringstream err;
        const ConsoleOutput output{out, err, {}};
        const auto bind = [this](const std::string& endpoint) {
            boundTo_ = endpoint;
            return bindFailure_;
        };
        const int status = RunConsole(arguments, calls_, bind, output);
        return Ran{status, out.str(), err.str()};
    }

    // Runs a command that must succeed and returns what it printed.
    std::string Ok(const std::vector<std::string>& words) {
        const Ran ran = Run(words);
        EXPECT_EQ(ran.status, EXIT_OK) << words[0] << ": " << ran.err;
        EXPECT_EQ(ran.err, "") << words[0];
        return ran.out;
    }

    std::string AddServer(const std::string& source, const std::string& port) {
        const std::string out = Ok({"add-server", "--source", source, "--port", port, "--password", "pw"});
        // "added server N (stopped): ..."
        const std::size_t start = std::string("added server ").size();
        return out.substr(start, out.find(' ', start) - start);
    }

    FakeStore store_;
    FakeRunner runner_;
    testing::ModelCalls calls_;
    std::string boundTo_;
    std::string bindFailure_;
};

TEST_F(ConsoleCommands, ServersAreListedWithSettingsAndState) {
    EXPECT_EQ(Ok({"servers"}), "no servers\n");
    const std::string first = AddServer("c:\\disks\\a.img", "9000");
    const std::string second = AddServer("\\\\.\\PhysicalDrive1", "9001");
    EXPECT_EQ(Ok({"start", second}), "started server " + second + " on port 9001\n");

    const std::string listing = Ok({"servers"});
    std::istringstream lines(listing);
    std::string header, row1, row2, rest;
    std::getline(lines, header);
    std::getline(lines, row1);
    std::getline(lines, row2);
    EXPECT_FALSE(std::getline(lines, rest));
    const std::vector<std::string> headers = {"SERVER", "STATE",     "PORT",     "SOURCE",         "CAPACITY",
                                              "ADDRESS", "CACHE", "AUTH MODE", "PASSWORD", "MANAGE PASSWORD"};
    EXPECT_EQ(Cells(header), headers) << listing;
    // The password is set, the management password is not; digests are never shown.
    EXPECT_EQ(Cells(row1), (std::vector<std::string>{first, "stopped", "9000", "c:\\disks\\a.img", "0 B", "0.0.0.0", "0",
                                                     "0", "set", "-"}))
        << listing;
    EXPECT_EQ(Cells(row2), (std::vector<std::string>{second, "running", "9001", "\\\\.\\PhysicalDrive1", "0 B", "0.0.0.0",
                                                     "0", "0", "set", "-"}))
        << listing;
    // Columns line up: every cell of a column starts where its header does.
    EXPECT_EQ(row1.find("stopped"), header.find("STATE"));
    EXPECT_EQ(row2.find("running"), header.find("STATE"));
    EXPECT_EQ(row1.find("c:\\"), header.find("SOURCE"));
    EXPECT_EQ(boundTo_, "varnoxsvc");
}

TEST_F(ConsoleCommands, StartStopAndDelete) {
    const std::string server = AddServer("c:\\a.img", "9000");
    EXPECT_EQ(Ok({"start", server}), "started server " + server + " on port 9000\n");

    const Ran again = Run({"start", server});
    EXPECT_EQ(again.status, EXIT_FAILED);
    EXPECT_EQ(again.err, "varnoxctl: server " + server + " is already running\n");

    EXPECT_EQ(Ok({"stop", server}), "stopped server " + server + "\n");
    EXPECT_EQ(runner_.Stopped().size(), 1u);
    EXPECT_EQ(Ok({"stop", server}), "stopped server " + server + "\n");

    runner_.FailSource("c:\\missing.img");
    const std::string broken = AddServer("c:\\missing.img", "9001");
    const Ran failed = Run({"start", broken});
    EXPECT_EQ(failed.status, EXIT_FAILED);
    EXPECT_NE(failed.err.find("server " + broken + " did not start"), std::string::npos) << failed.err;

    // A running server is stopped before its entry goes, so no engine is left behind.
    EXPECT_EQ(Ok({"start", server}), "started server " + server + " on port 9000\n");
    EXPECT_EQ(Ok({"delete", server}), "stopped server " + server + "\ndeleted server " + server + "\n");
    EXPECT_EQ(runner_.RunningCount(), 0u);
    EXPECT_TRUE(runner_.Detached().empty());
    EXPECT_EQ(Ok({"delete", broken}), "deleted server " + broken + "\n");
    EXPECT_EQ(Ok({"servers"}), "no servers\n");
}

TEST_F(ConsoleCommands, MissingServerIsNamed) {
    const std::vector<std::vector<std::string>> commands = {
        {"start", "99"},
        {"stop", "99"},
        {"delete", "99"},
        {"clients", "99"},
        {"connected", "99"},
        {"add-client", "99", "10.0.0.1", "full"},
        {"add-connected", "99", "10.0.0.1", "full"},
        {"set-client", "99", "10.0.0.1", "--access", "full"},
        {"set-connected", "99", "3", "--access", "full"},
        {"delete-client", "99", "10.0.0.1"},
        {"forget-connected", "99", "10.0.0.1"},
    };
    for (const auto& words : commands) {
        const Ran ran = Run(words);
        EXPECT_EQ(ran.status, EXIT_FAILED) << words[0];
        EXPECT_EQ(ran.err, "varnoxctl: no server 99\n") << words[0];
        EXPECT_EQ(ran.out, "") << words[0];
    }
}

TEST_F(ConsoleCommands, StaticClients) {
    const std::string server = AddServer("c:\\a.img", "9000");
    const std::string other = AddServer("c:\\b.img", "9001");
    EXPECT_EQ(Ok({"clients", server}), "no static clients\n");
    EXPECT_EQ(Ok({"add-client", server, "any", "read-only"}), "added client any (read-only) to server " + server + "\n");
    EXPECT_EQ(Ok({"add-client", server, "10.0.0.5", "full", "--host-name", "alpha"}),
              "added client 10.0.0.5 (full) to server " + server + "\n");
    Ok({"add-client", other, "10.0.0.9", "none"});

    const Ran duplicate = Run({"add-client", server, "10.0.0.5", "none"});
    EXPECT_EQ(duplicate.status, EXIT_FAILED);
    EXPECT_EQ(duplicate.err, "varnoxctl: server " + server + " did not add client 10.0.0.5: " +
                                 config::DUPLICATE_CLIENT_TEXT + "\n");
    EXPECT_EQ(Ok({"last-error"}), std::string(config::DUPLICATE_CLIENT_TEXT) + "\n");

    std::string listing = Ok({"clients", server});
    EXPECT_NE(listing.find("CLIENT  ADDRESS   ACCESS     HOST NAME\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("any       read-only  (not looked up yet)\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("10.0.0.5  full       alpha\n"), std::string::npos) << listing;
    EXPECT_LT(listing.find("any"), listing.find("10.0.0.5"));

    Ok({"set-client", server, "10.0.0.5", "--access", "none", "--resolve-again"});
    listing = Ok({"clients", server});
    EXPECT_NE(listing.find("10.0.0.5  none       (not looked up yet)\n"), std::string::npos) << listing;
    Ok({"set-client", server, "any", "--host-name", "everyone"});
    EXPECT_NE(Ok({"clients", server}).find("any       read-only  everyone\n"), std::string::npos);

    // A client of another server is not this server's, whatever its handle.
    std::int32_t foreign = 0;
    std::int32_t otherServer = std::stoi(other);
    ASSERT_EQ(config::EnumStaticClients(otherServer, 0, &foreign), 0);
    const Ran wrong = Run({"delete-client", server, std::to_string(foreign)});
    EXPECT_EQ(wrong.status, EXIT_FAILED);
    EXPECT_EQ(wrong.err, "varnoxctl: server " + server + " has no static client " + std::to_string(foreign) + "\n");
    EXPECT_NE(Ok({"clients", other}).find("10.0.0.9"), std::string::npos);

    EXPECT_EQ(Ok({"delete-client", server, "10.0.0.5"}), "removed client 10.0.0.5 from server " + server + "\n");
    const Ran gone = Run({"set-client", server, "10.0.0.5", "--access", "full"});
    EXPECT_EQ(gone.status, EXIT_FAILED);
    EXPECT_EQ(gone.err, "varnoxctl: server " + server + " has no static client 10.0.0.5\n");
    EXPECT_EQ(Ok({"clients", server}).find("10.0.0.5"), std::string::npos);
}

TEST_F(ConsoleCommands, ConnectedClients) {
    const std::string server = AddServer("c:\\a.img", "9000");
    EXPECT_EQ(Ok({"connected", server}), "no connected clients\n");
    Ok({"add-connected", server, "127.0.0.1", "read-only", "--host-name", "localhost"});
    Ok({"add-connected", server, "10.1.2.3", "full"});
    std::string listing = Ok({"connected", server});
    EXPECT_NE(listing.find("CLIENT  ADDRESS    ACCESS     STATUS     HOST NAME\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("127.0.0.1  read-only  connected  localhost\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("10.1.2.3   full       connected  (not looked up yet)\n"), std::string::npos) << listing;

    Ok({"set-connected", server, "10.1.2.3", "--access", "none"});
    EXPECT_NE(Ok({"connected", server}).find("10.1.2.3   none"), std::string::npos);
    EXPECT_EQ(Ok({"forget-connected", server, "127.0.0.1"}),
              "removed connected client 127.0.0.1 from server " + server + "\n");
    listing = Ok({"connected", server});
    EXPECT_EQ(listing.find("127.0.0.1"), std::string::npos) << listing;
    // The static list never saw any of it.
    EXPECT_EQ(Ok({"clients", server}), "no static clients\n");
}

TEST_F(ConsoleCommands, ServerNameHelpUsageAndBinding) {
    EXPECT_EQ(Ok({"server-name"}), std::string(config::SERVER_NAME_TEXT) + "\n");
    EXPECT_EQ(Ok({"--help"}), HelpText());
    EXPECT_EQ(Ok({"start", "--help"}), CommandHelpText("start"));

    boundTo_.clear();
    const Ran usage = Run({"start", "x"});
    EXPECT_EQ(usage.status, EXIT_USAGE);
    EXPECT_EQ(usage.out, "");
    EXPECT_NE(usage.err.find("run 'varnoxctl --help'"), std::string::npos);
    EXPECT_EQ(boundTo_, "") << "a bad command line must not reach the service";

    Ok({"--endpoint", "elsewhere", "servers"});
    EXPECT_EQ(boundTo_, "elsewhere");

    bindFailure_ = "RpcBindingFromStringBindingA() failed: 1703";
    const Ran unbound = Run({"servers"});
    EXPECT_EQ(unbound.status, EXIT_FAILED);
    EXPECT_EQ(unbound.err, "varnoxctl: RpcBindingFromStringBindingA() failed: 1703\n");
}

}  // namespace
}  // namespace varnox::console
