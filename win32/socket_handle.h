#pragma once

#include <utility>

#include <winsock2.h>

namespace velmora {

// A Winsock socket, closed on every way out.
class socket_handle {
public:
    socket_handle() noexcept = default;
    explicit socket_handle(SOCKET socket) noexcept : socket_(socket) {}
    socket_handle(const socket_handle&) = delete;
    socket_handle& operator=(const socket_handle&) = delete;
    socket_handle(socket_handle&& other) noexcept : socket_(std::exchange(other.socket_, INVALID_SOCKET)) {}
    socket_handle& operator=(socket_handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            socket_ = std::exchange(other.socket_, INVALID_SOCKET);
        }
        return *this;
    }
    ~socket_handle() { reset(); }

    bool valid() const noexcept { return socket_ != INVALID_SOCKET; }
    SOCKET get() const noexcept { return socket_; }

    void reset() noexcept
    {
        if (socket_ != INVALID_SOCKET)
            closesocket(std::exchange(socket_, INVALID_SOCKET));
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
};

} // namespace velmora
