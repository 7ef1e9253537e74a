#include "record_attributes.h"

#include <cstring>

#include "attribute_encoding.h"

namespace varnox::config {

namespace {

// A digest attribute holds 40 hex digits; anything after them is ignored.
constexpr std::size_t kDigestTextCapacity = DIGEST_SIZE * 2 + 1;

}  // namespace

void WriteServerAttributes(const ServerRecord& server, AttributeWriter& element) {
    element.SetInt("IpAddress", AddressToAttribute(server.IpAddress));
    element.SetInt("Port", server.Port);
    element.SetString("Source", SourceToAttribute(server));
    element.SetInt("Capability", CapabilityToAttribute(server.Capability));
    element.SetInt("Started", server.Started);
    element.SetInt("Cache", server.Cache);
    element.SetInt("AuthMode", server.AuthMode);
    element.SetString("Password", DigestToAttribute(server.Password));
    element.SetString("ManagePassword", DigestToAttribute(server.ManagePassword));
}

void WriteClientAttributes(const ClientRecord& client, AttributeWriter& element) {
    element.SetInt("IpAddress", AddressToAttribute(client.IpAddress));
    element.SetInt("Access", client.Access);
    element.SetInt("HasName", HasNameToAttribute(client.HasName));
    element.SetString("HostName", HostNameToAttribute(client));
}

ServerRecord ReadServerAttributes(AttributeReader& element) {
    ServerRecord server;
    std::memset(&server, 0, sizeof server);
    if (auto value = element.GetInt("IpAddress")) server.IpAddress = AddressFromAttribute(*value);
    if (auto value = element.GetInt("Port")) server.Port = PortFromAttribute(*value);
    if (auto text = element.GetString("Source", SOURCE_CAPACITY)) CopyToField(*text, server.Source, SOURCE_CAPACITY);
    if (auto value = element.GetInt("Capability")) server.Capability = CapabilityFromAttribute(*value);
    if (auto value = element.GetInt("Started")) server.Started = *value;
    if (auto value = element.GetInt("Cache")) server.Cache = *value;
    if (auto value = element.GetInt("AuthMode")) server.AuthMode = *value;
    if (auto text = element.GetString("Password", kDigestTextCapacity)) DigestFromAttribute(*text, server.Password);
    if (auto text = element.GetString("ManagePassword", kDigestTextCapacity)) {
        DigestFromAttribute(*text, server.ManagePassword);
    }
    return server;
}

ClientRecord ReadClientAttributes(AttributeReader& element) {
    ClientRecord client;
    std::memset(&client, 0, sizeof client);
    if (auto value = element.GetInt("IpAddress")) client.IpAddress = AddressFromAttribute(*value);
    if (auto value = element.GetInt("Access")) client.Access = ByteFromAttribute(*value);
    if (auto value = element.GetInt("HasName")) client.HasName = ByteFromAttribute(*value);
    if (client.HasName != HAS_NAME_NOT_RESOLVED) {
        if (auto text = element.GetString("HostName", HOST_NAME_CAPACITY)) {
            CopyToField(*text, client.HostName, HOST_NAME_CAPACITY);
        }
    }
    return client;
}

}  // namespace varnox::config
