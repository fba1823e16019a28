// Answers still owed to exchanges left unanswered (timed out, cancelled,
// stopped). A terminal answers in order: while such an answer could still
// come (the exchange's answer limit), the terminal's next answer of its kind
// pays it, and only the one after counts for a new write. Worker only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Conversation.h"

namespace pelmora {

class OwedAnswers {
  public:
    using Clock = std::chrono::steady_clock;

    // The exchange went unanswered; false when it awaits nothing that can
    // come late (a pause, a settings report).
    bool Owe(std::uint32_t deviceId, const Exchange& exchange);
    bool Owes(std::uint32_t deviceId);
    // True when `frame`, from the terminal, pays an owed frame: the same
    // answer code, and in the long form the same count, index and timestamp.
    bool PayFrame(std::uint32_t deviceId, const std::vector<std::uint8_t>& frame);
    // Takes "OK" and "ERROR" answers owed to text lines out of the front of
    // `text`, oldest first; true when one was taken.
    bool PayText(std::uint32_t deviceId, std::string& text);
    // Forgets what is past its limit, telling `cleared` of each terminal that
    // owes nothing more; when the next one falls due.
    std::optional<Clock::time_point> Prune(const std::function<void(std::uint32_t)>& cleared);

  private:
    struct Owed {
        Awaits awaits = Awaits::OkOrError;
        std::uint16_t answer = 0;
        std::int32_t count = 1;
        std::int32_t index = 0;
        FrameTimestamp stamp{};
        Clock::time_point until;
    };
    // The terminal's answers still due; null when it owes none.
    std::vector<Owed>* Due(std::uint32_t deviceId);

    std::unordered_map<std::uint32_t, std::vector<Owed>> owed_;
};

}  // namespace pelmora
