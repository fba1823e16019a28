// A centre for the gateway's tests: counts what it is asked, answers what
// the test sets, and collects the log.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "GatewayServer.h"

namespace pelmora::gateway::testing {

class FakeHandler : public IGatewayHandler {
  public:
    struct Call {
        std::string what;  // "alert", "warning", "get 7", "terminals"
        std::string body;
        std::string source;
    };

    // What PostAlert answers for a body; 202 when unset.
    std::function<HttpAnswer(const std::string& body)> alertAnswer;

    HttpAnswer PostAlert(const std::string& xml, const std::string& source) override {
        Record({"alert", xml, source});
        if (xml == "throw") throw std::runtime_error("the alert broke");
        return alertAnswer ? alertAnswer(xml) : HttpAnswer{202, R"({"id":1})"};
    }
    HttpAnswer PostWarning(const std::string& json, const std::string& source) override {
        Record({"warning", json, source});
        return {201, R"({"id":2})"};
    }
    HttpAnswer GetWarning(std::int64_t id) override {
        Record({"get " + std::to_string(id), {}, {}});
        return {200, R"({"id":)" + std::to_string(id) + "}"};
    }
    HttpAnswer GetTerminals() override {
        Record({"terminals", {}, {}});
        return {200, "[]"};
    }

    std::vector<Call> Calls() {
        std::lock_guard guard(lock_);
        return calls_;
    }
    std::size_t Count() {
        std::lock_guard guard(lock_);
        return calls_.size();
    }

  private:
    void Record(Call call) {
        std::lock_guard guard(lock_);
        calls_.push_back(std::move(call));
    }
    std::mutex lock_;
    std::vector<Call> calls_;
};

class LogLines {
  public:
    std::function<void(const std::string&)> Sink() {
        return [this](const std::string& line) {
            std::lock_guard guard(lock_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> Lines() {
        std::lock_guard guard(lock_);
        return lines_;
    }
    std::size_t Containing(const std::string& part) {
        std::size_t n = 0;
        for (const std::string& line : Lines()) n += line.find(part) != std::string::npos;
        return n;
    }

  private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

}  // namespace pelmora::gateway::testing
