// A terminal server on an ephemeral loopback port with simulated terminals,
// a settable clock and counters on every hook.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TerminalSimulator.h"
#include "UserServer.h"

namespace dovrik::testing {

class CountingServer final : public CUserServer {
  public:
    ~CountingServer() override { StopService(); }

    void OnConnectionOpened(const ConnectionPtr& c, IoBuffer* b) override {
        ++opened;
        CUserServer::OnConnectionOpened(c, b);
    }
    void OnConnectionClosed(const ConnectionPtr& c, IoBuffer* b) override {
        ++closed;
        CUserServer::OnConnectionClosed(c, b);
    }
    void OnConnectionFailed(const ConnectionPtr& c, IoBuffer* b, int e) override {
        ++failed;
        CUserServer::OnConnectionFailed(c, b, e);
    }
    void OnReadDone(const ConnectionPtr& c, IoBuffer* b) override {
        {
            std::unique_lock lock(holdLock_);
            if (holding_) {
                ++held_;
                holdSignal_.wait(lock, [this] { return !holding_; });
            }
        }
        ++reads;
        CUserServer::OnReadDone(c, b);
    }
    void OnSpareHook(std::uint32_t) override {}

    // Makes every OnReadDone wait until released, as a hook stuck on a lock
    // would, and counts the workers caught in it.
    void HoldReads() {
        std::lock_guard guard(holdLock_);
        holding_ = true;
    }
    void ReleaseReads() {
        {
            std::lock_guard guard(holdLock_);
            holding_ = false;
        }
        holdSignal_.notify_all();
    }
    int HeldReads() const {
        std::lock_guard guard(holdLock_);
        return held_;
    }

    std::atomic<int> opened{0};
    std::atomic<int> closed{0};
    std::atomic<int> failed{0};
    std::atomic<int> reads{0};

  private:
    mutable std::mutex holdLock_;
    std::condition_variable holdSignal_;
    bool holding_ = false;  // guarded by holdLock_
    int held_ = 0;          // guarded by holdLock_
};

inline sim::TerminalSpec Terminal(std::uint32_t id, std::string sim = "13912345678") {
    sim::TerminalSpec setup;
    setup.deviceId = id;
    setup.simNumber = std::move(sim);
    setup.address = {10, 1, 2, static_cast<std::uint8_t>(id)};
    return setup;
}

class ServerTest : public ::testing::Test {
  protected:
    static constexpr std::chrono::seconds kPatience{10};

    void SetUp() override {
        server_.SetTimeSource([this] { return now_.load(); });
        ASSERT_EQ(server_.StartService(0), 1);
        sim_ = MakeSimulator();
    }
    void TearDown() override {
        sim_.reset();
        server_.StopService();
    }

    std::unique_ptr<sim::TerminalSimulator> MakeSimulator() {
        sim::TerminalSimulator::Options options;
        options.port = server_.LocalPort();
        return std::make_unique<sim::TerminalSimulator>(options);
    }

    static bool Eventually(const std::function<bool()>& condition) {
        return sim::TerminalSimulator::WaitUntil(condition, kPatience);
    }

    // Adds a terminal and waits until the server lists it.
    std::size_t Register(std::uint32_t id) {
        const int before = server_.GetModemCount();
        const std::size_t index = sim_->Add(Terminal(id));
        EXPECT_TRUE(Eventually([&] { return Position(id) >= 0; })) << "terminal " << id;
        (void)before;
        return index;
    }

    int Position(std::uint32_t id) const {
        ModemInfo info{};
        for (int i = 0; server_.GetModemByPosition(static_cast<std::uint32_t>(i), &info); ++i) {
            if (info.deviceId == id) return i;
        }
        return -1;
    }

    ModemInfo Info(std::uint32_t id) const {
        ModemInfo info{};
        const int position = Position(id);
        if (position >= 0) server_.GetModemByPosition(static_cast<std::uint32_t>(position), &info);
        return info;
    }

    std::vector<_PACKET> Drain() {
        std::vector<_PACKET> packets;
        _PACKET p;
        while (server_.GetNextData(&p)) packets.push_back(p);
        return packets;
    }

    // Waits for one more message and returns it.
    _PACKET NextPacket() {
        _PACKET p{};
        EXPECT_TRUE(Eventually([&] { return server_.GetNextData(&p) == 1; }));
        return p;
    }

    std::string LastError() const {
        char text[128];
        server_.CopyLastError(text, sizeof text);
        return text;
    }

    static std::vector<std::uint8_t> DataOf(const _PACKET& p) {
        return {p.data, p.data + p.length};
    }

    std::atomic<std::uint32_t> now_{1'700'000'000};
    CountingServer server_;
    std::unique_ptr<sim::TerminalSimulator> sim_;
};

}  // namespace dovrik::testing
