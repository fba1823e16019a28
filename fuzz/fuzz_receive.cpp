// Every receive of a registered terminal takes the same way: the service
// un-escapes the stream, drops its heartbeats and queues what is left in
// packets; the centre logs a packet, answers it when it is a status message
// and adds it to the terminal's reply buffer. Nothing on that way may
// overrun, where TCP cuts the stream must not change what comes out, and a
// status message is answered wherever it stands in the packet.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CmdDataObj.h"
#include "CommandEngine.h"
#include "EngineUi.h"
#include "FuzzCheck.h"
#include "LinkProtocol.h"

namespace {

constexpr std::uint32_t kDevice = 0x12345678;

struct Devices final : pelmora::IDeviceList {
    int RowCount() const override { return 1; }
    bool IsChecked(int) const override { return true; }
    std::string IdText(int) const override { return "12345678"; }
    std::string OnlineText(int) const override { return "online"; }
    int FindRow(const std::string& idText) const override { return idText == "12345678" ? 0 : -1; }
    void SetPowerText(int, const std::string& text) override { power = text; }
    std::string power;
};

struct Events final : pelmora::IEngineEvents {
    void PostLog(std::string line) override {
        ++lines;
        last = std::move(line);
    }
    void SettingsArrived() override {}
    void NumbersAdded(pelmora::ListChangeNotice) override {}
    void NumbersDeleted(pelmora::ListChangeNotice) override {}
    void NumberListReset(pelmora::ListChangeNotice) override {}
    int lines = 0;
    std::string last;
};

struct Sent {
    std::uint32_t deviceId;
    std::vector<std::uint8_t> bytes;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace dovrik;

    // The receives as the service gets them: exactly their bytes on the heap,
    // cut in two where the first byte says.
    const auto received = std::make_unique<std::uint8_t[]>(size);
    if (size > 0) std::memcpy(received.get(), data, size);
    const std::size_t cut = size > 0 ? data[0] % (size + 1) : 0;

    // All of it in one piece, and cut into receives and pieces of a room the
    // second byte says; they must agree.
    StreamDecoder whole;
    const auto one = std::make_unique<std::uint8_t[]>(size + 1);
    std::size_t ones = whole.Decode(received.get(), size, one.get(), size + 1).produced;
    ones += whole.Flush(one.get() + ones);
    StreamDecoder split;
    const std::size_t room = size > 1 ? 2 + data[1] % 64 : 2;
    const auto two = std::make_unique<std::uint8_t[]>(size + 1);
    const auto piece = std::make_unique<std::uint8_t[]>(room);
    std::size_t twos = 0;
    for (const auto& [from, to] : {std::pair{std::size_t{0}, cut}, std::pair{cut, size}}) {
        for (std::size_t used = from; used < to;) {
            const auto step = split.Decode(received.get() + used, to - used, piece.get(), room);
            FUZZ_CHECK(step.consumed > 0 && step.produced <= room);
            used += step.consumed;
            FUZZ_CHECK(twos + step.produced <= size);
            std::memcpy(two.get() + twos, piece.get(), step.produced);
            twos += step.produced;
        }
    }
    twos += split.Flush(two.get() + twos);
    FUZZ_CHECK(ones == twos && (ones == 0 || std::memcmp(one.get(), two.get(), ones) == 0));
    // Heartbeats never reach a packet; every other byte does, pairs as one.
    std::size_t heartbeats = 0;
    std::size_t pairs = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == kHeartbeatByte) {
            ++heartbeats;
        } else if (data[i] == kEscapeByte && i + 1 < size &&
                   (data[i + 1] == 0xED || data[i + 1] == 0xEE)) {
            ++pairs;
            ++i;
        }
    }
    FUZZ_CHECK(ones == size - heartbeats - pairs);
    if (ones == 0) return 0;

    // The centre's side, with the first packet's bytes in a buffer of their
    // length.
    const std::size_t length = std::min(ones, kMaxPacketData);
    const auto message = std::make_unique<std::uint8_t[]>(length);
    std::memcpy(message.get(), one.get(), length);

    std::vector<Sent> sent;
    pelmora::LinkApi link;
    link.sendData = [&sent](std::uint32_t id, std::uint16_t count, const std::uint8_t* bytes) {
        sent.push_back({id, std::vector<std::uint8_t>(bytes, bytes + count)});
        return 1;
    };
    Events events;
    Devices devices;
    pelmora::CommandEngine engine(link, events);
    engine.IntakePacket(kDevice, message.get(), length, devices);
    FUZZ_CHECK(engine.FlushSends(std::chrono::seconds(10)));

    // Status messages one after another, wherever they start.
    std::size_t statuses = 0;
    for (std::size_t at = 0; at < length;) {
        if (pelmora::IsStatusMessage(message.get() + at, length - at)) {
            ++statuses;
            at += pelmora::kStatusMessageLength;
        } else {
            ++at;
        }
    }
    const bool status = statuses > 0;
    FUZZ_CHECK(events.lines == 1);
    FUZZ_CHECK(events.last.rfind("12345678:", 0) == 0);
    // Text as it stands, or a readable form of at most 64 bytes in hex.
    FUZZ_CHECK(events.last.size() <= 9 + std::max<std::size_t>(length, 3 * 64 + 8));
    FUZZ_CHECK(events.last.find('\0') == std::string::npos);
    FUZZ_CHECK(devices.power.empty() != status);
    FUZZ_CHECK(sent.size() == statuses);
    if (status) {
        const std::vector<std::uint8_t>& answer = sent.front().bytes;
        FUZZ_CHECK(sent.front().deviceId == kDevice);
        FUZZ_CHECK(answer.size() == pelmora::CCmdDataObj::kShortOverhead);
        pelmora::CCmdDataObj frame;
        FUZZ_CHECK(frame.UnpackHeader(answer.data(), answer.size()) == 1);
        FUZZ_CHECK(frame.deviceId == kDevice && frame.command == 0x8202);
    }
    // No conversation awaits the terminal: nothing of it is kept.
    FUZZ_CHECK(engine.WatchedTerminals() == 0);
    return 0;
}
