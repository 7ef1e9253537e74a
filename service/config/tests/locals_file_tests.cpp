// Locals.xml through the service's own entry points: what a load makes of a file, what a
// save writes, and that the file survives every failure.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "configuration_fixture.h"
#include "xml_file_store.h"

namespace varnox::config::testing {
namespace {

// The bytes behind the declaration line, without the component's layout blanks.
std::string BodyOf(const std::string& bytes) {
    std::string body;
    const std::string declaration = XML_DECLARATION;
    if (bytes.rfind(declaration, 0) != 0) return "(no declaration) " + bytes;
    for (std::size_t i = declaration.size(); i < bytes.size(); ++i) {
        if (bytes[i] != '\r' && bytes[i] != '\n' && bytes[i] != '\t') body.push_back(bytes[i]);
    }
    return body;
}

using LocalsFileTest = ConfigurationTest;

TEST_F(LocalsFileTest, AnEmptyServicesElementLoadsAsNoServers) {
    LoadFile("<Services/>");
    EXPECT_TRUE(Servers().empty());
    LoadFile("");  // (loaded twice: the second load adds nothing either)
    EXPECT_TRUE(Servers().empty());
}

TEST_F(LocalsFileTest, SavingAnEmptyModelWritesTheDeclarationAndAnEmptyServices) {
    LoadConfiguration();  // no file yet
    EXPECT_FALSE(Exists(LocalsPath()));
    SaveConfiguration();
    EXPECT_EQ(BodyOf(LocalsBytes()), "<Services/>");
}

TEST_F(LocalsFileTest, EveryFieldSurvivesASaveAndALoad) {
    LoadConfiguration();
    ServerRecord record = MakeServer("C:\\images\\disk & <one>.img", 3261);
    record.IpAddress = Address(10, 0, 0, 200);
    record.Capability = (2ull << 40) - 512;
    record.Cache = -3;
    record.AuthMode = 2;
    for (std::size_t i = 0; i < DIGEST_SIZE; ++i) {
        record.Password[i] = static_cast<std::uint8_t>(i * 7);
        record.ManagePassword[i] = static_cast<std::uint8_t>(255 - i);
    }
    const std::int32_t server = Add(record);
    ASSERT_EQ(AddStaticClient(server, ToBuffer(MakeClient(Address(10, 0, 0, 200), 1, 1, "alpha")).data()), 0);
    ASSERT_EQ(AddStaticClient(server, ToBuffer(MakeClient(0, 2, 0)).data()), 0);

    const std::string body = BodyOf(LocalsBytes());
    EXPECT_NE(
        body.find("<Server IpAddress=\"-939524086\" Port=\"3261\" Source=\"C:\\images\\disk &amp; &lt;one&gt;.img\" "
                  "Capability=\"-1\" Started=\"0\" Cache=\"-3\" AuthMode=\"2\" "
                  "Password=\"00070e151c232a31383f464d545b626970777e85\" "
                  "ManagePassword=\"fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0efeeedec\">"),
        std::string::npos)
        << body;
    EXPECT_NE(body.find("<Client IpAddress=\"-939524086\" Access=\"1\" HasName=\"1\" HostName=\"alpha\"/>"
                        "<Client IpAddress=\"0\" Access=\"2\" HasName=\"0\" HostName=\"\"/>"),
              std::string::npos)
        << body;

    Restart();
    const ServerRecord loaded = OnlyServer();
    EXPECT_EQ(std::memcmp(&loaded, &record, sizeof record), 0);
    const auto clients = StaticClients(Servers()[0]);
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(Static(clients[0]).IpAddress, Address(10, 0, 0, 200));
    EXPECT_STREQ(Static(clients[0]).HostName, "alpha");
    EXPECT_EQ(Static(clients[1]).Access, 2);
}

TEST_F(LocalsFileTest, ClientRecordsLoadAsTheFileHasThem) {
    LoadFile(
        "<Services><Server Source=\"a.img\">"
        "<Client IpAddress=\"-939524086\" Access=\"1\" HasName=\"0\" HostName=\"stale.example\"/>"
        "<Client IpAddress=\"-939524086\" Access=\"0\" HasName=\"1\" HostName=\"fresh.example\"/>"
        "</Server></Services>");
    ASSERT_EQ(Servers().size(), 1u);
    const std::int32_t server = Servers()[0];
    const auto clients = StaticClients(server);
    // Both records with one address load; the rule holds only for adds.
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_STREQ(Static(clients[0]).HostName, "");
    EXPECT_EQ(Static(clients[0]).HasName, 0);
    EXPECT_STREQ(Static(clients[1]).HostName, "fresh.example");
    EXPECT_EQ(AddStaticClient(server, ToBuffer(MakeClient(Address(10, 0, 0, 200))).data()), -1);
    EXPECT_EQ(StaticClients(server).size(), 2u);
}

TEST_F(LocalsFileTest, AShortPasswordLoadsWithTheMissingBytesZero) {
    LoadFile("<Services><Server Source=\"a.img\" Password=\"0102ab\" ManagePassword=\"zz\"/></Services>");
    const ServerRecord server = OnlyServer();
    EXPECT_EQ(server.Password[0], 0x01);
    EXPECT_EQ(server.Password[1], 0x02);
    EXPECT_EQ(server.Password[2], 0xAB);
    for (std::size_t i = 3; i < DIGEST_SIZE; ++i) EXPECT_EQ(server.Password[i], 0) << i;
    for (std::size_t i = 0; i < DIGEST_SIZE; ++i) EXPECT_EQ(server.ManagePassword[i], 0) << i;
}

TEST_F(LocalsFileTest, AStartedServerWhoseSourceCannotOpenComesUpStopped) {
    LoadFile("<Services><Server Port=\"" + std::to_string(::varnox::testing::FreePort()) + "\" Source=\"" +
             directory.File("no-such.img") + "\" Started=\"1\"/></Services>");
    EXPECT_EQ(OnlyServer().Started, 0);
    // Nothing changed yet, so the file still says 1; the next save writes what is true.
    EXPECT_NE(LocalsBytes().find("Started=\"1\""), std::string::npos);
    SaveConfiguration();
    EXPECT_NE(LocalsBytes().find("Started=\"0\""), std::string::npos) << LocalsBytes();
}

TEST_F(LocalsFileTest, ATrailingCommentDoesNotHideTheServers) {
    LoadFile("<Services><Server Source=\"kept.img\"/></Services>\r\n<!-- edited by hand -->\r\n");
    EXPECT_STREQ(OnlyServer().Source, "kept.img");
}

TEST_F(LocalsFileTest, ACharacterOutsideGb2312IsWrittenAsAReferenceAndReadBack) {
    // Narrow strings in code page 1252, where n-tilde is one byte; GB2312 has no such
    // character.
    XmlFileStore store(directory.Path(), 1252);
    StoredServer server{MakeServer("C:\\ma\xF1"
                                   "ana.img",
                                   1),
                        {MakeClient(1, 0, 1, "se\xF1or")}};
    ASSERT_TRUE(store.Save({server}));
    const std::string bytes = ReadBytes(LocalsPath());
    EXPECT_NE(bytes.find("Source=\"C:\\ma&#xF1;ana.img\""), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("HostName=\"se&#xF1;or\""), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find('?', 2), bytes.find("?>"));  // the declaration's is the only one
    const auto loaded = store.Load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_STREQ(loaded[0].record.Source,
                 "C:\\ma\xF1"
                 "ana.img");
    ASSERT_EQ(loaded[0].clients.size(), 1u);
    EXPECT_STREQ(loaded[0].clients[0].HostName, "se\xF1or");
}

TEST_F(LocalsFileTest, AChineseSourcePathIsWrittenAsGb2312Bytes) {
    // A Chinese system: narrow strings are code page 936.
    XmlFileStore store(directory.Path(), 936);
    const std::string source = "D:\\\xBE\xB5\xCF\xF1\\\xB4\xC5\xC5\xCC.img";  // D:\镜像\磁盘.img
    const std::string gbkOnly = "\x81\x40";                                   // 丂: code page 936, not GB2312
    StoredServer server{MakeServer(source, 1), {MakeClient(1, 0, 1, "\xD6\xD0" + gbkOnly)}};
    ASSERT_TRUE(store.Save({server}));
    const std::string bytes = ReadBytes(LocalsPath());
    EXPECT_NE(bytes.find("Source=\"" + source + "\""), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("HostName=\"\xD6\xD0&#x4E02;\""), std::string::npos) << bytes;
    const auto loaded = store.Load();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(std::string(loaded[0].record.Source), source);
    EXPECT_EQ(std::string(loaded[0].clients[0].HostName), "\xD6\xD0" + gbkOnly);
}

TEST_F(LocalsFileTest, ASaveThatCannotWriteTheTemporaryFileLeavesLocalsXml) {
    LoadFile("<Services><Server Source=\"before.img\"/></Services>");
    const std::string before = LocalsBytes();
    // A directory where the temporary file would go cannot be written.
    ASSERT_TRUE(CreateDirectoryA(directory.File("Locals.bak.xml").c_str(), nullptr));
    Add(MakeServer("after.img", 2));
    EXPECT_EQ(LocalsBytes(), before);
    ASSERT_TRUE(RemoveDirectoryA(directory.File("Locals.bak.xml").c_str()));
    SaveConfiguration();
    EXPECT_NE(LocalsBytes().find("after.img"), std::string::npos);
}

TEST_F(LocalsFileTest, ASaveWhoseRenameFailsLeavesLocalsXmlAndTheNextSaveClearsTheLeftover) {
    LoadFile("<Services><Server Source=\"before.img\"/></Services>");
    const std::string before = LocalsBytes();
    {
        // Open without delete sharing: it cannot be replaced meanwhile.
        HANDLE holder = CreateFileA(LocalsPath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        Add(MakeServer("after.img", 2));
        CloseHandle(holder);
    }
    EXPECT_EQ(LocalsBytes(), before);
    const std::string leftover = ReadBytes(directory.File("Locals.bak.xml"));
    EXPECT_NE(leftover.find("after.img"), std::string::npos);

    DeleteServer(Servers()[1]);
    EXPECT_EQ(BodyOf(LocalsBytes()),
              "<Services><Server IpAddress=\"0\" Port=\"0\" Source=\"before.img\" Capability=\"0\" "
              "Started=\"0\" Cache=\"0\" AuthMode=\"0\" "
              "Password=\"0000000000000000000000000000000000000000\" "
              "ManagePassword=\"0000000000000000000000000000000000000000\"/></Services>");
    EXPECT_FALSE(Exists(directory.File("Locals.bak.xml")));
}

TEST_F(LocalsFileTest, ALeftoverTemporaryFileIsOpenedAndCleared) {
    ASSERT_TRUE(WriteBytes(directory.File("Locals.bak.xml"),
                           std::string(XML_DECLARATION) + "<Services><Server Source=\"stale.img\"/></Services>"));
    LoadConfiguration();
    EXPECT_TRUE(Servers().empty());  // the temporary file is no configuration
    Add(MakeServer("fresh.img", 1));
    const std::string bytes = LocalsBytes();
    EXPECT_NE(bytes.find("fresh.img"), std::string::npos);
    EXPECT_EQ(bytes.find("stale.img"), std::string::npos);
    EXPECT_FALSE(Exists(directory.File("Locals.bak.xml")));
}

TEST_F(LocalsFileTest, AnUnreadableFileIsKeptBesideTheNewOne) {
    const std::string first = std::string(XML_DECLARATION) + "<Services><Server Source=\"lost.img\"";  // truncated
    ASSERT_TRUE(WriteBytes(LocalsPath(), first));
    LoadConfiguration();
    EXPECT_TRUE(Servers().empty());
    EXPECT_EQ(LocalsBytes(), first);  // a load never writes
    Add(MakeServer("new.img", 1));
    EXPECT_EQ(ReadBytes(directory.File("Locals.unreadable.xml")), first);
    EXPECT_NE(LocalsBytes().find("new.img"), std::string::npos);
    // Kept once: later saves do not copy the new file over it.
    Add(MakeServer("newer.img", 2));
    EXPECT_EQ(ReadBytes(directory.File("Locals.unreadable.xml")), first);

    // A second damaged file gets a name of its own.
    EmptyConfiguration();
    const std::string second = "<?xml version=\"1.0\" encoding=\"EBCDIC\"?><Services/>";
    ASSERT_TRUE(WriteBytes(LocalsPath(), second));
    LoadConfiguration();
    Add(MakeServer("third.img", 3));
    EXPECT_EQ(ReadBytes(directory.File("Locals.unreadable.xml")), first);
    EXPECT_EQ(ReadBytes(directory.File("Locals.unreadable.1.xml")), second);
}

TEST_F(LocalsFileTest, AMissingOrEmptyFileIsNothingToKeep) {
    ASSERT_TRUE(WriteBytes(LocalsPath(), ""));
    LoadConfiguration();
    Add(MakeServer("a.img", 1));
    EXPECT_FALSE(Exists(directory.File("Locals.unreadable.xml")));
    EXPECT_NE(LocalsBytes().find("a.img"), std::string::npos);
}

}  // namespace
}  // namespace varnox::config::testing
