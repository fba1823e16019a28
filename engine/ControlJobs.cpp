#include "ControlJobs.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CmdDataObj.h"
#include "CommandEngine.h"
#include "CommandTexts.h"
#include "SaveSequence.h"

namespace pelmora {

namespace {

enum class Unpack { Result, Header, Version };
enum class Outcome { Answered, Refused, TimedOut, Stopped };

struct Request {
    std::uint16_t command;
    std::uint16_t answer;
    Unpack unpack;
    bool (*refusal)(int result);  // null: no answer is a refusal
};

bool ResultZero(int result) {
    return result == 0;
}
bool ResultZeroOrTwo(int result) {
    return result == 0 || result == 2;
}

// Sends one frame and waits for its answer. The reply buffer is read as a
// stream: an answer split over two receives, or arriving together with a
// status message, is still found; only a frame with the awaited device ID and
// answer code decides the job.
Outcome SendAndAwait(CommandEngine& engine, std::uint32_t deviceId, const Request& request,
                     const std::vector<std::uint8_t>& frame, CCmdDataObj* answerOut) {
    engine.Replies().Reset(deviceId);  // before sending: a quick answer must not be wiped
    engine.SendBytes(deviceId, frame.data(), frame.size());
    FrameStream stream;
    for (int poll = 0; poll < engine.Timing().framePolls; ++poll) {
        if (!engine.Pause(engine.Timing().framePollInterval)) return Outcome::Stopped;
        const std::vector<std::uint8_t> bytes = engine.Replies().Take(deviceId);
        stream.Append(bytes.data(), bytes.size());
        while (auto candidate = stream.Next()) {
            CCmdDataObj answer;
            int result = -1;
            switch (request.unpack) {
                case Unpack::Result:
                    result = answer.UnpackResult(candidate->data(), candidate->size());
                    break;
                case Unpack::Header:
                    result = answer.UnpackHeader(candidate->data(), candidate->size());
                    break;
                case Unpack::Version:
                    result = answer.UnpackVersion(candidate->data(), candidate->size());
                    break;
            }
            if (result == -1) continue;  // refused by the unpack operation
            if (answer.deviceId != deviceId || answer.command != request.answer) continue;
            if (request.refusal != nullptr && request.refusal(result)) return Outcome::Refused;
            if (answerOut != nullptr) *answerOut = answer;
            return Outcome::Answered;
        }
    }
    return Outcome::TimedOut;
}

std::vector<std::uint8_t> Frame(std::uint32_t deviceId, std::uint16_t command,
                                const std::uint8_t* payload, std::size_t length,
                                std::int32_t frameCount, std::int32_t frameIndex,
                                const FrameTimestamp& stamp, std::size_t capacity) {
    CCmdDataObj request;
    request.SetFields(deviceId, command, frameCount, frameIndex, stamp, payload, length);
    std::vector<std::uint8_t> out(capacity);
    out.resize(request.Pack(out.data(), out.size()));
    return out;
}

void LogOutcome(CommandEngine& engine, const JobTexts& texts, Outcome outcome) {
    switch (outcome) {
        case Outcome::Answered:
            engine.PostWorkerLog(texts.success);
            break;
        case Outcome::Refused:
            engine.PostWorkerLog(texts.refused);
            break;
        case Outcome::TimedOut:
            engine.PostWorkerLog(texts.timedOut);
            break;
        case Outcome::Stopped:
            break;
    }
}

// Bytes of a version answer's field: up to the first zero byte.
std::string FieldText(const std::uint8_t* bytes, std::size_t size) {
    const auto* end = std::find(bytes, bytes + size, 0);
    return std::string(bytes, end);
}

void PlayContent(CommandEngine& engine, const CommandJob& job, const FrameTimestamp& stamp) {
    const JobTexts& texts = *TextsFor(CommandKind::SendPlayContent);
    const Request request{kPlayContentRequest, kPlayContentAnswer, Unpack::Result, ResultZero};
    constexpr std::size_t kCapacity = 2048;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(job.text.data());
    const std::size_t total = job.text.size();
    if (total < kPlayContentPiece) {
        LogOutcome(
            engine, texts,
            SendAndAwait(engine, job.deviceId, request,
                         Frame(job.deviceId, request.command, bytes, total, 1, 0, stamp, kCapacity),
                         nullptr));
        return;
    }
    // Longer texts go in 1024-byte pieces. The broadcast counts as done only
    // when the terminal took every piece: a false success is the worst outcome
    // an early-warning broadcast can have.
    const std::size_t pieces = (total + kPlayContentPiece - 1) / kPlayContentPiece;
    if (pieces > kMaxPlayContentPieces) {
        engine.PostWorkerLog(
            FormatCommand(text::kPlayContentTooLong,
                          static_cast<long long>(kMaxPlayContentPieces * kPlayContentPiece)));
        engine.PostWorkerLog(texts.refused);
        return;
    }
    bool allTaken = true;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::size_t offset = i * kPlayContentPiece;
        const std::size_t length = std::min(kPlayContentPiece, total - offset);
        const Outcome outcome =
            SendAndAwait(engine, job.deviceId, request,
                         Frame(job.deviceId, request.command, bytes + offset, length,
                               static_cast<std::int32_t>(pieces), static_cast<std::int32_t>(i + 1),
                               stamp, kCapacity),
                         nullptr);
        if (outcome == Outcome::Stopped) return;
        if (outcome != Outcome::Answered) {
            engine.PostWorkerLog(texts.refused);
            allTaken = false;
        }
    }
    engine.PostWorkerLog(allTaken ? texts.success : texts.refused);
}

}  // namespace

