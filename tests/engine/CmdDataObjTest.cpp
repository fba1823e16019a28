#include <gtest/gtest.h>

#include <vector>

#include "CmdDataObj.h"

namespace pelmora {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ControlFrame, PacksPlayContentExampleByteForByte) {
    const Bytes frame = PackFrame(1, kPlayContentRequest, {'A', 'B', 'C', 'D'});
    EXPECT_EQ(frame, (Bytes{0x02, 0x11, 0x01, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x01, 0x80, 0x01,
                            0x00, 0x00, 0x00, 0x04, 0x41, 0x42, 0x43, 0x44, 0xB0, 0x03}));
}

TEST(ControlFrame, RequestWithoutPayloadIsSeventeenBytes) {
    const Bytes frame = PackFrame(0x12345678, kRestartRequest, {});
    ASSERT_EQ(frame.size(), 17u);
    EXPECT_EQ(frame[3], 0x00);
    EXPECT_EQ(frame[4], 10);
    EXPECT_EQ(frame[5], 0x12);
    EXPECT_EQ(frame[8], 0x78);
    EXPECT_EQ(frame[9], 0x81);
    EXPECT_EQ(frame[10], 0xA0);
    EXPECT_EQ(frame[15], CCmdDataObj::SumBytes(frame.data() + 1, 14));
    EXPECT_EQ(frame[16], 0x03);
}

TEST(ControlFrame, LongFormCarriesCountIndexAndTimestamp) {
    const FrameTimestamp stamp{0xEA, 12, 8, 15, 30, 59};
    const Bytes frame = PackFrame(7, kPlayContentRequest, Bytes(452, 0x41), 3, 2, stamp);
    ASSERT_EQ(frame.size(), 25u + 452u);
    EXPECT_EQ((frame[3] << 8) | frame[4], 452 + 18);
    EXPECT_EQ(frame[11], 0x00);
    EXPECT_EQ(frame[12], 0x08);
    EXPECT_EQ(frame[13], 3);
    EXPECT_EQ(frame[14], 2);
    EXPECT_EQ(Bytes(frame.begin() + 15, frame.begin() + 21), Bytes(stamp.begin(), stamp.end()));
    EXPECT_EQ((frame[21] << 8) | frame[22], 452);
    EXPECT_EQ(frame[23 + 452], CCmdDataObj::SumBytes(frame.data() + 1, 22 + 452));
    EXPECT_EQ(frame.back(), 0x03);
}

TEST(ControlFrame, RefusesOversizedPayloadsAndSmallBuffers) {
    CCmdDataObj frame;
    const Bytes big(1452, 0x41);
    frame.SetFields(1, kPlayContentRequest, 1, 0, {}, big.data(), big.size());
    std::uint8_t out[2048] = {0x55};
    EXPECT_EQ(frame.Pack(out, sizeof out), 0u);
    EXPECT_EQ(out[0], 0x55);
    frame.SetFields(1, kPlayContentRequest, 1, 0, {}, big.data(), 1451);
    EXPECT_EQ(frame.Pack(out, sizeof out), 1451u + 17u);
    EXPECT_EQ(frame.Pack(out, 1451 + 16), 0u);
    // More than the payload area is never copied.
    const Bytes huge(5000, 0x42);
    frame.SetFields(1, kPlayContentRequest, 1, 0, {}, huge.data(), huge.size());
    EXPECT_EQ(frame.payloadLength, 2048);
}

