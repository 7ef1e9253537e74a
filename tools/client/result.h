#pragma once
// Fallible calls of the client return a Result: the value, or an Error saying what failed
// and why. Nothing here throws across an API.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace varnox::client {

enum class ErrorKind {
    System,    // a platform call failed; `code` is errno or the Winsock error
    Closed,    // the peer closed the connection
    Status,    // the server answered with a non-zero status; `code` is that status
    Protocol,  // the server's answer does not fit the request
    Usage,     // refused before anything was sent
};

struct Error {
    ErrorKind kind = ErrorKind::Usage;
    std::uint32_t code = 0;
    std::string message;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

}  // namespace varnox::client
