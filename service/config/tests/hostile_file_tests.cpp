// Files nobody should write, loaded anyway: none may crash or hang the service, and each
// loads as the rules say (unreadable ones as an empty configuration, kept for later).

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "configuration_fixture.h"

namespace varnox::config::testing {
namespace {

std::string Nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<n>";
    for (int i = 0; i < depth; ++i) text += "</n>";
    return text;
}

std::string ManyServers(int count) {
    std::string text = "<Services>";
    for (int i = 0; i < count; ++i)
        text += "<Server Port=\"" + std::to_string(i) + "\"><Client IpAddress=\"1\"/></Server>";
    return text + "</Services>";
}

std::string Declared(const std::string& body) {
    return std::string(XML_DECLARATION) + body;
}

struct HostileCase {
    const char* name;
    std::string bytes;
    bool unreadable;           // loads empty and is kept beside the next save
    std::size_t servers;       // when readable
    std::size_t firstClients;  // static clients of the first server
    std::function<void(const ServerRecord&, const ClientRecord*)> check;  // first server, its first client
};

using HostileFileTest = ConfigurationTest;

TEST_F(HostileFileTest, NoneCrashesAndEachLoadsAsTheRulesSay) {
    const std::string huge(1 << 20, 'h');
    std::string hugeDigest;
    for (int i = 0; i < (1 << 19); ++i) hugeDigest += "ab";
    const std::string bomb =
        "<!DOCTYPE Services [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
        "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">"
        "<!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\"><!ENTITY h \"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">"
        "<!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\"><!ENTITY j \"&i;&i;&i;&i;&i;&i;&i;&i;&i;&i;\">]>"
        "<Services><Server Source=\"&j;\"/></Services>";

    const HostileCase cases[] = {
        {"huge values",
         Declared("<Services><Server Source=\"" + huge + "\" Port=\"99999999999999999999\" Password=\"" + hugeDigest +
                  "\" Cache=\"" + std::string(100000, '7') + "\"><Client HasName=\"1\" HostName=\"" + huge +
                  "\"/></Server></Services>"),
         false, 1, 1,
         [](const ServerRecord& server, const ClientRecord* client) {
             EXPECT_EQ(std::string(server.Source), std::string(259, 'h'));
             EXPECT_EQ(server.Port, 0);
             EXPECT_EQ(server.Cache, 0);
             for (const std::uint8_t byte : server.Password) EXPECT_EQ(byte, 0xAB);
             EXPECT_EQ(std::string(client->HostName), std::string(127, 'h'));
         }},
        {"deep nesting inside a client",
         Declared("<Services><Server Port=\"5\"><Client>" + Nested(200) + "</Client></Server></Services>"), false, 1, 1,
         [](const ServerRecord& server, const ClientRecord*) { EXPECT_EQ(server.Port, 5); }},
        {"nesting deeper than any parser takes", Declared("<Services>" + Nested(100000) + "</Services>"), true, 0, 0,
         nullptr},
        {"children that are not elements",
         Declared("<Services>text<!--c--><?pi x?><![CDATA[<Server/>]]><Server Port=\"7\">more<!--c-->"
                  "<Client Access=\"1\"/><?pi?>tail</Server>  </Services>"),
         false, 1, 1,
         [](const ServerRecord& server, const ClientRecord* client) {
             EXPECT_EQ(server.Port, 7);
             EXPECT_EQ(client->Access, 1);
         }},
        {"missing attributes", Declared("<Services><Server><Client/></Server></Services>"), false, 1, 1,
         [](const ServerRecord& server, const ClientRecord* client) {
             ServerRecord zero = MakeServer("", 0);
             EXPECT_EQ(std::memcmp(&server, &zero, sizeof zero), 0);
             ClientRecord zeroClient = MakeClient(0);
             EXPECT_EQ(std::memcmp(client, &zeroClient, sizeof zeroClient), 0);
         }},
        {"values that are not numbers",
         Declared("<Services><Server IpAddress=\"10.0.0.1\" Port=\"http\" Capability=\"1e9\" Started=\"yes\" "
                  "Cache=\"0x10\" AuthMode=\"\"><Client IpAddress=\"-\" Access=\"full\" HasName=\"true\" "
                  "HostName=\"x\"/></Server></Services>"),
         false, 1, 1,
         [](const ServerRecord& server, const ClientRecord* client) {
             EXPECT_EQ(server.IpAddress, 0u);
             EXPECT_EQ(server.Port, 0);
             EXPECT_EQ(server.Capability, 0u);
             EXPECT_EQ(server.Started, 0);
             EXPECT_EQ(server.Cache, 0);
             EXPECT_EQ(client->Access, 0);
             EXPECT_EQ(client->HasName, 0);
             EXPECT_STREQ(client->HostName, "");
         }},
        {"element names are not compared",
         Declared(
             "<Anything><Thing Port=\"9\"><Other IpAddress=\"16820416\"/></Thing><Server Port=\"10\"/></Anything>"),
         false, 2, 1,
         [](const ServerRecord& server, const ClientRecord* client) {
             EXPECT_EQ(server.Port, 9);
             EXPECT_EQ(client->IpAddress, Address(192, 168, 0, 1));
         }},
        {"a DOCTYPE with an internal entity",
         Declared(
             "<!DOCTYPE Services [<!ENTITY img \"C:\\disk.img\">]><Services><Server Source=\"&img;\"/></Services>"),
         false, 1, 0,
         [](const ServerRecord& server, const ClientRecord*) { EXPECT_STREQ(server.Source, "C:\\disk.img"); }},
        {"a DOCTYPE naming an external definition",
         Declared("<!DOCTYPE Services SYSTEM \"file:///nonexistent/services.dtd\"><Services><Server Port=\"3\"/>"
                  "</Services>"),
         false, 1, 0, [](const ServerRecord& server, const ClientRecord*) { EXPECT_EQ(server.Port, 3); }},
        {"an entity expansion bomb", Declared(bomb), true, 0, 0, nullptr},
        {"an undefined entity", Declared("<Services><Server Source=\"&nothing;\"/></Services>"), true, 0, 0, nullptr},
        {"many servers", Declared(ManyServers(2000)), false, 2000, 1, nullptr},
        {"truncated", Declared("<Services><Server Port=\"1\"/><Serv"), true, 0, 0, nullptr},
        {"two roots", Declared("<Services/><Services/>"), true, 0, 0, nullptr},
        {"binary", std::string("\x00\x01\x02\xFF\xFE\x00<Services/>", 17), true, 0, 0, nullptr},
        {"a NUL inside", Declared(std::string("<Services/>\0<junk", 17)), true, 0, 0, nullptr},
        {"UTF-16 without its mark", std::string("<\0S\0/\0>\0", 8), true, 0, 0, nullptr},
        {"an unknown encoding", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><Services><Server/></Services>", true, 0,
         0, nullptr},
        {"a declaration that does not close", "<?xml version=\"1.0\" encoding=\"GB2312\"<Services/>", true, 0, 0,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDirectory place;
        SetConfigDirectory(place.Path());
        ASSERT_TRUE(WriteBytes(place.File("Locals.xml"), c.bytes));
        LoadConfiguration();
        const auto servers = Servers();
        EXPECT_EQ(servers.size(), c.unreadable ? 0 : c.servers);
        if (!servers.empty()) {
            const auto clients = StaticClients(servers[0]);
            EXPECT_EQ(clients.size(), c.firstClients);
            const ClientRecord client = clients.empty() ? MakeClient(0) : Static(clients[0]);
            if (c.check) c.check(Server(servers[0]), clients.empty() ? nullptr : &client);
        }
        SaveConfiguration();
        EXPECT_EQ(Exists(place.File("Locals.unreadable.xml")), c.unreadable);
        if (c.unreadable) {
            EXPECT_EQ(ReadBytes(place.File("Locals.unreadable.xml")), c.bytes);
        }
        EmptyConfiguration();
    }
    SetConfigDirectory(directory.Path());
}

}  // namespace
}  // namespace varnox::config::testing
