// Which attributes the records become, in which order, and what a reader makes of
// elements that were written by hand.

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "attribute_encoding.h"
#include "fake_backends.h"
#include "record_attributes.h"

namespace varnox::config {
namespace {

using testing::Address;

// An element as its attribute texts; numbers are held as the decimal text the XML
// component stores, so a reader meets exactly what a file holds.
class TextElement : public AttributeWriter, public AttributeReader {
public:
    TextElement() = default;
    TextElement(std::initializer_list<std::pair<const std::string, std::string>> values) : values_(values) {}

    void SetInt(const char* name, std::int32_t value) override { Set(name, std::to_string(value)); }
    void SetString(const char* name, std::string_view value) override { Set(name, std::string(value)); }
    std::optional<std::int32_t> GetInt(const char* name) override {
        const auto it = values_.find(name);
        if (it == values_.end()) return std::nullopt;
        return ParseAttributeInt(it->second);
    }
    std::optional<std::string> GetString(const char* name, std::size_t capacity) override {
        const auto it = values_.find(name);
        if (it == values_.end()) return std::nullopt;
        return it->second.substr(0, capacity - 1);
    }

    std::vector<std::string> order;
    std::map<std::string, std::string> values_;

private:
    void Set(const char* name, std::string value) {
        order.emplace_back(name);
        values_[name] = std::move(value);
    }
};

TEST(RecordAttributesTest, ServerIsWrittenInTheFilesOrder) {
    ServerRecord server = testing::MakeServer("D:\\images\\disk.img", 3260);
    server.IpAddress = Address(10, 0, 0, 200);
    server.Capability = (2ull << 40) - 512;
    server.Cache = -5;
    server.AuthMode = 2;
    server.Started = 1;
    for (std::size_t i = 0; i < DIGEST_SIZE; ++i) {
        server.Password[i] = static_cast<std::uint8_t>(i);
        server.ManagePassword[i] = static_cast<std::uint8_t>(0xF0 + i % 16);
    }
    TextElement element;
    WriteServerAttributes(server, element);
    EXPECT_EQ(element.order, (std::vector<std::string>{"IpAddress", "Port", "Source", "Capability", "Started", "Cache",
                                                       "AuthMode", "Password", "ManagePassword"}));
    EXPECT_EQ(element.values_["IpAddress"], "-939524086");
    EXPECT_EQ(element.values_["Port"], "3260");
    EXPECT_EQ(element.values_["Source"], "D:\\images\\disk.img");
    EXPECT_EQ(element.values_["Capability"], "-1");
    EXPECT_EQ(element.values_["Started"], "1");
    EXPECT_EQ(element.values_["Cache"], "-5");
    EXPECT_EQ(element.values_["AuthMode"], "2");
    EXPECT_EQ(element.values_["Password"], "000102030405060708090a0b0c0d0e0f10111213");
    EXPECT_EQ(element.values_["ManagePassword"], "f0f1f2f3f4f5f6f7f8f9fafbfcfdfefff0f1f2f3");

    const ServerRecord back = ReadServerAttributes(element);
    EXPECT_EQ(std::memcmp(&back, &server, sizeof server), 0);
}

TEST(RecordAttributesTest, ClientIsWrittenInTheFilesOrder) {
    const ClientRecord client = testing::MakeClient(Address(192, 168, 0, 1), 1, 1, "alpha.example");
    TextElement element;
    WriteClientAttributes(client, element);
    EXPECT_EQ(element.order, (std::vector<std::string>{"IpAddress", "Access", "HasName", "HostName"}));
    EXPECT_EQ(element.values_["IpAddress"], "16820416");
    EXPECT_EQ(element.values_["Access"], "1");
    EXPECT_EQ(element.values_["HasName"], "1");
    EXPECT_EQ(element.values_["HostName"], "alpha.example");
    const ClientRecord back = ReadClientAttributes(element);
    EXPECT_EQ(std::memcmp(&back, &client, sizeof client), 0);
}

TEST(RecordAttributesTest, AFailedResolutionIsSavedAsNotResolvedWithoutItsName) {
    TextElement element;
    WriteClientAttributes(testing::MakeClient(Address(10, 0, 0, 5), 0, HAS_NAME_FAILED, "stale"), element);
    EXPECT_EQ(element.values_["HasName"], "0");
    const ClientRecord back = ReadClientAttributes(element);
    EXPECT_EQ(back.HasName, HAS_NAME_NOT_RESOLVED);
    EXPECT_STREQ(back.HostName, "");
}

TEST(RecordAttributesTest, AnEmptyElementReadsAsZeroedRecords) {
    TextElement element;
    const ServerRecord server = ReadServerAttributes(element);
    const ServerRecord zeroServer = testing::MakeServer("", 0);
    EXPECT_EQ(std::memcmp(&server, &zeroServer, sizeof server), 0);
    const ClientRecord client = ReadClientAttributes(element);
    const ClientRecord zeroClient = testing::MakeClient(0);
    EXPECT_EQ(std::memcmp(&client, &zeroClient, sizeof client), 0);
}

TEST(RecordAttributesTest, HandWrittenServerValuesAreReadFieldByField) {
    TextElement element{{"IpAddress", "junk"},
                        {"Port", "68796"},  // 65536 + 3260
                        {"Source", std::string(1000, 's')},
                        {"Capability", "12.5"},
                        {"Started", "7"},
                        {"Cache", " 42 "},
                        {"AuthMode", ""},
                        {"Password", "abcd"},
                        {"ManagePassword", std::string(1000, 'f')}};
    const ServerRecord server = ReadServerAttributes(element);
    EXPECT_EQ(server.IpAddress, 0u);
    EXPECT_EQ(server.Port, 3260);
    EXPECT_EQ(std::string(server.Source), std::string(259, 's'));
    EXPECT_EQ(server.Capability, 0u);
    EXPECT_EQ(server.Started, 7);  // any non-zero value asks for a start
    EXPECT_EQ(server.Cache, 42);
    EXPECT_EQ(server.AuthMode, 0);
    EXPECT_EQ(server.Password[0], 0xAB);
    EXPECT_EQ(server.Password[1], 0xCD);
    for (std::size_t i = 2; i < DIGEST_SIZE; ++i) EXPECT_EQ(server.Password[i], 0) << i;
    for (std::size_t i = 0; i < DIGEST_SIZE; ++i) EXPECT_EQ(server.ManagePassword[i], 0xFF) << i;
}

TEST(RecordAttributesTest, HandWrittenClientValuesAreReadFieldByField) {
    struct Case {
        std::string hasName;
        std::string access;
        std::uint8_t expectedHasName;
        std::uint8_t expectedAccess;
        std::string expectedName;
    };
    const std::string longName(300, 'n');
    const Case cases[] = {
        {"0", "0", 0, 0, ""},                     // a name beside "0" is ignored
        {"1", "1", 1, 1, "given"},                //
        {"2", "2", 2, 2, "given"},                // not written so, but read as it stands
        {"256", "258", 0, 2, ""},                 // low 8 bits decide
        {"x", "-1", 0, 255, ""},                  // not a number: zero
        {"1", "3", 1, 3, std::string(127, 'n')},  // long names are cut
    };
    for (const auto& c : cases) {
        TextElement element{{"IpAddress", "-939524086"},
                            {"Access", c.access},
                            {"HasName", c.hasName},
                            {"HostName", c.expectedName.size() == 127 ? longName : "given"}};
        const ClientRecord client = ReadClientAttributes(element);
        EXPECT_EQ(client.IpAddress, Address(10, 0, 0, 200)) << c.hasName;
        EXPECT_EQ(client.Access, c.expectedAccess) << c.access;
        EXPECT_EQ(client.HasName, c.expectedHasName) << c.hasName;
        EXPECT_EQ(std::string(client.HostName), c.expectedName) << c.hasName;
        EXPECT_EQ(client.Status, 0);
    }
}

}  // namespace
}  // namespace varnox::config
