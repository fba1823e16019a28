// Control jobs: a request frame to the terminal, then its answer frame looked
// for in the terminal's reply stream, every poll interval up to the poll limit.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "CommandJob.h"
#include "EngineUi.h"

namespace pelmora {

class CommandEngine;

inline constexpr std::size_t kUpgradePayloadSize = 94;
inline constexpr std::size_t kPlayContentPiece = 1024;
// A long-form frame numbers its pieces in one byte each for count and index,
// so longer content is refused rather than sent with wrapped numbers.
inline constexpr std::size_t kMaxPlayContentPieces = 255;

// Runs one job of the kinds PlayMp3 to RestartDevice on the worker thread.
void RunControlJob(CommandEngine& engine, const CommandJob& job);

// The 94-byte upgrade parameter block; empty when a text is longer than its
// field (address 20, port 5, version 40 bytes) or a list has no selection:
// such parameters are refused rather than cut or sent as 0xFF.
std::optional<std::array<std::uint8_t, kUpgradePayloadSize>> BuildUpgradePayload(
    const UpgradeForm& form);

}  // namespace pelmora
