#pragma once
// Which sockets each client address has open, in accept order. An address's entry goes
// when the connection that created it closes, even while later ones from the same
// address live on; closing a later one leaves the entry alone.

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace varnox {

class AddressMap {
public:
    using Socket = std::uint64_t;

    void Admit(std::uint32_t address, Socket socket) { entries_[address].push_back(socket); }

    // The address whose entry this close removes, if any; the entry is then gone.
    std::optional<std::uint32_t> Close(Socket socket) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (!it->second.empty() && it->second.front() == socket) {
                const std::uint32_t address = it->first;
                entries_.erase(it);
                return address;
            }
        }
        return std::nullopt;
    }

    const std::vector<Socket>* SocketsOf(std::uint32_t address) const {
        auto it = entries_.find(address);
        return it == entries_.end() ? nullptr : &it->second;
    }

    std::size_t EntryCount() const { return entries_.size(); }
    void Clear() { entries_.clear(); }

private:
    std::map<std::uint32_t, std::vector<Socket>> entries_;
};

}  // namespace varnox
