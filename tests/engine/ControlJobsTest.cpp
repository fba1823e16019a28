// Control jobs against a scripted terminal: each job's frame, success,
// refusal and time-out, and the reply stream rules (split and joined frames,
// frames of other kinds, damaged frames).
#include <array>

#include "CommandTexts.h"
#include "ControlJobs.h"
#include "EngineFixture.h"

namespace pelmora::testing {
namespace {

class ControlTest : public EngineTest {
  protected:
    // The terminal answers each request with these bytes (built per request).
    void AnswerFrames(std::function<Bytes(const CCmdDataObj& request)> build) {
        Answer([build](std::uint32_t, const Bytes& sent) {
            CCmdDataObj request;
            request.UnpackHeader(sent.data(), sent.size());
            return build(request);
        });
    }
    void AnswerResult(std::uint8_t result) {
        AnswerFrames([result](const CCmdDataObj& r) {
            return PackFrame(r.deviceId, static_cast<std::uint16_t>(r.command & 0x7FFF), {result});
        });
    }
    Bytes StatusMessage(std::uint8_t firstPayloadByte) {
        return PackFrame(kId, kStatusMessage, {firstPayloadByte, 0x00});
    }
};

class RecordingVersionView final : public IVersionView {
  public:
    void ShowVersions(const std::string& s, const std::string& b) override {
        software = s;
        boot = b;
    }
    std::string software = "untouched";
    std::string boot = "untouched";
};

class FixedUpgradeForm final : public IUpgradeForm {
  public:
    UpgradeForm ReadUpgradeForm() override { return form; }
    UpgradeForm form;
};

TEST_F(ControlTest, EachJobSendsItsFrameAndLogsItsOutcome) {
    struct Case {
        CommandKind kind;
        std::string text;
        std::uint16_t request;
        Bytes payload;
        std::string success, refusal;
    };
    const std::vector<Case> cases = {
        {CommandKind::PlayMp3,
         "00010",
         kPlayMp3Request,
         {'0', '0', '0', '1', '0'},
         "设置播放mp3成功",
         "设置播放Mp3失败"},
        {CommandKind::StopMp3,
         "",
         kStopMp3Request,
         {},
         "设置停止播放mp3成功",
         "设置停止播放Mp3失败"},
        {CommandKind::RestartDevice, "", kRestartRequest, {}, "设备重启成功", "设备重启成功"},
        {CommandKind::SendPlayContent,
         "ABCD",
         kPlayContentRequest,
         {'A', 'B', 'C', 'D'},
         "设置播放内容成功",
         "设置播放内容失败"},
    };
    for (const Case& c : cases) {
        events_.ClearLog();
        AnswerResult(1);
        Run(c.kind, c.text);
        const Bytes expected = PackFrame(kId, c.request, c.payload, 1, 0, {0xEA, 12, 8, 9, 30, 0});
        EXPECT_EQ(Sent().back(), expected);
        EXPECT_EQ(Log(), std::vector<std::string>{G(c.success)});
        // Result 0 is a refusal, except for the restart, which has none.
        events_.ClearLog();
        AnswerResult(0);
        Run(c.kind, c.text);
        EXPECT_EQ(Log(), std::vector<std::string>{G(c.refusal)});
    }
}

TEST_F(ControlTest, SilentTerminalTimesOutWithTheNoAnswerLine) {
    Answer(nullptr);
    Run(CommandKind::PlayMp3, "00003");
    Run(CommandKind::StopMp3);
    Run(CommandKind::ReadVersion);
    Run(CommandKind::RestartDevice);
    EXPECT_EQ(Log(), (std::vector<std::string>{G("设置播放mp3失败"), G("设置停止播放mp3失败"),
                                               G("读取版本失败"), G("设备重启失败")}));
}

TEST_F(ControlTest, OnlyTheAwaitedAnswerDecidesTheJob) {
    // A status message whose first payload byte is 0, an answer for another
    // terminal and one with another code arrive first: none ends the job.
    AnswerFrames([this](const CCmdDataObj&) {
        Bytes all = StatusMessage(0);
        const Bytes other = PackFrame(kId + 1, kStopMp3Answer, {0});
        const Bytes wrongCode = PackFrame(kId, kPlayMp3Answer, {0});
        const Bytes answer = PackFrame(kId, kStopMp3Answer, {1});
        for (const Bytes* b : {&other, &wrongCode, &answer})
            all.insert(all.end(), b->begin(), b->end());
        return all;
    });
    Run(CommandKind::StopMp3);
    EXPECT_EQ(Log(), std::vector<std::string>{G("设置停止播放mp3成功")});
}

TEST_F(ControlTest, AnswerSplitOverTwoReceivesIsFound) {
    // The first half lands at the send, the second half only at the first poll.
    Bytes answer = PackFrame(kId, kPlayMp3Answer, {1});
    const Bytes tail(answer.begin() + 9, answer.end());
    answer.resize(9);
    AnswerFrames([answer](const CCmdDataObj&) { return answer; });
    EngineTiming timing;
    auto delivered = std::make_shared<std::atomic<bool>>(false);
    timing.sleep = [this, tail, delivered](std::chrono::milliseconds) {
        if (engine_ && !delivered->exchange(true)) Deliver(tail);
    };
    Build(timing);
    AnswerFrames([answer](const CCmdDataObj&) { return answer; });
    Run(CommandKind::PlayMp3, "00001");
    EXPECT_EQ(Log(), std::vector<std::string>{G("设置播放mp3成功")});
}

TEST_F(ControlTest, DamagedAnswerIsDroppedAndALaterGoodOneCounts) {
    AnswerFrames([this](const CCmdDataObj&) {
        Bytes damaged = PackFrame(kId, kRestartAnswer, {});
        damaged[damaged.size() - 2] ^= 0x55;
        const Bytes good = PackFrame(kId, kRestartAnswer, {0x42});
        damaged.insert(damaged.end(), good.begin(), good.end());
        return damaged;
    });
    Run(CommandKind::RestartDevice);
    EXPECT_EQ(Log(), std::vector<std::string>{G("设备重启成功")});
}

TEST_F(ControlTest, VersionAnswerFillsTheBoxes) {
    RecordingVersionView view;
    engine_->SetVersionView(&view);
    Bytes payload(80, 0);
    const std::string software = "V1.2";
    std::copy(software.begin(), software.end(), payload.begin());
    std::fill(payload.begin() + 40, payload.end(), 'B');
    AnswerFrames(
        [payload](const CCmdDataObj& r) { return PackFrame(r.deviceId, kVersionAnswer, payload); });
    Run(CommandKind::ReadVersion);
    EXPECT_EQ(Log(), std::vector<std::string>{G("读取版本成功")});
    EXPECT_EQ(view.software, "V1.2");
    EXPECT_EQ(view.boot, std::string(40, 'B'));
    EXPECT_EQ(Sent().back().size(), 17u);

    // A short version answer is not one: the boxes keep their texts.
    view.software = "kept";
    AnswerFrames(
        [](const CCmdDataObj& r) { return PackFrame(r.deviceId, kVersionAnswer, Bytes(79, 'x')); });
    Run(CommandKind::ReadVersion);
    EXPECT_EQ(Log().back(), G("读取版本失败"));
    EXPECT_EQ(view.software, "kept");
}

TEST_F(ControlTest, LongContentGoesInPiecesAndSucceedsOnlyIfAllAreTaken) {
    const std::string content(2500, 'x');
    AnswerResult(1);
    Run(CommandKind::SendPlayContent, content);
    const auto frames = Sent();
    ASSERT_EQ(frames.size(), 3u);
    const std::size_t sizes[] = {1024, 1024, 452};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[i].size(), 25 + sizes[i]);
        EXPECT_EQ(frames[i][13], 3);      // frame count
        EXPECT_EQ(frames[i][14], i + 1);  // frame index
        EXPECT_EQ(Bytes(frames[i].begin() + 15, frames[i].begin() + 21),
                  (Bytes{0xEA, 12, 8, 9, 30, 0}));
    }
    EXPECT_EQ(Log(), std::vector<std::string>{G("设置播放内容成功")});

