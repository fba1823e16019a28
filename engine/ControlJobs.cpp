#include "ControlJobs.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "SaveSequence.h"

namespace pelmora {

namespace {

// Cancelled: the operator ended the job, which then logs its failure line;
// Stopped: the engine is going away, and nothing more is logged.
enum class Outcome { Answered, Refused, TimedOut, Cancelled, Stopped };

bool ResultZero(int result) {
    return result == 0;
}
bool ResultZeroOrTwo(int result) {
    return result == 0 || result == 2;
}

constexpr std::size_t kFrameCapacity = 512;
constexpr std::size_t kContentCapacity = 2048;

const ControlRequest kPlayMp3{kPlayMp3Request, kPlayMp3Answer, AnswerForm::Result, ResultZero,
                              kFrameCapacity};
const ControlRequest kStopMp3{kStopMp3Request, kStopMp3Answer, AnswerForm::Result, ResultZero,
                              kFrameCapacity};
const ControlRequest kPlayContent{kPlayContentRequest, kPlayContentAnswer, AnswerForm::Result,
                                  ResultZero, kContentCapacity};
const ControlRequest kUpgrade{kUpgradeRequest, kUpgradeAnswer, AnswerForm::Result, ResultZeroOrTwo,
                              kFrameCapacity};
const ControlRequest kVersion{kVersionRequest, kVersionAnswer, AnswerForm::Version, nullptr,
                              kFrameCapacity};
const ControlRequest kRestart{kRestartRequest, kRestartAnswer, AnswerForm::Header, nullptr,
                              kFrameCapacity};

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

// Sends one frame and waits for its answer. The reply buffer is read as a
// stream: an answer split over two receives, or arriving together with a
// status message, is still found.
Outcome SendAndAwait(CommandEngine& engine, std::uint32_t deviceId, const ControlRequest& request,
                     const std::vector<std::uint8_t>& frame, CCmdDataObj* answerOut) {
    engine.Replies().Reset(deviceId);  // before sending: a quick answer must not be wiped
    engine.SendBytes(deviceId, frame.data(), frame.size());
    FrameStream stream;
    for (int poll = 0; poll < engine.Timing().framePolls; ++poll) {
        if (!engine.Pause(engine.Timing().framePollInterval))
            return engine.Cancelled() ? Outcome::Cancelled : Outcome::Stopped;
        const std::vector<std::uint8_t> bytes = engine.Replies().Take(deviceId);
        stream.Append(bytes.data(), bytes.size());
        switch (ReadAnswer(stream, deviceId, request, answerOut)) {
            case AnswerVerdict::Answered:
                return Outcome::Answered;
            case AnswerVerdict::Refused:
                return Outcome::Refused;
            case AnswerVerdict::None:
                break;
        }
    }
    return Outcome::TimedOut;
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
        case Outcome::Cancelled:
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
    const std::size_t total = job.text.size();
    if (total < kPlayContentPiece) {
        LogOutcome(engine, texts,
                   SendAndAwait(engine, job.deviceId, kPlayContent,
                                PlayContentFrame(job.deviceId, job.text, 0, stamp), nullptr));
        return;
    }
    // Longer texts go in 1024-byte pieces. The broadcast counts as done only
    // when the terminal took every piece: a false success is the worst outcome
    // an early-warning broadcast can have.
    const std::size_t pieces = PlayContentPieces(total);
    if (pieces > kMaxPlayContentPieces) {
        engine.PostWorkerLog(PlayContentTooLongLine());
        engine.PostWorkerLog(texts.refused);
        return;
    }
    bool allTaken = true;
    for (std::size_t i = 0; i < pieces; ++i) {
        const Outcome outcome =
            SendAndAwait(engine, job.deviceId, kPlayContent,
                         PlayContentFrame(job.deviceId, job.text, i, stamp), nullptr);
        if (outcome == Outcome::Stopped) return;
        if (outcome == Outcome::Cancelled) {
            allTaken = false;
            break;
        }
        if (outcome != Outcome::Answered) {
            engine.PostWorkerLog(texts.refused);
            allTaken = false;
        }
    }
    engine.PostWorkerLog(allTaken ? texts.success : texts.refused);
}

}  // namespace

const ControlRequest* RequestFor(CommandKind kind) {
    switch (kind) {
        case CommandKind::PlayMp3:
            return &kPlayMp3;
        case CommandKind::StopMp3:
            return &kStopMp3;
        case CommandKind::SendPlayContent:
            return &kPlayContent;
        case CommandKind::SendUpgradeParams:
            return &kUpgrade;
        case CommandKind::ReadVersion:
            return &kVersion;
        case CommandKind::RestartDevice:
            return &kRestart;
        default:
            return nullptr;
    }
}

AnswerVerdict ReadAnswer(FrameStream& stream, std::uint32_t deviceId, const ControlRequest& request,
                         CCmdDataObj* answerOut) {
    while (auto candidate = stream.Next()) {
        CCmdDataObj answer;
        int result = -1;
        switch (request.form) {
            case AnswerForm::Result:
                result = answer.UnpackResult(candidate->data(), candidate->size());
                break;
            case AnswerForm::Header:
                result = answer.UnpackHeader(candidate->data(), candidate->size());
                break;
            case AnswerForm::Version:
                result = answer.UnpackVersion(candidate->data(), candidate->size());
                break;
        }
        if (result == -1) continue;  // refused by the unpack operation
        // Status messages and other terminals' frames do not end the wait.
        if (answer.deviceId != deviceId || answer.command != request.answer) continue;
        if (request.refusal != nullptr && request.refusal(result)) return AnswerVerdict::Refused;
        if (answerOut != nullptr) *answerOut = answer;
        return AnswerVerdict::Answered;
    }
    return AnswerVerdict::None;
}

std::optional<std::vector<std::uint8_t>> ControlPayload(CommandKind kind, const std::string& text,
                                                        IUpgradeForm* page) {
    switch (kind) {
        case CommandKind::PlayMp3:
            return std::vector<std::uint8_t>(
                text.begin(),
                text.begin() + static_cast<long>(std::min<std::size_t>(5, text.size())));
        case CommandKind::SendUpgradeParams: {
            const auto block =
                page != nullptr ? BuildUpgradePayload(page->ReadUpgradeForm()) : std::nullopt;
            if (!block) return std::nullopt;
            return std::vector<std::uint8_t>(block->begin(), block->end());
        }
        default:
            return std::vector<std::uint8_t>();
    }
}

std::vector<std::uint8_t> ControlFrame(std::uint32_t deviceId, const ControlRequest& request,
                                       const std::vector<std::uint8_t>& payload,
                                       const FrameTimestamp& stamp) {
    return Frame(deviceId, request.command, payload.data(), payload.size(), 1, 0, stamp,
                 request.capacity);
}

std::size_t PlayContentPieces(std::size_t length) {
    if (length < kPlayContentPiece) return 1;
    return (length + kPlayContentPiece - 1) / kPlayContentPiece;
}

std::vector<std::uint8_t> PlayContentFrame(std::uint32_t deviceId, const std::string& content,
                                           std::size_t index, const FrameTimestamp& stamp) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
    if (content.size() < kPlayContentPiece) {
        return Frame(deviceId, kPlayContentRequest, bytes, content.size(), 1, 0, stamp,
                     kContentCapacity);
    }
    const std::size_t offset = index * kPlayContentPiece;
    const std::size_t length = std::min(kPlayContentPiece, content.size() - offset);
    return Frame(deviceId, kPlayContentRequest, bytes + offset, length,
                 static_cast<std::int32_t>(PlayContentPieces(content.size())),
                 static_cast<std::int32_t>(index + 1), stamp, kContentCapacity);
}

