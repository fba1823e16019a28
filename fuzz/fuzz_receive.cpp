// Every receive of a registered terminal takes the same way: the service sorts
// it (heartbeat, too long, message), un-escapes a message into its packet and
// queues it; the centre logs it, answers it when it is a status message and
// adds it to the terminal's reply buffer. Nothing on that way may overrun,
// and a status message is answered exactly when it is one.
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

    // The receive as the service gets it: exactly `size` bytes on the heap.
    const auto received = std::make_unique<std::uint8_t[]>(size);
    if (size > 0) std::memcpy(received.get(), data, size);

    const ReceiveKind kind = ClassifyReceive(received.get(), size);
    const bool heartbeat = size == 1 && data[0] == kHeartbeatByte;
    FUZZ_CHECK((kind == ReceiveKind::Heartbeat) == heartbeat);
    FUZZ_CHECK((kind == ReceiveKind::TooLong) == (!heartbeat && size > kMaxWireMessage));

    const auto packet = std::make_unique<_PACKET>();
    std::memset(packet.get(), 0xAA, sizeof(_PACKET));
    const bool queued = MakePacket(kDevice, 7, received.get(), size, *packet);
    FUZZ_CHECK(queued == (kind == ReceiveKind::Message && size > 0));
    if (!queued) return 0;
    FUZZ_CHECK(packet->length >= 1 && packet->length <= size);
    FUZZ_CHECK(packet->data[packet->length] == 0);
    FUZZ_CHECK(packet->valid == 1 && packet->deviceId == kDevice && packet->receiveTime == 7);

    // The centre's side, with the packet's bytes in a buffer of their length.
    const std::size_t length = packet->length;
    const auto message = std::make_unique<std::uint8_t[]>(length);
    std::memcpy(message.get(), packet->data, length);

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

    const bool taken = length < 4096;
    const bool status = taken && pelmora::IsStatusMessage(message.get(), length);
    FUZZ_CHECK(events.lines == (taken ? 1 : 0));
    if (taken) {
        FUZZ_CHECK(events.last.rfind("12345678:", 0) == 0);
        // Text as it stands, or a readable form of at most 64 bytes in hex.
        FUZZ_CHECK(events.last.size() <= 9 + std::max<std::size_t>(length, 3 * 64 + 8));
        FUZZ_CHECK(events.last.find('\0') == std::string::npos);
    }
    FUZZ_CHECK(devices.power.empty() != status);
    FUZZ_CHECK(sent.size() == (status ? 1u : 0u));
    if (status) {
        const std::vector<std::uint8_t>& answer = sent.front().bytes;
        FUZZ_CHECK(sent.front().deviceId == kDevice);
        FUZZ_CHECK(answer.size() == pelmora::CCmdDataObj::kShortOverhead);
        pelmora::CCmdDataObj frame;
        FUZZ_CHECK(frame.UnpackHeader(answer.data(), answer.size()) == 1);
        FUZZ_CHECK(frame.deviceId == kDevice && frame.command == 0x8202);
    }
    FUZZ_CHECK(engine.Replies().Length(kDevice) == (taken ? length : 0u));
    const std::string snapshot = engine.Replies().Snapshot(kDevice);
    FUZZ_CHECK(snapshot.find('\0') == std::string::npos);
    return 0;
}
