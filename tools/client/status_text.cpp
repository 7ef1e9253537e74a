#include "status_text.h"

#include <cstdio>

#include "protocol.h"

namespace varnox::client {

std::string StatusName(std::uint16_t status) {
    switch (status) {
        case STATUS_OK:
            return "OK";
        case ERR_REQUEST_FAILED:
            return "request failed";
        case ERR_ACCESS_DENIED:
            return "access denied";
        default:
            return "system error " + std::to_string(status);
    }
}

std::string DescribeStatus(std::uint16_t status) {
    char number[16];
    std::snprintf(number, sizeof number, " (0x%04X)", static_cast<unsigned>(status));
    return StatusName(status) + number;
}

}  // namespace varnox::client
