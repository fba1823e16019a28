// Control frames come from terminals over the link and may arrive split,
// glued together, mixed with text or damaged. The readers must stay inside
// the bytes they were given and the stream must hand out only whole frames
// that pass every check, however the bytes were cut into receives.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "CmdDataObj.h"
#include "FuzzCheck.h"

namespace {

using pelmora::CCmdDataObj;
using pelmora::FrameStream;
using Bytes = std::vector<std::uint8_t>;

void CheckFrame(const Bytes& f) {
    FUZZ_CHECK(f.size() >= CCmdDataObj::kShortOverhead);
    FUZZ_CHECK(f.size() <= FrameStream::kMaxFrame);
    FUZZ_CHECK(f[0] == 0x02 && f[1] == 0x11 && f[2] == 0x01);
    FUZZ_CHECK(f.back() == 0x03);
    FUZZ_CHECK((static_cast<std::size_t>(f[3]) << 8 | f[4]) + 7 == f.size());
    FUZZ_CHECK(CCmdDataObj::SumBytes(f.data() + 1, f.size() - 3) == f[f.size() - 2]);
    CCmdDataObj obj;
    FUZZ_CHECK(obj.UnpackHeader(f.data(), f.size()) == 1);
}

// Feeds `data` in receives of the given sizes (cycled) and drains the stream
// after each one.
std::vector<Bytes> Cut(const std::uint8_t* data, std::size_t size, const Bytes& receiveSizes,
                       std::size_t& pending) {
    FrameStream stream;
    std::vector<Bytes> frames;
    std::size_t at = 0;
    std::size_t turn = 0;
    while (at < size) {
        std::size_t n = receiveSizes.empty() ? size : receiveSizes[turn++ % receiveSizes.size()];
        if (n == 0) n = 1;
        if (n > size - at) n = size - at;
        stream.Append(data + at, n);
        at += n;
        while (auto frame = stream.Next()) {
            CheckFrame(*frame);
            frames.push_back(std::move(*frame));
        }
        FUZZ_CHECK(stream.Pending() <= at);
    }
    pending = stream.Pending();
    return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The unpackers get exactly the received bytes.
    {
        const auto copy = std::make_unique<std::uint8_t[]>(size);
        if (size > 0) std::memcpy(copy.get(), data, size);
        CCmdDataObj obj;
        const int header = obj.UnpackHeader(copy.get(), size);
        FUZZ_CHECK(header == 1 || header == -1);
        const int result = obj.UnpackResult(copy.get(), size);
        if (header == 1) {
            // The result is the first payload byte of the form the frame uses.
            const bool longForm = data[11] == 0x00 && data[12] == 0x08;
            if (!longForm) {
                FUZZ_CHECK(result == static_cast<std::int8_t>(data[15]));
            } else if (size >= CCmdDataObj::kLongOverhead) {
                FUZZ_CHECK(result == static_cast<std::int8_t>(data[23]));
            } else {
                FUZZ_CHECK(result == -1);
            }
        } else {
            FUZZ_CHECK(result == -1);
        }
        const int version = obj.UnpackVersion(copy.get(), size);
        FUZZ_CHECK(version == 80 || version == -1);
        if (version == 80) {
            FUZZ_CHECK(header == 1);
            FUZZ_CHECK(obj.payloadLength == 80);
            FUZZ_CHECK(std::memcmp(obj.payload.data(), data + 15, 80) == 0);
        }
    }

    // Whether the bytes come in one receive or byte by byte or in uneven
    // pieces, the same frames come out and the same tail waits. The piece
    // sizes are taken from the input itself.
    {
        std::size_t pendingWhole = 0;
        const std::vector<Bytes> whole = Cut(data, size, {}, pendingWhole);
        std::size_t total = 0;
        for (const Bytes& f : whole) total += f.size();
        FUZZ_CHECK(total + pendingWhole <= size);

        std::size_t pendingBytewise = 0;
        FUZZ_CHECK(Cut(data, size, {1}, pendingBytewise) == whole);
        FUZZ_CHECK(pendingBytewise == pendingWhole);

        const Bytes uneven(data, data + (size < 8 ? size : 8));
        std::size_t pendingUneven = 0;
        FUZZ_CHECK(Cut(data, size, uneven, pendingUneven) == whole);
        FUZZ_CHECK(pendingUneven == pendingWhole);
    }

    // A frame we pack from these bytes is read back whole, in either form.
    for (const std::int32_t frameCount : {1, 3}) {
        const pelmora::FrameTimestamp stamp{24, 5, 17, 8, 30, 0};
        const Bytes payload(data, data + size);
        const Bytes packed = pelmora::PackFrame(0x12345678u, pelmora::kPlayContentRequest, payload,
                                                frameCount, 1, stamp);
        if (size > CCmdDataObj::kMaxPackedPayload) {
            FUZZ_CHECK(packed.empty());
            continue;
        }
        const std::size_t overhead =
            frameCount == 1 ? CCmdDataObj::kShortOverhead : CCmdDataObj::kLongOverhead;
        FUZZ_CHECK(packed.size() == size + overhead);
        FrameStream stream;
        stream.Append(packed.data(), packed.size());
        const std::optional<Bytes> back = stream.Next();
        FUZZ_CHECK(back.has_value() && *back == packed);
        FUZZ_CHECK(stream.Pending() == 0);
        CCmdDataObj obj;
        FUZZ_CHECK(obj.UnpackHeader(packed.data(), packed.size()) == 1);
        FUZZ_CHECK(obj.deviceId == 0x12345678u && obj.command == pelmora::kPlayContentRequest);
    }
    return 0;
}
