// The first message of a connection and the byte stuffing both see whatever
// a terminal (or anything else reaching the port) sends.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzCheck.h"
#include "LinkProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dovrik;

    // Exactly `size` bytes of room, on the heap, so a write past the promise
    // of Unescape is caught by the address checker.
    {
        const auto plain = std::make_unique<std::uint8_t[]>(size);
        const std::size_t produced = Unescape(data, size, plain.get());
        FUZZ_CHECK(produced <= size);
        FUZZ_CHECK((size == 0) == (produced == 0));
    }

    // What we escape comes back unchanged, or is not escaped at all when its
    // escaped form is longer than one message may be.
    {
        const auto wire = std::make_unique<std::uint8_t[]>(kMaxWireMessage);
        const auto written = EscapeForSend(data, size, wire.get());
        std::size_t needed = size;
        for (std::size_t i = 0; i < size; ++i)
            needed += data[i] == kEscapeByte || data[i] == kHeartbeatByte;
        FUZZ_CHECK(written.has_value() == (needed <= kMaxWireMessage));
        if (written) {
            FUZZ_CHECK(*written == needed);
            for (std::size_t i = 0; i < *written; ++i) FUZZ_CHECK(wire[i] != kHeartbeatByte);
            const auto back = std::make_unique<std::uint8_t[]>(*written);
            const std::size_t produced = Unescape(wire.get(), *written, back.get());
            FUZZ_CHECK(produced == size);
            FUZZ_CHECK(size == 0 || std::memcmp(back.get(), data, size) == 0);
        }
    }

    // A registration is read from a buffer of exactly the received length.
    {
        const auto copy = std::make_unique<std::uint8_t[]>(size);
        if (size > 0) std::memcpy(copy.get(), data, size);
        const auto reg = ParseRegistration(copy.get(), size);
        FUZZ_CHECK(reg.has_value() == (size >= kRegistrationMinLength && data[15] == 0));
        if (reg) {
            const std::uint32_t id = static_cast<std::uint32_t>(data[0]) |
                                     static_cast<std::uint32_t>(data[1]) << 8 |
                                     static_cast<std::uint32_t>(data[2]) << 16 |
                                     static_cast<std::uint32_t>(data[3]) << 24;
            FUZZ_CHECK(reg->deviceId == id);
            FUZZ_CHECK(reg->simNumber[11] == '\0');
            FUZZ_CHECK(std::memcmp(reg->simNumber.data(), data + 4, 11) == 0);
            FUZZ_CHECK(std::memcmp(reg->address.data(), data + 16, 4) == 0);
        }
    }
    return 0;
}
