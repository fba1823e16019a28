// A command engine wired to a scripted terminal and fake window parts. The
// polls do not sleep, so a job that waits for the whole poll limit ends at
// once. The terminal's answers reach the engine through its packet intake,
// as the window's would. Engine texts are GBK; tests write them in UTF-8 and
// convert with G().
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "CmdDataObj.h"
#include "CommandEngine.h"
#include "GbkCodec.h"

namespace pelmora::testing {

inline std::string G(const std::string& utf8) {
    return Utf8ToGbk(utf8).value();
}

inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class FakeEvents final : public IEngineEvents {
  public:
    void PostLog(std::string line) override {
        std::lock_guard guard(lock);
        log.push_back(std::move(line));
    }
    void SettingsArrived() override {
        std::lock_guard guard(lock);
        ++settingsArrived;
    }
    void NumbersAdded(ListChangeNotice n) override { Notice("added", std::move(n)); }
    void NumbersDeleted(ListChangeNotice n) override { Notice("deleted", std::move(n)); }
    void NumberListReset(ListChangeNotice n) override { Notice("reset", std::move(n)); }

    std::vector<std::string> Log() const {
        std::lock_guard guard(lock);
        return log;
    }
    void ClearLog() {
        std::lock_guard guard(lock);
        log.clear();
    }

    struct Entry {
        std::string what;
        ListChangeNotice notice;
    };
    mutable std::mutex lock;
    std::vector<std::string> log;
    std::vector<Entry> notices;
    int settingsArrived = 0;

  private:
    void Notice(const char* what, ListChangeNotice n) {
        std::lock_guard guard(lock);
        notices.push_back({what, std::move(n)});
    }
};

class FakeDevices final : public IDeviceList {
  public:
    struct Row {
        bool checked;
        std::string id;
        std::string online;
        std::string power;
    };
    int RowCount() const override { return static_cast<int>(rows.size()); }
    bool IsChecked(int r) const override { return rows[r].checked; }
    std::string IdText(int r) const override { return rows[r].id; }
    std::string OnlineText(int r) const override { return rows[r].online; }
    int FindRow(const std::string& id) const override {
        for (int r = 0; r < RowCount(); ++r) {
            if (rows[r].id == id) return r;
        }
        return -1;
    }
    void SetPowerText(int r, const std::string& text) override { rows[r].power = text; }

    std::vector<Row> rows;
};

// Cells by (row, column); an unset cell reads empty.
class FakeGrid final : public ISettingsGrid {
  public:
    std::optional<std::string> CellText(int row, int column) override {
        std::lock_guard guard(lock);
        if (unsendable.count({row, column}) != 0) return std::nullopt;
        return cells[{row, column}];
    }
    std::string CellLabel(int row, int column) override {
        return "row " + std::to_string(row) + "/" + std::to_string(column);
    }
    void Set(int row, int column, const std::string& text) {
        std::lock_guard guard(lock);
        cells[{row, column}] = text;
    }
    std::mutex lock;
    std::map<std::pair<int, int>, std::string> cells;
    std::set<std::pair<int, int>> unsendable;
};

class FakePrompt final : public IPrompt {
  public:
    void ShowMessage(const std::string& text) override {
        std::lock_guard guard(lock);
        shown.push_back(text);
    }
    std::vector<std::string> Shown() {
        std::lock_guard guard(lock);
        return shown;
    }
    std::mutex lock;
    std::vector<std::string> shown;
};

// A terminal played by the test: it records every message the engine sends
// and answers through `answer`, whose result lands in the reply buffer as the
// packet intake would put it there.
class EngineTest : public ::testing::Test {
  protected:
    using Bytes = std::vector<std::uint8_t>;
    static constexpr std::uint32_t kId = 0x0001E240;

    void SetUp() override { Build(); }
    void TearDown() override { engine_.reset(); }

    void Build(EngineTiming timing = {}, bool startWorker = true) {
        engine_.reset();
        if (!timing.sleep)
            timing.sleep = [](std::chrono::milliseconds) { std::this_thread::yield(); };
        if (!timing.localTime)
            timing.localTime = [] { return FrameTimestamp{0xEA, 12, 8, 9, 30, 0}; };
        LinkApi link;
        link.sendData = [this](std::uint32_t id, std::uint16_t length, const std::uint8_t* data) {
            Bytes message(data, data + length);
            Bytes reply;
            {
                std::lock_guard guard(lock_);
                sent_.push_back(message);
                if (answer_) reply = answer_(id, message);
            }
            // Through the raw pointer: while the engine is being destroyed the
            // worker may still be sending, and engine_ already reads null.
            if (!reply.empty()) raw_->IntakePacket(id, reply.data(), reply.size(), noRows_);
            return sendResult_.load();
        };
        link.connections = connections_;
        engine_ = std::make_unique<CommandEngine>(link, events_, timing);
        raw_ = engine_.get();
        engine_->SetSettingsGrid(&grid_);
        engine_->SetPrompt(&prompt_);
        if (startWorker) engine_->StartWorker();
    }

    // The terminal sends bytes of its own accord.
    void Deliver(const Bytes& bytes, std::uint32_t id = kId) {
        engine_->IntakePacket(id, bytes.data(), bytes.size(), noRows_);
    }
    void Deliver(const std::string& text, std::uint32_t id = kId) {
        Deliver(Bytes(text.begin(), text.end()), id);
    }

    // Submits a job as a page would and waits until it ended.
    bool Submit(CommandKind kind, std::string text = {}, std::uint32_t id = kId) {
        auto job = std::make_unique<CommandJob>();
        job->kind = static_cast<std::int32_t>(kind);
        job->deviceId = id;
        job->text = std::move(text);
        return engine_->SubmitIfIdle(std::move(job)) == CommandEngine::Submitted::Queued;
    }

    void Answer(std::function<Bytes(std::uint32_t, const Bytes&)> answer) {
        std::lock_guard guard(lock_);
        answer_ = std::move(answer);
    }
    void AnswerText(const std::string& reply) {
        Answer([reply](std::uint32_t, const Bytes&) { return Bytes(reply.begin(), reply.end()); });
    }

    // Runs one job to its end.
    void Run(CommandKind kind, std::string text = {}, std::uint32_t id = kId) {
        ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
        ASSERT_TRUE(Submit(kind, std::move(text), id));
        ASSERT_TRUE(Eventually([&] { return engine_->Idle(); }));
    }

    std::vector<Bytes> Sent() {
        std::lock_guard guard(lock_);
        return sent_;
    }
    std::vector<std::string> SentLines() {
        std::vector<std::string> lines;
        for (const Bytes& b : Sent()) lines.emplace_back(b.begin(), b.end());
        return lines;
    }
    // The log without the intake's lines of received messages ("0001e240:OK").
    std::vector<std::string> Log() {
        std::vector<std::string> lines;
        for (std::string& line : events_.Log()) {
            std::uint32_t id = 0;
            if (line.size() > 8 && line[8] == ':' && ParseDeviceId(line, id)) continue;
            lines.push_back(std::move(line));
        }
        return lines;
    }

    FakeEvents events_;
    FakeGrid grid_;
    FakePrompt prompt_;
    std::unique_ptr<CommandEngine> engine_;
    CommandEngine* raw_ = nullptr;

    std::atomic<int> sendResult_{1};
    // When set, the link tells each terminal's connection (see LinkApi).
    std::function<void(ConnectionMap&)> connections_;

  private:
    FakeDevices noRows_;
    std::mutex lock_;
    std::vector<Bytes> sent_;
    std::function<Bytes(std::uint32_t, const Bytes&)> answer_;
};

}  // namespace pelmora::testing