    // The second piece is refused: no success line at the end.
    events_.ClearLog();
    int piece = 0;
    AnswerFrames([&piece](const CCmdDataObj& r) {
        return PackFrame(r.deviceId, kPlayContentAnswer,
                         {static_cast<std::uint8_t>(++piece == 2 ? 0 : 1)});
    });
    Run(CommandKind::SendPlayContent, content);
    EXPECT_EQ(Log(), (std::vector<std::string>{G("设置播放内容失败"), G("设置播放内容失败")}));

    // Exactly 1024 bytes: one short frame through the piece path.
    AnswerResult(1);
    Run(CommandKind::SendPlayContent, std::string(1024, 'y'));
    EXPECT_EQ(Sent().back().size(), 17u + 1024u);
    // 1023 bytes: one short frame of 1040 bytes; empty text: 17 bytes.
    Run(CommandKind::SendPlayContent, std::string(1023, 'y'));
    EXPECT_EQ(Sent().back().size(), 1040u);
    Run(CommandKind::SendPlayContent, "");
    EXPECT_EQ(Sent().back().size(), 17u);
}

TEST_F(ControlTest, ARefusalInTheLongFormIsARefusal) {
    // Long-form answers carry a timestamp whose year byte (0xEA) sits where a
    // short answer has its result.
    const FrameTimestamp stamp{0xEA, 12, 8, 9, 30, 0};
    AnswerFrames([stamp](const CCmdDataObj& r) {
        return PackFrame(r.deviceId, static_cast<std::uint16_t>(r.command & 0x7FFF), {0}, 2, 1,
                         stamp);
    });
    Run(CommandKind::PlayMp3, "00003");
    EXPECT_EQ(Log(), std::vector<std::string>{G("设置播放Mp3失败")});

    // Each piece answered in the long form with its own count and index; the
    // second is refused.
    events_.ClearLog();
    Answer([stamp](std::uint32_t id, const Bytes& sent) {
        const std::uint8_t index = sent[14];
        return PackFrame(id, kPlayContentAnswer, {static_cast<std::uint8_t>(index == 2 ? 0 : 1)},
                         sent[13], index, stamp);
    });
    Run(CommandKind::SendPlayContent, std::string(2500, 'x'));
    EXPECT_EQ(Log(), (std::vector<std::string>{G("设置播放内容失败"), G("设置播放内容失败")}));
}

