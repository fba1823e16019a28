#include "OwedAnswers.h"

#include <algorithm>
#include <string_view>

#include "CommandTexts.h"
#include "ControlJobs.h"

namespace pelmora {

namespace {

template <class List>
void DropPast(List& list, OwedAnswers::Clock::time_point now) {
    list.erase(
        std::remove_if(list.begin(), list.end(), [now](const auto& o) { return o.until <= now; }),
        list.end());
}

}  // namespace

bool OwedAnswers::Owe(std::uint32_t deviceId, const Exchange& ex) {
    if (ex.awaits != Awaits::Frame && ex.awaits != Awaits::OkOrError) return false;
    Owed owed;
    owed.awaits = ex.awaits;
    owed.answer = ex.request != nullptr ? ex.request->answer : 0;
    owed.count = ex.frameCount;
    owed.index = ex.frameIndex;
    owed.stamp = ex.stamp;
    owed.until = Clock::now() + ex.interval * ex.polls;
    owed_[deviceId].push_back(owed);
    return true;
}

std::vector<OwedAnswers::Owed>* OwedAnswers::Due(std::uint32_t deviceId) {
    const auto it = owed_.find(deviceId);
    if (it == owed_.end()) return nullptr;
    DropPast(it->second, Clock::now());
    return it->second.empty() ? nullptr : &it->second;
}

bool OwedAnswers::Owes(std::uint32_t deviceId) {
    return Due(deviceId) != nullptr;
}

bool OwedAnswers::PayFrame(std::uint32_t deviceId, const std::vector<std::uint8_t>& frame) {
    std::vector<Owed>* owed = Due(deviceId);
    if (owed == nullptr) return false;
    CCmdDataObj header;
    if (header.UnpackHeader(frame.data(), frame.size()) != 1 || header.deviceId != deviceId)
        return false;
    const std::optional<FrameEcho> echo = EchoOf(frame);
    for (auto it = owed->begin(); it != owed->end(); ++it) {
        if (it->awaits != Awaits::Frame || it->answer != header.command) continue;
        // The long form names the frame it answers; the short form is the
        // oldest owed of its kind.
        if (echo && it->count != 1 && !(*echo == FrameEcho{it->count, it->index, it->stamp}))
            continue;
        owed->erase(it);
        return true;
    }
    return false;
}

bool OwedAnswers::PayText(std::uint32_t deviceId, std::string& text) {
    std::vector<Owed>* owed = Due(deviceId);
    if (owed == nullptr) return false;
    bool paid = false;
    for (auto it = owed->begin(); it != owed->end();) {
        if (it->awaits != Awaits::OkOrError) {
            ++it;
            continue;
        }
        const std::size_t ok = text.find(text::kOk);
        const std::size_t error = text.find(text::kError);
        if (ok == std::string::npos && error == std::string::npos) break;
        const std::size_t end = ok < error ? ok + std::string_view(text::kOk).size()
                                           : error + std::string_view(text::kError).size();
        text.erase(0, end);
        it = owed->erase(it);
        paid = true;
    }
    return paid;
}

std::optional<OwedAnswers::Clock::time_point> OwedAnswers::Prune(
    const std::function<void(std::uint32_t)>& cleared) {
    const auto now = Clock::now();
    std::optional<Clock::time_point> next;
    for (auto it = owed_.begin(); it != owed_.end();) {
        DropPast(it->second, now);
        if (it->second.empty()) {
            cleared(it->first);
            it = owed_.erase(it);
            continue;
        }
        for (const Owed& o : it->second) {
            if (!next || o.until < *next) next = o.until;
        }
        ++it;
    }
    return next;
}

}  // namespace pelmora