std::optional<std::array<std::uint8_t, kUpgradePayloadSize>> BuildUpgradePayload(
    const UpgradeForm& form) {
    constexpr std::size_t kAddressField = 20, kPortField = 5, kVersionField = 40;
    if (form.serverAddress.size() > kAddressField || form.serverPort.size() > kPortField ||
        form.version.size() > kVersionField) {
        return std::nullopt;
    }
    // A list without a selection would go out as 0xFF option bytes: these
    // parameters make a terminal fetch firmware, so such a block is refused.
    for (int index : {form.fileFormat, form.downloadTime, form.parameterMode, form.downloadContent,
                      form.protocol}) {
        if (index < 0 || index > 1) return std::nullopt;
    }
    std::array<std::uint8_t, kUpgradePayloadSize> p{};
    std::memset(p.data() + 4, ' ', 20);
    std::memset(p.data() + 24, ' ', kAddressField);
    std::memset(p.data() + 44, ' ', kPortField);
    std::memset(p.data() + 50, ' ', kVersionField);
    const auto index = [](int i) { return static_cast<unsigned>(i) & 0xFFu; };
    const unsigned mode = ((((index(form.fileFormat) * 2) | index(form.downloadTime)) * 2 |
                            index(form.parameterMode)) *
                           16) |
                          index(form.downloadContent);
    p[0] = static_cast<std::uint8_t>(mode);
    p[1] = static_cast<std::uint8_t>(index(form.protocol));
    p[2] = 1;
    p[3] = static_cast<std::uint8_t>(CellInteger(form.answerFrames));
    std::memcpy(p.data() + 24, form.serverAddress.data(), form.serverAddress.size());
    std::memcpy(p.data() + 44, form.serverPort.data(), form.serverPort.size());
    p[49] = static_cast<std::uint8_t>(form.version.size());
    std::memcpy(p.data() + 50, form.version.data(), form.version.size());
    return p;
}

void RunControlJob(CommandEngine& engine, const CommandJob& job) {
    const auto kind = static_cast<CommandKind>(job.kind);
    const JobTexts& texts = *TextsFor(kind);
    const FrameTimestamp stamp = engine.Timing().localTime();
    if (kind == CommandKind::SendPlayContent) {
        PlayContent(engine, job, stamp);
        return;
    }
    Request request{};
    std::vector<std::uint8_t> payload;
    switch (kind) {
        case CommandKind::PlayMp3:
            request = {kPlayMp3Request, kPlayMp3Answer, Unpack::Result, ResultZero};
            payload.assign(
                job.text.begin(),
                job.text.begin() + static_cast<long>(std::min<std::size_t>(5, job.text.size())));
            break;
        case CommandKind::StopMp3:
            request = {kStopMp3Request, kStopMp3Answer, Unpack::Result, ResultZero};
            break;
        case CommandKind::RestartDevice:
            request = {kRestartRequest, kRestartAnswer, Unpack::Header, nullptr};
            break;
        case CommandKind::ReadVersion:
            request = {kVersionRequest, kVersionAnswer, Unpack::Version, nullptr};
            break;
        case CommandKind::SendUpgradeParams: {
            request = {kUpgradeRequest, kUpgradeAnswer, Unpack::Result, ResultZeroOrTwo};
            IUpgradeForm* page = engine.UpgradeFormSource();
            const auto block =
                page != nullptr ? BuildUpgradePayload(page->ReadUpgradeForm()) : std::nullopt;
            if (!block) {
                engine.PostWorkerLog(texts.notQueued);  // nothing is sent
                return;
            }
            payload.assign(block->begin(), block->end());
            break;
        }
        default:
            return;
    }
    constexpr std::size_t kCapacity = 512;
    const std::uint32_t id = job.deviceId;
    CCmdDataObj answer;
    const Outcome outcome = SendAndAwait(
        engine, id, request,
        Frame(id, request.command, payload.data(), payload.size(), 1, 0, stamp, kCapacity),
        &answer);
    if (kind == CommandKind::ReadVersion && outcome == Outcome::Answered &&
        engine.VersionView() != nullptr) {
        engine.VersionView()->ShowVersions(FieldText(answer.payload.data(), 40),
                                           FieldText(answer.payload.data() + 40, 40));
    }
    LogOutcome(engine, texts, outcome);
}

}  // namespace pelmora