TEST_F(ControlTest, ContentBeyond255PiecesIsRefusedUnsent) {
    AnswerResult(1);
    const std::size_t longest = kMaxPlayContentPieces * kPlayContentPiece;
    Run(CommandKind::SendPlayContent, std::string(longest + 1, 'x'));
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Log(), (std::vector<std::string>{G("播放内容过长,最多261120字节,未发送"),
                                               G("设置播放内容失败")}));

    events_.ClearLog();
    Run(CommandKind::SendPlayContent, std::string(longest, 'x'));
    ASSERT_EQ(Sent().size(), 255u);
    EXPECT_EQ(Sent().back()[13], 255);  // count
    EXPECT_EQ(Sent().back()[14], 255);  // index
    EXPECT_EQ(Log(), std::vector<std::string>{G("设置播放内容成功")});
}

TEST_F(ControlTest, UpgradeParametersAreBuiltFromThePageAndResultTwoIsARefusal) {
    FixedUpgradeForm page;
    page.form = {1, 1, 1, 1, 1, "16", "192.168.1.10", "5001", "V2.0"};
    engine_->SetUpgradeForm(&page);
    AnswerResult(2);
    Run(CommandKind::SendUpgradeParams);
    EXPECT_EQ(Log(), std::vector<std::string>{G("无线下载配置应答失败")});
    CCmdDataObj request;
    ASSERT_EQ(request.UnpackHeader(Sent().back().data(), Sent().back().size()), 1);
    EXPECT_EQ(request.command, kUpgradeRequest);
    EXPECT_EQ(Sent().back().size(), 17u + kUpgradePayloadSize);

    AnswerResult(3);
    Run(CommandKind::SendUpgradeParams);
    EXPECT_EQ(Log().back(), G("无线下载配置应答成功"));

    page.form.version = std::string(41, 'v');  // would not fit its field: nothing is sent
    const std::size_t sent = Sent().size();
    Run(CommandKind::SendUpgradeParams);
    EXPECT_EQ(Sent().size(), sent);
    EXPECT_EQ(Log().back(), G("设置升级参数失败"));
}

TEST(UpgradePayload, LaysOutEveryField) {
    UpgradeForm form{1, 1, 1, 1, 1, "16", "192.168.1.10", "5001", "V2.0"};
    auto p = BuildUpgradePayload(form).value();
    EXPECT_EQ(p[0], 0x71);
    EXPECT_EQ(p[1], 0x01);
    EXPECT_EQ(p[2], 0x01);
    EXPECT_EQ(p[3], 0x10);
    EXPECT_EQ(std::string(p.begin() + 4, p.begin() + 24), std::string(20, ' '));
    EXPECT_EQ(std::string(p.begin() + 24, p.begin() + 44), "192.168.1.10        ");
    EXPECT_EQ(std::string(p.begin() + 44, p.begin() + 49), "5001 ");
    EXPECT_EQ(p[49], 4);
    EXPECT_EQ(std::string(p.begin() + 50, p.begin() + 90), "V2.0" + std::string(36, ' '));
    EXPECT_EQ(std::string(p.begin() + 90, p.end()), std::string(4, '\0'));

    form = {0, 0, 0, 0, 0, "1", "", "", ""};
    EXPECT_EQ(BuildUpgradePayload(form).value()[0], 0x00);
    form = UpgradeForm{};  // nothing selected anywhere: never sent as 0xFF
    EXPECT_FALSE(BuildUpgradePayload(form));
    form = {0, 0, 0, 0, 0, "", "", "", ""};
    p = BuildUpgradePayload(form).value();
    EXPECT_EQ(p[3], 0);
    form.serverPort = "123456";
    EXPECT_FALSE(BuildUpgradePayload(form));
}

}  // namespace
}  // namespace pelmora::testing
