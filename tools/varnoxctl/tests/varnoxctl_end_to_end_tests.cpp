// varnoxctl as a user runs it: the program in its own process, talking over ncalrpc to
// this test process, which hosts the management interface as the service does.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "block_client.h"
#include "digest_hex.h"
#include "management_test_host.h"
#include "password_digest.h"
#include "share_host.h"

namespace varnox::rpc::testing {
namespace {

struct Ran {
    DWORD status = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

// The program's path as this process sees it: the build names it by its host path, which
// Wine shows on drive Z:.
std::string ProgramPath() {
    std::string path = VARNOXCTL_PATH;
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// The program writes its output in text mode, as a console program does, so its lines end
// in CR LF; the checks compare lines.
std::string ReadLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    std::string text;
    for (const char c : bytes.str()) {
        if (c != '\r') text += c;
    }
    return text;
}

HANDLE InheritableFile(const std::string& path) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Runs varnoxctl with `arguments`, its output in files, for at most 60 seconds. Unless the
// arguments name an endpoint, it talks to this process's host.
Ran Varnoxctl(const std::vector<std::string>& arguments) {
    const std::string directory = ManagementTestHost::Get().Directory();
    const std::string outPath = directory + "\\varnoxctl.out";
    const std::string errPath = directory + "\\varnoxctl.err";
    std::string commandLine = "\"" + ProgramPath() + "\"";
    if (arguments.empty() || arguments[0] != "--endpoint") {
        commandLine += " --endpoint \"" + ManagementTestHost::Get().Endpoint() + "\"";
    }
    for (const std::string& argument : arguments) commandLine += " \"" + argument + "\"";

    Ran ran;
    HANDLE out = InheritableFile(outPath);
    HANDLE err = InheritableFile(errPath);
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_NE(err, INVALID_HANDLE_VALUE);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    const BOOL created =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    CloseHandle(out);
    CloseHandle(err);
    EXPECT_TRUE(created) << "CreateProcessA() failed: " << GetLastError() << " for " << commandLine;
    if (!created) return ran;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << commandLine << " did not finish";
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    GetExitCodeProcess(process.hProcess, &ran.status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ran.out = ReadLines(outPath);
    ran.err = ReadLines(errPath);
    return ran;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class VarnoxctlEndToEnd : public ManagementTest {
protected:
    // Runs a command that must succeed; returns its standard output.
    std::string Ok(const std::vector<std::string>& arguments) {
        const Ran ran = Varnoxctl(arguments);
        EXPECT_EQ(ran.status, 0u) << arguments[0] << ": " << ran.err;
        EXPECT_EQ(ran.err, "") << arguments[0];
        return ran.out;
    }
    Ran Fails(const std::vector<std::string>& arguments, DWORD status = 1) {
        const Ran ran = Varnoxctl(arguments);
        EXPECT_EQ(ran.status, status) << arguments[0] << ": " << ran.out;
        EXPECT_EQ(ran.out, "") << arguments[0];
        return ran;
    }
};

TEST_F(VarnoxctlEndToEnd, NothingListeningIsAClearMessage) {
    const Ran ran = Fails({"--endpoint", "varnoxsvc-nobody-listens", "servers"});
    EXPECT_TRUE(Contains(ran.err,
                         "varnoxctl: the Varnox service is not running: nothing answers on ncalrpc "
                         "endpoint \"varnoxsvc-nobody-listens\" (RPC status 1722"))
        << ran.err;
    const Ran name = Fails({"--endpoint", "varnoxsvc-nobody-listens", "server-name"});
    EXPECT_TRUE(Contains(name.err, "(RPC status 1722")) << name.err;
}

TEST_F(VarnoxctlEndToEnd, HelpAndUsage) {
    const std::string help = Ok({"--help"});
    EXPECT_TRUE(Contains(help, "usage: varnoxctl [--endpoint NAME] COMMAND")) << help;
    EXPECT_TRUE(Contains(Ok({"add-server", "--help"}), "--manage-password-digest HEX"));
    const Ran usage = Fails({"frobnicate"}, 2);
    EXPECT_EQ(usage.err, "varnoxctl: no command 'frobnicate'\nrun 'varnoxctl --help' for the commands\n");
    Fails({}, 2);
    Fails({"start", "x"}, 2);
}

TEST_F(VarnoxctlEndToEnd, EverySubcommandAgainstTheService) {
    EXPECT_EQ(Ok({"server-name"}), std::string(config::SERVER_NAME_TEXT) + "\n");
    EXPECT_EQ(Ok({"servers"}), "no servers\n");

    varnox::testing::TempImage image(1 << 20);
    const std::string port = std::to_string(varnox::testing::FreePort());
    const std::string manageHex = DigestToHex(PasswordDigest("keeper"));
    const std::string added = Ok({"add-server", "--source", image.Path(), "--port", port, "--password", "reader",
                                  "--manage-password-digest", manageHex, "--capacity", "1M"});
    ASSERT_EQ(added.rfind("added server ", 0), 0u) << added;
    const std::string server = added.substr(13, added.find(' ', 13) - 13);
    // The digests reached the service as given.
    const config::ServerRecord record = Server(std::stoi(server));
    EXPECT_EQ(std::memcmp(record.Password, PasswordDigest("reader").data(), config::DIGEST_SIZE), 0);
    EXPECT_EQ(std::memcmp(record.ManagePassword, PasswordDigest("keeper").data(), config::DIGEST_SIZE), 0);

    std::string listing = Ok({"servers"});
    EXPECT_TRUE(Contains(listing, "stopped")) << listing;
    EXPECT_TRUE(Contains(listing, image.Path())) << listing;
    EXPECT_TRUE(Contains(listing, "1.0 MiB")) << listing;

    EXPECT_EQ(Ok({"add-client", server, "127.0.0.1", "read-only"}),
              "added client 127.0.0.1 (read-only) to server " + server + "\n");
    Ok({"add-client", server, "any", "none"});
    const Ran duplicate = Fails({"add-client", server, "127.0.0.1", "full"});
    EXPECT_TRUE(Contains(duplicate.err, config::DUPLICATE_CLIENT_TEXT)) << duplicate.err;
    EXPECT_EQ(Ok({"last-error"}), std::string(config::DUPLICATE_CLIENT_TEXT) + "\n");
    Ok({"set-client", server, "127.0.0.1", "--access", "full", "--host-name", "here"});
    listing = Ok({"clients", server});
    EXPECT_TRUE(Contains(listing, "127.0.0.1  full    here")) << listing;
    EXPECT_TRUE(Contains(listing, "any        none")) << listing;

    EXPECT_EQ(Ok({"start", server}), "started server " + server + " on port " + port + "\n");
    EXPECT_TRUE(Contains(Ok({"servers"}), "running"));
    const Ran twice = Fails({"start", server});
    EXPECT_TRUE(Contains(twice.err, "is already running")) << twice.err;

    // A client proves the management password and shows up, with its host name.
    auto connection = client::BlockClient::Connect("127.0.0.1", static_cast<std::uint16_t>(std::stoi(port)));
    ASSERT_TRUE(connection.ok()) << connection.error().message;
    (void)connection.value().SetTimeout(std::chrono::seconds(10));
    const Sha1Digest manage = PasswordDigest("keeper");
    ASSERT_TRUE(connection.value().Authenticate(manage).ok());
    listing = Ok({"connected", server});
    EXPECT_TRUE(Contains(listing, "127.0.0.1  full    connected")) << listing;

    Ok({"add-connected", server, "10.0.0.9", "read-only", "--host-name", "elsewhere"});
    Ok({"set-connected", server, "10.0.0.9", "--access", "none"});
    listing = Ok({"connected", server});
    EXPECT_TRUE(Contains(listing, "10.0.0.9   none    connected  elsewhere")) << listing;
    Ok({"forget-connected", server, "10.0.0.9"});
    EXPECT_FALSE(Contains(Ok({"connected", server}), "10.0.0.9"));

    EXPECT_EQ(Ok({"stop", server}), "stopped server " + server + "\n");
    EXPECT_FALSE(connection.value().Info().ok());
    Ok({"delete-client", server, "any"});
    EXPECT_FALSE(Contains(Ok({"clients", server}), "any"));

    Ok({"start", server});
    EXPECT_EQ(Ok({"delete", server}), "stopped server " + server + "\ndeleted server " + server + "\n");
    EXPECT_EQ(Ok({"servers"}), "no servers\n");
    const Ran gone = Fails({"clients", server});
    EXPECT_EQ(gone.err, "varnoxctl: no server " + server + "\n");
}

TEST_F(VarnoxctlEndToEnd, UnopenableSourceDoesNotStart) {
    const std::string added = Ok({"add-server", "--source", ManagementTestHost::Get().Directory() + "\\missing.img",
                                  "--port", std::to_string(varnox::testing::FreePort())});
    const std::string server = added.substr(13, added.find(' ', 13) - 13);
    const Ran failed = Fails({"start", server});
    EXPECT_TRUE(Contains(failed.err, "server " + server + " did not start")) << failed.err;
    EXPECT_TRUE(Contains(Ok({"servers"}), "stopped"));
}

}  // namespace
}  // namespace varnox::rpc::testing
