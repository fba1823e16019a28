// Control jobs: a request frame to the terminal, then its answer frame looked
// for in the terminal's reply stream, every poll interval up to the poll limit.
// The pieces below are shared by the single job and the group job, so that a
// terminal's answer means the same to both.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "CmdDataObj.h"
#include "CommandJob.h"
#include "EngineUi.h"

namespace pelmora {

inline constexpr std::size_t kUpgradePayloadSize = 94;
inline constexpr std::size_t kPlayContentPiece = 1024;
// A long-form frame numbers its pieces in one byte each for count and index,
// so longer content is refused rather than sent with wrapped numbers.
inline constexpr std::size_t kMaxPlayContentPieces = 255;

// The 94-byte upgrade parameter block; empty when a text is longer than its
// field (address 20, port 5, version 40 bytes) or a list has no selection:
// such parameters are refused rather than cut or sent as 0xFF.
std::optional<std::array<std::uint8_t, kUpgradePayloadSize>> BuildUpgradePayload(
    const UpgradeForm& form);

// Which unpack operation reads the answer.
enum class AnswerForm { Result, Header, Version };

// What a control kind sends and which answer decides it.
struct ControlRequest {
    std::uint16_t command;
    std::uint16_t answer;
    AnswerForm form;
    bool (*refusal)(int result);  // null: no answer is a refusal
    std::size_t capacity;         // of the buffer the request is packed into
};
// Null for the kinds that are not control jobs.
const ControlRequest* RequestFor(CommandKind kind);

enum class AnswerVerdict { None, Answered, Refused };
// Reads one whole frame as the answer to `request`: it counts only with the
// awaited device ID and answer code, and its result is read in the form the
// answer itself uses. `answer` receives what was read.
AnswerVerdict JudgeFrame(const std::vector<std::uint8_t>& frame, std::uint32_t deviceId,
                         const ControlRequest& request, CCmdDataObj& answer);

// The numbering a long-form frame carries; empty for the short form.
struct FrameEcho {
    std::int32_t count = 1;
    std::int32_t index = 0;
    FrameTimestamp stamp{};
    bool operator==(const FrameEcho&) const = default;
};
std::optional<FrameEcho> EchoOf(const std::vector<std::uint8_t>& frame);

// The payload of a control kind other than play content: the five title
// digits of PlayMp3, the upgrade block read from `page`, or nothing. Empty
// when the upgrade block is refused or there is no page to read it from.
std::optional<std::vector<std::uint8_t>> ControlPayload(CommandKind kind, const std::string& text,
                                                        IUpgradeForm* page);
std::vector<std::uint8_t> ControlFrame(std::uint32_t deviceId, const ControlRequest& request,
                                       const std::vector<std::uint8_t>& payload,
                                       const FrameTimestamp& stamp);

// Play content below 1024 bytes goes as one short frame; longer content in
// 1024-byte pieces numbered in the long form (exactly 1024 bytes: one piece,
// short form).
std::size_t PlayContentPieces(std::size_t length);
// The frame of piece `index` (from 0) of the content.
std::vector<std::uint8_t> PlayContentFrame(std::uint32_t deviceId, const std::string& content,
                                           std::size_t index, const FrameTimestamp& stamp);
// The longest content a job sends: more pieces cannot be numbered.
std::string PlayContentTooLongLine();

// Software and boot version of an accepted version answer (GBK, each up to
// its first zero byte).
std::pair<std::string, std::string> VersionTexts(const CCmdDataObj& answer);

}  // namespace pelmora
