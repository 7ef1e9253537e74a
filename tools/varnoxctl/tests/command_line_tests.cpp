#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "command_line.h"
#include "digest_hex.h"
#include "password_digest.h"

namespace varnox::console {
namespace {

using Outcome = ParsedCommandLine::Outcome;

ParsedCommandLine Parse(const std::vector<std::string>& words) {
    std::vector<std::string_view> arguments(words.begin(), words.end());
    return ParseCommandLine(arguments);
}

std::uint32_t Bytes(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

TEST(CommandLine, UsageErrorsNameTheProblem) {
    struct Case {
        std::vector<std::string> words;
        const char* messagePart;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "no command 'frobnicate'"},
        {{"--verbose", "servers"}, "unknown option --verbose"},
        {{"--endpoint"}, "--endpoint needs a value"},
        {{"--endpoint="}, "--endpoint needs a value"},
        {{"--endpoint", "x"}, "no command given"},
        {{"servers", "extra"}, "expects 0 arguments, got 1"},
        {{"start"}, "expects 1 argument, got 0"},
        {{"start", "0"}, "SERVER must be a handle"},
        {{"start", "-3"}, "SERVER must be a handle"},
        {{"start", "2147483648"}, "SERVER must be a handle"},
        {{"stop", "abc"}, "SERVER must be a handle"},
        {{"add-server", "--port", "80"}, "--source is required"},
        {{"add-server", "--source", "c:\\a.img"}, "--port is required"},
        {{"add-server", "--source", "a", "--port", "0"}, "--port must be 1-65535"},
        {{"add-server", "--source", "a", "--port", "65536"}, "--port must be 1-65535"},
        {{"add-server", "--source", "a", "--port", "80", "--password", "x", "--password-digest",
          "a9993e364706816aba3e25717850c26c9cd0d89d"},
         "not both"},
        {{"add-server", "--source", "a", "--port", "80", "--password-digest", "abc"}, "40 hex digits"},
        {{"add-server", "--source", "a", "--port", "80", "--cache", "x"}, "--cache must be a whole number"},
        {{"add-server", "--source", "a", "--port", "80", "--capacity", "1.5G"}, "--capacity must be a size"},
        {{"add-server", "--source", "a", "--port", "80", "--address", "1.2.3"}, "--address must be an address"},
        {{"add-server", "--source", std::string(260, 'x'), "--port", "80"}, "at most 259 characters"},
        {{"add-server", "--source", "a", "--port"}, "--port needs a value"},
        {{"add-server", "--source", "a", "--port", "80", "--port", "81"}, "--port given twice"},
        {{"add-server", "--bogus", "1"}, "unknown option --bogus"},
        {{"add-client", "1", "10.0.0.5"}, "expects 3 arguments, got 2"},
        {{"add-client", "1", "10.0.0.256", "full"}, "ADDRESS must be an address"},
        {{"add-client", "1", "10.0.0.5", "all"}, "access must be full, read-only or none"},
        {{"add-client", "1", "10.0.0.5", "full", "--host-name", std::string(128, 'h')}, "at most 127 characters"},
        {{"add-connected", "1", "any", "full"}, "a connected client has a real address"},
        {{"set-client", "1", "10.0.0.5"}, "nothing to change"},
        {{"set-client", "1", "x", "--access", "full"}, "CLIENT must be a client handle or an address"},
        {{"set-client", "1", "2", "--host-name", "a", "--resolve-again"}, "not both"},
        {{"set-client", "1", "2", "--resolve-again=yes"}, "--resolve-again takes no value"},
        {{"set-connected", "1", "2", "--access", "most"}, "access must be full, read-only or none"},
        {{"delete-client", "1"}, "expects 2 arguments, got 1"},
        {{"help", "frobnicate"}, "no command 'frobnicate'"},
    };
    for (const Case& c : cases) {
        const ParsedCommandLine parsed = Parse(c.words);
        std::string line;
        for (const auto& word : c.words) line += word + " ";
        EXPECT_EQ(parsed.outcome, Outcome::UsageError) << line;
        EXPECT_NE(parsed.text.find(c.messagePart), std::string::npos) << line << "-> " << parsed.text;
    }
}

TEST(CommandLine, HelpOverallAndPerCommand) {
    for (const std::vector<std::string>& words : std::vector<std::vector<std::string>>{
             {"--help"}, {"-h"}, {"help"}, {"--endpoint", "x", "--help"}}) {
        const ParsedCommandLine parsed = Parse(words);
        ASSERT_EQ(parsed.outcome, Outcome::Help) << words[0];
        EXPECT_EQ(parsed.text, HelpText());
    }
    const char* commands[] = {"servers", "add-server", "start", "stop", "delete", "clients", "add-client",
                              "set-client", "delete-client", "connected", "add-connected", "set-connected",
                              "forget-connected", "last-error", "server-name"};
    for (const char* command : commands) {
        EXPECT_NE(HelpText().find(std::string("  ") + command + " "), std::string::npos) << command;
        const std::string help = CommandHelpText(command);
        EXPECT_NE(help.find(std::string("usage: varnoxctl [--endpoint NAME] ") + command), std::string::npos);
        // Help wins over whatever else is wrong with the line.
        for (const std::vector<std::string>& words :
             std::vector<std::vector<std::string>>{{command, "--help"}, {command, "bad", "-h"}, {"help", command}}) {
            const ParsedCommandLine parsed = Parse(words);
            ASSERT_EQ(parsed.outcome, Outcome::Help) << command;
            EXPECT_EQ(parsed.text, help);
        }
    }
    EXPECT_EQ(CommandHelpText("frobnicate"), "");
}

TEST(CommandLine, AddServerBuildsTheRecord) {
    const ParsedCommandLine parsed =
        Parse({"--endpoint", "other", "add-server", "--source", "\\\\.\\PhysicalDrive1", "--port=3260", "--password",
               "abc", "--manage-password-digest", "00112233445566778899AABBCCDDEEFF00112233", "--address",
               "192.168.0.1", "--capacity", "2T", "--cache", "-7", "--auth-mode", "3"});
    ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.text;
    const Invocation& invocation = parsed.invocation;
    EXPECT_EQ(invocation.endpoint, "other");
    EXPECT_EQ(invocation.command, Command::AddServer);
    // The record is packed: its fields are read by value, never bound to a reference.
    const config::ServerRecord& record = invocation.serverRecord;
    EXPECT_STREQ(record.Source, "\\\\.\\PhysicalDrive1");
    EXPECT_EQ(+record.Port, 3260);
    EXPECT_EQ(+record.IpAddress, Bytes(192, 168, 0, 1));
    EXPECT_EQ(+record.Capability, 2ull << 40);
    EXPECT_EQ(+record.Cache, -7);
    EXPECT_EQ(+record.AuthMode, 3);
    EXPECT_EQ(+record.Started, 0);
    const Sha1Digest password = PasswordDigest("abc");
    EXPECT_EQ(std::memcmp(record.Password, password.data(), password.size()), 0);
    const Sha1Digest manage = ParseDigestHex("00112233445566778899aabbccddeeff00112233").digest;
    EXPECT_EQ(std::memcmp(record.ManagePassword, manage.data(), manage.size()), 0);
}

TEST(CommandLine, AddServerDefaultsLeaveFieldsZero) {
    const ParsedCommandLine parsed = Parse({"add-server", "--source", "c:\\d.img", "--port", "9000"});
    ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.text;
    EXPECT_EQ(parsed.invocation.endpoint, "varnoxsvc");
    config::ServerRecord expected{};
    std::strcpy(expected.Source, "c:\\d.img");
    expected.Port = 9000;
    EXPECT_EQ(std::memcmp(&parsed.invocation.serverRecord, &expected, sizeof expected), 0);
}

TEST(CommandLine, ClientCommands) {
    {
        const ParsedCommandLine parsed = Parse({"add-client", "4", "any", "read-only"});
        ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.text;
        EXPECT_EQ(parsed.invocation.command, Command::AddClient);
        EXPECT_EQ(parsed.invocation.server, 4);
        EXPECT_EQ(+parsed.invocation.clientRecord.IpAddress, 0u);
        EXPECT_EQ(parsed.invocation.clientRecord.Access, 1);
        EXPECT_EQ(parsed.invocation.clientRecord.HasName, config::HAS_NAME_NOT_RESOLVED);
        EXPECT_EQ(parsed.invocation.clientRecord.Status, config::CLIENT_STATUS_STATIC);
    }
    {
        const ParsedCommandLine parsed = Parse({"add-connected", "4", "10.0.0.5", "full", "--host-name", "alpha"});
        ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.text;
        EXPECT_EQ(+parsed.invocation.clientRecord.IpAddress, Bytes(10, 0, 0, 5));
        EXPECT_EQ(parsed.invocation.clientRecord.Access, 0);
        EXPECT_EQ(parsed.invocation.clientRecord.Status, config::CLIENT_STATUS_CONNECTED);
        EXPECT_EQ(parsed.invocation.clientRecord.HasName, config::HAS_NAME_RESOLVED);
        EXPECT_STREQ(parsed.invocation.clientRecord.HostName, "alpha");
    }
    {
        const ParsedCommandLine parsed = Parse({"set-client", "4", "10.0.0.5", "--access", "none", "--resolve-again"});
        ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.text;
        EXPECT_TRUE(parsed.invocation.client.byAddress);
        EXPECT_EQ(parsed.invocation.client.address, Bytes(10, 0, 0, 5));
        EXPECT_EQ(parsed.invocation.change.access, std::optional<std::uint8_t>(2));
        EXPECT_FALSE(parsed.invocation.change.hostName.has_value());
        EXPECT_TRUE(parsed.invocation.change.resolveAgain);
    }
    {
        const ParsedCommandLine parsed = Parse({"delete-client", "4", "17"});
        ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.text;
        EXPECT_FALSE(parsed.invocation.client.byAddress);
        EXPECT_EQ(parsed.invocation.client.handle, 17);
    }
    {
        const ParsedCommandLine parsed = Parse({"forget-connected", "4", "any"});
        ASSERT_EQ(parsed.outcome, Outcome::Run) << parsed.text;
        EXPECT_TRUE(parsed.invocation.client.byAddress);
        EXPECT_EQ(parsed.invocation.client.address, 0u);
    }
}

}  // namespace
}  // namespace varnox::console