std::string PlayContentTooLongLine() {
    return FormatCommand(text::kPlayContentTooLong,
                         static_cast<long long>(kMaxPlayContentPieces * kPlayContentPiece));
}

std::pair<std::string, std::string> VersionTexts(const CCmdDataObj& answer) {
    return {FieldText(answer.payload.data(), 40), FieldText(answer.payload.data() + 40, 40)};
}

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
    const ControlRequest* request = RequestFor(kind);
    if (request == nullptr) return;
    const FrameTimestamp stamp = engine.Timing().localTime();
    if (kind == CommandKind::SendPlayContent) {
        PlayContent(engine, job, stamp);
        return;
    }
    const auto payload = ControlPayload(kind, job.text, engine.UpgradeFormSource());
    if (!payload) {
        engine.PostWorkerLog(texts.notQueued);  // nothing is sent
        return;
    }
    CCmdDataObj answer;
    const Outcome outcome =
        SendAndAwait(engine, job.deviceId, *request,
                     ControlFrame(job.deviceId, *request, *payload, stamp), &answer);
    if (kind == CommandKind::ReadVersion && outcome == Outcome::Answered &&
        engine.VersionView() != nullptr) {
        const auto [software, boot] = VersionTexts(answer);
        engine.VersionView()->ShowVersions(software, boot);
    }
    LogOutcome(engine, texts, outcome);
}

}  // namespace pelmora
