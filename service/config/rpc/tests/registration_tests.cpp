// The registration's failure report, from the service's own registration code.

#include <gtest/gtest.h>

#include "management_test_host.h"

namespace varnox::rpc::testing {
namespace {

using RegistrationTest = ManagementTest;

TEST_F(RegistrationTest, AFailingStepPrintsItsLineAndStops) {
    int result = 0;
    // Registering again while listening gets as far as the listen, which the runtime
    // refuses: the interface is already being served.
    const std::string printed = StandardOutputOf(ManagementTestHost::Get().Directory(), [&] {
        result = RegisterManagementInterface(false, ManagementTestHost::Get().Endpoint().c_str());
    });
    EXPECT_EQ(result, RPC_S_ALREADY_LISTENING);
    const std::string listenLine = "RPC Err: 1713\nfile = .\\korvelsvcrpcs, line=56.";
    ASSERT_GE(printed.size(), listenLine.size()) << printed;
    EXPECT_EQ(printed.substr(printed.size() - listenLine.size()), listenLine) << printed;

    // Without a name service (never there under Wine) its line comes first, with the
    // status of the failed look-up, and the registration goes on.
    const std::string before = printed.substr(0, printed.size() - listenLine.size());
    if (!before.empty()) {
        EXPECT_EQ(before.rfind("RPC Err: ", 0), 0u) << before;
        EXPECT_NE(before.find("\nfile = .\\korvelsvcrpcs, line=45."), std::string::npos) << before;
        EXPECT_EQ(before.find("RPC Err: 0\n"), std::string::npos) << before;
    }

    // Nothing of it disturbed the interface that is up.
    std::int32_t next = 77;
    EXPECT_TRUE(Remote().EnumServers(0, &next).succeeded());
}

TEST_F(RegistrationTest, AMissingNameServiceIsReportedButNotFatal) {
    // The host's own registration succeeded; if it printed anything, it was the name
    // service's line (no rpcns4.dll, or no locator behind it) and nothing else.
    const std::string& printed = ManagementTestHost::Get().RegistrationOutput();
    EXPECT_EQ(ManagementTestHost::Get().RegistrationResult(), 0);
    if (!printed.empty()) {
        EXPECT_EQ(printed.rfind("RPC Err: ", 0), 0u) << printed;
        const std::string tail = "\nfile = .\\korvelsvcrpcs, line=45.";
        ASSERT_GE(printed.size(), tail.size());
        EXPECT_EQ(printed.substr(printed.size() - tail.size()), tail) << printed;
    }
    if (GetModuleHandleA("rpcns4.dll") == nullptr && LoadLibraryA("rpcns4.dll") == nullptr) {
        EXPECT_EQ(printed, "RPC Err: " + std::to_string(ERROR_MOD_NOT_FOUND) + "\nfile = .\\korvelsvcrpcs, line=45.");
    }
}

}  // namespace
}  // namespace varnox::rpc::testing
