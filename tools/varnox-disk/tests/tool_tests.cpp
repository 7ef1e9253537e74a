#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "digest_hex.h"
#include "listener.h"
#include "tool_fixture.h"

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace varnox::disk_tool::testing {
namespace {

constexpr std::uint64_t DISK_SIZE = 6 * 1024 * 1024;
constexpr const char* HINT = "varnox-disk: the share may need a credential: give --password or --digest\n";

// A file in the temp folder, removed at the end of the test.
class TempPath {
public:
    explicit TempPath(const std::string& name)
        : path_(std::filesystem::temp_directory_path() / ("varnox-disk-test-" + name)) {
        std::filesystem::remove(path_);
    }
    ~TempPath() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    std::string String() const { return path_.string(); }
    std::string Contents() const {
        std::ifstream file(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    void Fill(const std::string& bytes) const { std::ofstream(path_, std::ios::binary) << bytes; }

private:
    std::filesystem::path path_;
};

TEST_F(ToolTest, InfoShowsSizeAndAccess) {
    const std::pair<std::uint32_t, const char*> cases[] = {
        {ACCESS_FULL, "full (0)"}, {ACCESS_READ_ONLY, "read-only (1)"}, {ACCESS_NONE, "none (2)"}};
    for (const auto& [access, text] : cases) {
        ASSERT_TRUE(StartServer(Options(access, DISK_SIZE + 512)));
        const ToolRun run = Run({"info"});
        EXPECT_EQ(run.exit, 0) << run.err;
        EXPECT_EQ(run.out, std::string("size:   6291968 bytes (6.0 MiB)\naccess: ") + text + "\n");
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(ToolTest, AuthShowsTheAccessTheCredentialGives) {
    struct Case {
        std::vector<std::string> credential;
        int exit;
        std::string out;
        std::string err;
        std::vector<std::uint32_t> identities;
    };
    const Case cases[] = {
        {{"--password", "manager"}, 0, "authenticated: access is now full (0)\n", "", {ACCESS_FULL}},
        {{"--password", "reader"}, 0, "authenticated: access is now read-only (1)\n", "", {ACCESS_READ_ONLY}},
        {{"--digest", DigestToHex(PasswordDigest("manager"))},
         0,
         "authenticated: access is now full (0)\n",
         "",
         {ACCESS_FULL}},
        {{"--password", "guess"}, 1, "", "varnox-disk: authenticate: access denied (0x2004)\n", {}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(StartServer(Options(ACCESS_READ_ONLY, DISK_SIZE)));
        std::vector<std::string> args = c.credential;
        args.push_back("auth");
        const ToolRun run = Run(args);
        EXPECT_EQ(run.exit, c.exit) << c.credential[1];
        EXPECT_EQ(run.out, c.out) << c.credential[1];
        EXPECT_EQ(run.err, c.err) << c.credential[1];
        EXPECT_EQ(server->Identities(), c.identities) << c.credential[1];
    }
}

// Longer than one request may carry, so the read goes out in pieces.
TEST_F(ToolTest, ReadToStandardOutputMatchesTheDisk) {
    ASSERT_TRUE(StartServer(Options(ACCESS_READ_ONLY, DISK_SIZE)));
    const std::uint64_t length = 5 * 1024 * 1024 + 3;
    const ToolRun run = Run({"read", "--offset", "4K", "--length", std::to_string(length)});
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.out == Text(server->DiskBytes(4096, length))) << "got " << run.out.size() << " bytes";
}

TEST_F(ToolTest, ReadWithoutLengthGoesToTheEndOfTheDiskIntoAFile) {
    ASSERT_TRUE(StartServer(Options(ACCESS_FULL, DISK_SIZE)));
    const TempPath output("read.bin");
    const std::uint64_t offset = DISK_SIZE - 3 * 1024 * 1024 - 1;
    const ToolRun run = Run({"read", "--offset", std::to_string(offset), "--output", output.String()});
    EXPECT_EQ(run.exit, 0) << run.err;
    EXPECT_EQ(run.out, "read 3145729 bytes at " + std::to_string(offset) + " to " + output.String() + "\n");
    EXPECT_TRUE(output.Contents() == Text(server->DiskBytes(offset, DISK_SIZE - offset)));
}

TEST_F(ToolTest, ReadFailuresSayWhyAndExitWithOne) {
    struct Case {
        std::uint32_t access;
        std::vector<std::string> args;
        std::string err;
    };
    const std::string unwritable = (std::filesystem::temp_directory_path() / "no-such-dir" / "x.bin").string();
    const Case cases[] = {
        {ACCESS_FULL,
         {"read", "--offset", "6M", "--length", "1"},
         "varnox-disk: read: 1 bytes at 6291456 run past the end of the disk (6291456 bytes)\n"},
        {ACCESS_FULL,
         {"read", "--offset", "7M"},
         "varnox-disk: read: offset 7340032 lies beyond the end of the disk (6291456 bytes)\n"},
        {ACCESS_NONE,
         {"read", "--offset", "4096", "--length", "512"},
         std::string("varnox-disk: read at 4096 (512 bytes): access denied (0x2004)\n") + HINT},
        {ACCESS_READ_ONLY,
         {"--password", "guess", "read", "--length", "512"},
         "varnox-disk: authenticate: access denied (0x2004)\n"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(StartServer(Options(c.access, DISK_SIZE)));
        const ToolRun run = Run(c.args);
        EXPECT_EQ(run.exit, 1) << c.err;
        EXPECT_EQ(run.out, "") << c.err;
        EXPECT_EQ(run.err, c.err);
    }
    const ToolRun run = Run({"read", "--length", "512", "--output", unwritable});
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.err.rfind("varnox-disk: cannot open '" + unwritable + "' for writing: ", 0), 0u) << run.err;
}

TEST_F(ToolTest, WriteFromStandardInputOrAFileLandsOnTheDisk) {
    ASSERT_TRUE(StartServer(Options(ACCESS_FULL, DISK_SIZE)));
    const std::string data = Pattern(2 * 1024 * 1024 + 777, 3);
    const ToolRun piped = Run({"write", "--offset", "8K"}, data);
    EXPECT_EQ(piped.exit, 0) << piped.err;
    EXPECT_EQ(piped.out, "wrote 2097929 bytes at 8192\n");
    EXPECT_TRUE(Text(server->DiskBytes(8192, data.size())) == data);

    const TempPath input("write.bin");
    const std::string more = Pattern(5000, 99);
    input.Fill(more);
    // --length takes only the first bytes of the input.
    const ToolRun fromFile = Run({"write", "--offset", "0x100000", "--length", "4000", "-i", input.String()});
    EXPECT_EQ(fromFile.exit, 0) << fromFile.err;
    EXPECT_EQ(fromFile.out, "wrote 4000 bytes at 1048576\n");
    EXPECT_TRUE(Text(server->DiskBytes(0x100000, 4000)) == more.substr(0, 4000));
    EXPECT_TRUE(Text(server->DiskBytes(0x100000 + 4000, 1000)) != more.substr(4000)) << "wrote past --length";
}

TEST_F(ToolTest, WriteNeedsFullAccessWhichTheManagePasswordGives) {
    ASSERT_TRUE(StartServer(Options(ACCESS_READ_ONLY, DISK_SIZE)));
    const std::string data = Pattern(4096, 7);
    const std::vector<std::uint8_t> before = server->DiskBytes(65536, 4096);

    const ToolRun refused = Run({"write", "--offset", "64K"}, data);
    EXPECT_EQ(refused.exit, 1);
    EXPECT_EQ(refused.err, std::string("varnox-disk: write at 65536 (4096 bytes): access denied (0x2004)\n") + HINT);
    EXPECT_EQ(server->DiskBytes(65536, 4096), before);

    const ToolRun reader = Run({"--password", "reader", "write", "--offset", "64K"}, data);
    EXPECT_EQ(reader.exit, 1);
    EXPECT_EQ(reader.err, "varnox-disk: write at 65536 (4096 bytes): access denied (0x2004)\n");

    const ToolRun manager = Run({"--password", "manager", "write", "--offset", "64K"}, data);
    EXPECT_EQ(manager.exit, 0) << manager.err;
    EXPECT_TRUE(Text(server->DiskBytes(65536, 4096)) == data);
}

TEST_F(ToolTest, WriteStopsAtTheEndOfTheDiskAndAtAShortInput) {
    ASSERT_TRUE(StartServer(Options(ACCESS_FULL, DISK_SIZE)));
    const std::vector<std::uint8_t> before = server->DiskBytes(0, DISK_SIZE);

    const ToolRun pastEnd = Run({"write", "--offset", std::to_string(DISK_SIZE - 100)}, Pattern(101, 1));
    EXPECT_EQ(pastEnd.exit, 1);
    EXPECT_EQ(pastEnd.err,
              "varnox-disk: write: the input runs past the end of the disk (6291456 bytes) at 6291356; 0 bytes "
              "before it were written\n");
    EXPECT_TRUE(server->DiskBytes(0, DISK_SIZE) == before) << "a refused write changed the disk";

    const ToolRun shortInput = Run({"write", "--offset", "1M", "--length", "3000"}, Pattern(1000, 2));
    EXPECT_EQ(shortInput.exit, 1);
    EXPECT_EQ(shortInput.err,
              "varnox-disk: write: standard input ended after 1000 of 3000 bytes (those were written)\n");
    EXPECT_TRUE(Text(server->DiskBytes(1024 * 1024, 1000)) == Pattern(1000, 2));
}

TEST_F(ToolTest, DiskFailuresShowTheStatusByNameAndNumber) {
    client::FakeServerOptions options = Options(ACCESS_FULL, DISK_SIZE);
    options.diskStartError = 0x80070015;  // ERROR_NOT_READY in its low 16 bits
    ASSERT_TRUE(StartServer(options));
    const ToolRun read = Run({"read", "--offset", "4096", "--length", "4096"});
    EXPECT_EQ(read.exit, 1);
    EXPECT_EQ(read.err, "varnox-disk: read at 4096 (4096 bytes): system error 21 (0x0015)\n");
    const ToolRun write = Run({"write", "--offset", "4096"}, Pattern(10, 0));
    EXPECT_EQ(write.exit, 1);
    EXPECT_EQ(write.err, "varnox-disk: write at 4096 (10 bytes): system error 21 (0x0015)\n");
}

TEST(Tool, ConnectionRefusedNamesTheCallAndCode) {
#ifdef _WIN32
    const int refused = WSAECONNREFUSED;
#else
    const int refused = ECONNREFUSED;
#endif
    std::uint16_t port = 0;
    {
        auto listener = client::Listener::Listen(0);
        ASSERT_TRUE(listener.ok()) << listener.error().message;
        port = listener.value().Port();
    }
    for (const char* command : {"info", "read", "write", "auth", "bench"}) {
        const ToolRun run = RunWith({"--port", std::to_string(port), "--password", "x", command});
        EXPECT_EQ(run.exit, 1) << command;
        EXPECT_EQ(
            run.err.rfind("varnox-disk: connect to 127.0.0.1:" + std::to_string(port) + ": connect() failed: ", 0), 0u)
            << run.err;
        EXPECT_NE(run.err.find("(error " + std::to_string(refused) + ")"), std::string::npos) << run.err;
    }
}

TEST(Tool, UsageErrorsExitWithTwoAndHelpWithZero) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"frobnicate"}, {"info"}, {"--port", "1", "read", "--offset"}}) {
        const ToolRun run = RunWith(args);
        EXPECT_EQ(run.exit, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("\nTry 'varnox-disk --help'.\n"), std::string::npos) << run.err;
    }
    const std::pair<std::vector<std::string>, std::string> helps[] = {
        {{"--help"}, "Usage: varnox-disk [global options] <command> [command options]\n"},
        {{"help", "info"}, "Usage: varnox-disk --port PORT [--password TEXT | --digest HEX] info\n"},
        {{"read", "-h"}, "Usage: varnox-disk --port PORT read "},
        {{"write", "--help"}, "Usage: varnox-disk --port PORT [--password TEXT] write "},
        {{"help", "auth"}, "Usage: varnox-disk --port PORT (--password TEXT | --digest HEX) auth\n"},
        {{"bench", "--help"}, "Usage: varnox-disk --port PORT bench "},
        {{"help", "--help"}, "Usage: varnox-disk help [command]\n"},
    };
    for (const auto& [args, start] : helps) {
        const ToolRun run = RunWith(args);
        EXPECT_EQ(run.exit, 0) << start;
        EXPECT_EQ(run.out.rfind(start, 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
}

}  // namespace
}  // namespace varnox::disk_tool::testing
