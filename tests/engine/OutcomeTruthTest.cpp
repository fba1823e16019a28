// Every outcome says what happened: an answer counts only for the write it
// answers, from the connection written to, and the window never waits on a
// conversation.
#include <future>

#include "CommandTexts.h"
#include "ControlJobs.h"
#include "EngineFixture.h"

namespace pelmora::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes ContentAnswer(std::uint32_t id, std::uint8_t result, const CCmdDataObj* echo = nullptr) {
    if (echo == nullptr) return PackFrame(id, kPlayContentAnswer, {result});
    return PackFrame(id, kPlayContentAnswer, {result}, echo->frameCount, echo->frameIndex,
                     echo->timestamp);
}

// The long-form request as the terminal read it.
CCmdDataObj Request(const Bytes& sent) {
    CCmdDataObj request;
    request.UnpackHeader(sent.data(), sent.size());
    if (sent.size() >= CCmdDataObj::kLongOverhead && sent[12] == 8) {
        request.frameCount = sent[13];
        request.frameIndex = sent[14];
        std::copy(sent.begin() + 15, sent.begin() + 21, request.timestamp.begin());
    }
    return request;
}

TEST_F(EngineTest, AFailedWriteIsSendFailedWhateverBytesArrive) {
    sendResult_ = 0;
    Answer([](std::uint32_t id, const Bytes&) { return ContentAnswer(id, 1); });
    Run(CommandKind::SendPlayContent, "ABC");
    EXPECT_EQ(Log(), (std::vector<std::string>{G("设置播放内容失败"),
                                               G("发送播放内容(设备0001e240): 发送失败")}));
}

TEST_F(EngineTest, ALateAnswerGoesToTheFrameItAnswers) {
    // The first content goes unanswered and is owed its answer; the late
    // "taken" and the refusal of the second arrive together.
    Run(CommandKind::SendPlayContent, "first");
    EXPECT_EQ(Log().back(), G("设置播放内容失败"));
    events_.ClearLog();
    // One answer only: it goes to the owed frame, and the outcome says that
    // this write may have been the one answered.
    Answer([](std::uint32_t id, const Bytes&) { return ContentAnswer(id, 1); });
    Run(CommandKind::SendPlayContent, "again");
    EXPECT_EQ(Log(),
              (std::vector<std::string>{
                  G("注意!设备0001e240的应答已算作之前未应答的命令,本次发送是否收到无法确认"),
                  G("设置播放内容失败")}));
    events_.ClearLog();
    Answer([](std::uint32_t id, const Bytes&) {
        Bytes both = ContentAnswer(id, 1);
        const Bytes refusal = ContentAnswer(id, 0);
        both.insert(both.end(), refusal.begin(), refusal.end());
        return both;
    });
    Run(CommandKind::SendPlayContent, "second");
    EXPECT_EQ(Log(), std::vector<std::string>{G("设置播放内容失败")});

    // A long-form answer that names another piece is no answer to this one.
    // Each job stamps its frames with its own second.
    EngineTiming timing;
    auto second = std::make_shared<std::uint8_t>(0);
    timing.localTime = [second] { return FrameTimestamp{0xEA, 12, 8, 9, 30, ++*second}; };
    Build(timing);
    events_.ClearLog();
    Answer([](std::uint32_t id, const Bytes& sent) {
        CCmdDataObj request = Request(sent);
        ++request.frameIndex;
        return ContentAnswer(id, 1, &request);
    });
    Run(CommandKind::SendPlayContent, std::string(2500, 'x'));
    EXPECT_EQ(Log().back(), G("设置播放内容失败"));
    events_.ClearLog();
    Answer([](std::uint32_t id, const Bytes& sent) {
        const CCmdDataObj request = Request(sent);
        return ContentAnswer(id, 1, &request);
    });
    Run(CommandKind::SendPlayContent, std::string(2500, 'y'));
    EXPECT_EQ(Log(), std::vector<std::string>{G("设置播放内容成功")});
}

TEST_F(EngineTest, BytesKeptForAnOwedAnswerGoWhenItFallsDue) {
    EngineTiming timing;
    timing.framePollInterval = 1ms;
    timing.framePolls = 500;  // owed for 0.5 s
    Build(timing);
    Run(CommandKind::StopMp3);
    EXPECT_EQ(engine_->WatchedTerminals(), 1u);  // its late answer may still come
    EXPECT_TRUE(Eventually([&] { return engine_->WatchedTerminals() == 0; }));
}

TEST_F(EngineTest, ANewConnectionEndsTheConversation) {
    // The terminal registers again after taking the first of three pieces.
    std::mutex lock;
    std::uint32_t login = 100;
    connections_ = [&](ConnectionMap& out) {
        std::lock_guard guard(lock);
        out = {{kId, login}};
    };
    Build();
    Answer([&](std::uint32_t id, const Bytes&) {
        std::lock_guard guard(lock);
        ++login;
        return ContentAnswer(id, 1);
    });
    Run(CommandKind::SendPlayContent, std::string(2500, 'z'));
    EXPECT_LE(Sent().size(), 2u);
    EXPECT_EQ(Log(), (std::vector<std::string>{G("设置播放内容失败"),
                                               G("发送播放内容(设备0001e240): 连接中断")}));
}

// Holds the worker in its polls until released.
struct Hold {
    EngineTiming Timing() {
        EngineTiming timing;
        timing.sleep = [this](std::chrono::milliseconds) {
            ++polls;
            while (held) std::this_thread::yield();
        };
        return timing;
    }
    std::atomic<bool> held{true};
    std::atomic<int> polls{0};
};

TEST_F(EngineTest, StoppingTheServiceEndsTheJobAtOnce) {
    Hold hold;
    Build(hold.Timing());
    ASSERT_TRUE(Submit(CommandKind::StopMp3));
    ASSERT_TRUE(Eventually([&] { return hold.polls > 0; }));
    engine_->ServiceStopped();
    hold.held = false;
    ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
    EXPECT_EQ(hold.polls, 1);
    EXPECT_EQ(Log(), (std::vector<std::string>{G("设置停止播放mp3失败"),
                                               G("停止MP3(设备0001e240): 已发送未确认")}));
}

TEST_F(EngineTest, TheWindowNeverWaitsOnASaveInProgress) {
    Hold hold;
    Build(hold.Timing());
    engine_->AdoptSettings({}, kId);
    grid_.Set(1, 1, "new text");
    ASSERT_TRUE(Submit(CommandKind::SaveSettings));
    ASSERT_TRUE(Eventually([&] { return hold.polls > 0; }));  // awaiting the terminal's OK
    auto window = std::async(std::launch::async, [&] {
        const auto lock = engine_->LockSettings();
        return engine_->PagesHold(kId);
    });
    EXPECT_EQ(window.wait_for(5s), std::future_status::ready);
    hold.held = false;
    EXPECT_TRUE(window.get());
    ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
}

}  // namespace
}  // namespace pelmora::testing
