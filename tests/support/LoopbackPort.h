// A loopback port nobody listens on right now.
#pragma once

#include <cstdint>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

namespace testsupport {

inline std::uint16_t FreePort() {
    asio::io_context io;
    asio::ip::tcp::acceptor probe(io, {asio::ip::address_v4::loopback(), 0});
    return probe.local_endpoint().port();
}

}  // namespace testsupport
