#include "ControlJobs.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "CommandTexts.h"
#include "SaveSequence.h"  // CellInteger

namespace pelmora {

namespace {

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

// Bytes of a version answer's field: up to the first zero byte.
std::string FieldText(const std::uint8_t* bytes, std::size_t size) {
    const auto* end = std::find(bytes, bytes + size, 0);
    return std::string(bytes, end);
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

AnswerVerdict JudgeFrame(const std::vector<std::uint8_t>& frame, std::uint32_t deviceId,
                         const ControlRequest& request, CCmdDataObj& answer) {
    int result = -1;
    switch (request.form) {
        case AnswerForm::Result:
            result = answer.UnpackResult(frame.data(), frame.size());
            break;
        case AnswerForm::Header:
            result = answer.UnpackHeader(frame.data(), frame.size());
            break;
        case AnswerForm::Version:
            result = answer.UnpackVersion(frame.data(), frame.size());
            break;
    }
    if (result == -1) return AnswerVerdict::None;  // refused by the unpack operation
    // Status messages and other terminals' frames do not end the wait.
    if (answer.deviceId != deviceId || answer.command != request.answer) return AnswerVerdict::None;
    if (request.refusal != nullptr && request.refusal(result)) return AnswerVerdict::Refused;
    return AnswerVerdict::Answered;
}

std::optional<FrameEcho> EchoOf(const std::vector<std::uint8_t>& frame) {
    if (frame.size() < CCmdDataObj::kLongOverhead || frame[11] != 0 ||
        frame[12] != CCmdDataObj::kLongOptionLength) {
        return std::nullopt;
    }
    FrameEcho echo;
    echo.count = frame[13];
    echo.index = frame[14];
    std::copy(frame.begin() + 15, frame.begin() + 21, echo.stamp.begin());
    return echo;
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

}  // namespace pelmora
