#include "address_map.h"

#include <gtest/gtest.h>

namespace varnox {
namespace {

TEST(AddressMap, TwoConnectionsFromOneAddressInEitherClosingOrder) {
    struct Case {
        const char* name;
        std::vector<AddressMap::Socket> closeOrder;
        std::vector<std::optional<std::uint32_t>> removed;
    };
    const Case cases[] = {
        {"first closes first", {10, 11}, {0x0100007F, std::nullopt}},
        {"second closes first", {11, 10}, {std::nullopt, 0x0100007F}},
    };
    for (const Case& c : cases) {
        AddressMap map;
        map.Admit(0x0100007F, 10);
        map.Admit(0x0100007F, 11);
        map.Admit(0x0200007F, 12);
        ASSERT_EQ(map.SocketsOf(0x0100007F)->size(), 2u);
        for (std::size_t i = 0; i < c.closeOrder.size(); ++i) {
            EXPECT_EQ(map.Close(c.closeOrder[i]), c.removed[i]) << c.name << " step " << i;
        }
        EXPECT_EQ(map.SocketsOf(0x0100007F), nullptr) << c.name;
        EXPECT_EQ(map.EntryCount(), 1u) << "the other address's entry stays: " << c.name;
    }
}

TEST(AddressMap, UnknownSocketRemovesNothing) {
    AddressMap map;
    map.Admit(1, 5);
    EXPECT_EQ(map.Close(6), std::nullopt);
    EXPECT_EQ(map.EntryCount(), 1u);
}

}  // namespace
}  // namespace varnox