TEST(ControlFrame, UnpacksResultsOnlyFromWholeCheckedFrames) {
    Bytes answer = PackFrame(0xCAFE, kStopMp3Answer, {0x00});
    CCmdDataObj frame;
    EXPECT_EQ(frame.UnpackResult(answer.data(), answer.size()), 0);
    EXPECT_EQ(frame.deviceId, 0xCAFEu);
    EXPECT_EQ(frame.command, kStopMp3Answer);
    EXPECT_EQ(frame.UnpackHeader(answer.data(), answer.size()), 1);

    const Bytes refusal = PackFrame(1, kPlayMp3Answer, {0xFF});
    EXPECT_EQ(frame.UnpackResult(refusal.data(), refusal.size()), -1)
        << "0xFF is -1 as a signed byte";

    const Bytes seventeen = PackFrame(1, kRestartAnswer, {});
    EXPECT_EQ(frame.UnpackHeader(seventeen.data(), 17), 1);
    EXPECT_EQ(frame.UnpackHeader(seventeen.data(), 16), -1);

    answer[answer.size() - 2] ^= 0x01;
    EXPECT_EQ(frame.UnpackResult(answer.data(), answer.size()), -1);
    const std::string text = "OK\r\n";
    EXPECT_EQ(frame.UnpackResult(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
              -1);
}

TEST(ControlFrame, ResultIsTheFirstPayloadByteOfTheFormTheAnswerUses) {
    // A long-form refusal: offset 15 holds the year of its timestamp.
    const Bytes longRefusal =
        PackFrame(3, kPlayContentAnswer, {0x00}, 3, 2, FrameTimestamp{0xEA, 12, 8, 9, 30, 0});
    CCmdDataObj frame;
    EXPECT_EQ(frame.UnpackResult(longRefusal.data(), longRefusal.size()), 0);
    EXPECT_EQ(frame.command, kPlayContentAnswer);
    const Bytes longTaken = PackFrame(3, kPlayContentAnswer, {0x01}, 3, 2, {});
    EXPECT_EQ(frame.UnpackResult(longTaken.data(), longTaken.size()), 1);

    // Option length 8 in a frame too short for the long form has no result.
    Bytes cut = PackFrame(3, kPlayContentAnswer, {0x01, 0x00});
    cut[12] = 0x08;
    cut[cut.size() - 2] = CCmdDataObj::SumBytes(cut.data() + 1, cut.size() - 3);
    EXPECT_EQ(frame.UnpackResult(cut.data(), cut.size()), -1);
}

TEST(ControlFrame, VersionAnswerNeedsEightyPayloadBytes) {
    Bytes payload(80, 0);
    payload[0] = 'V';
    payload[40] = 'B';
    const Bytes good = PackFrame(9, kVersionAnswer, payload);
    ASSERT_EQ(good.size(), 97u);
    CCmdDataObj frame;
    EXPECT_EQ(frame.UnpackVersion(good.data(), good.size()), 80);
    EXPECT_EQ(frame.payload[0], 'V');
    EXPECT_EQ(frame.payload[40], 'B');
    const Bytes short79 = PackFrame(9, kVersionAnswer, Bytes(79, 0x30));
    EXPECT_EQ(frame.UnpackVersion(short79.data(), short79.size()), -1);
    EXPECT_EQ(frame.UnpackVersion(good.data(), 96), -1);
}

TEST(FrameStream, ReassemblesSplitFramesAndSeparatesJoinedOnes) {
    const Bytes status = PackFrame(5, kStatusMessage, {0x01, 0x00});
    const Bytes answer = PackFrame(5, kStopMp3Answer, {0x01});
    FrameStream stream;
    stream.Append(answer.data(), 10);
    EXPECT_FALSE(stream.Next());
    stream.Append(answer.data() + 10, answer.size() - 10);
    EXPECT_EQ(stream.Next(), answer);

    Bytes both = status;
    both.insert(both.end(), answer.begin(), answer.end());
    stream.Append(both.data(), both.size());
    EXPECT_EQ(stream.Next(), status);
    EXPECT_EQ(stream.Next(), answer);
    EXPECT_FALSE(stream.Next());
    EXPECT_EQ(stream.Pending(), 0u);
}

TEST(FrameStream, SkipsTextAndDropsDamagedFrames) {
    const Bytes answer = PackFrame(5, kPlayMp3Answer, {0x01});
    Bytes damaged = answer;
    damaged[damaged.size() - 2] ^= 0x40;
    const Bytes text = {'O', 'K', '\r', '\n', 0x02, 0x11};
    Bytes mixed;
    for (const Bytes* part : {&text, static_cast<const Bytes*>(&damaged), &answer}) {
        mixed.insert(mixed.end(), part->begin(), part->end());
    }
    FrameStream stream;
    stream.Append(mixed.data(), mixed.size());
    EXPECT_EQ(stream.Next(), answer);
    EXPECT_FALSE(stream.Next());

    // A start pattern with an impossible length is not waited for.
    const Bytes bogus = {0x02, 0x11, 0x01, 0xFF, 0xFF, 0x00};
    stream.Append(bogus.data(), bogus.size());
    stream.Append(answer.data(), answer.size());
    EXPECT_EQ(stream.Next(), answer);
}

}  // namespace
}  // namespace pelmora
