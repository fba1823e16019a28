#include "Conversations.h"

#include <ctime>

#include "CommandTexts.h"
#include "ControlJobs.h"
#include "EngineTiming.h"
#include "SaveSequence.h"
#include "SettingsParser.h"

namespace pelmora {

namespace {

std::vector<std::uint8_t> LineBytes(const std::string& line) {
    return std::vector<std::uint8_t>(line.begin(), line.end());
}

int ListKindOf(CommandKind kind) {
    switch (kind) {
        case CommandKind::AddAdminNumbers:
        case CommandKind::ResetAdminNumbers:
        case CommandKind::DeleteAdminNumbers:
            return 1;
        case CommandKind::AddAuthorizeNumbers:
        case CommandKind::ResetAuthorizeNumbers:
        case CommandKind::DeleteAuthorizeNumbers:
            return 2;
        default:
            return 3;
    }
}

// "AT+SHOW\r", then the report up to its "OK".
class ReadSettingsConversation final : public Conversation {
  public:
    explicit ReadSettingsConversation(std::uint32_t deviceId) : deviceId_(deviceId) {}

    std::optional<Exchange> Next(ConversationContext& context, const ExchangeEnd* last) override {
        if (last == nullptr) {
            Exchange exchange = TextExchange(context.Timing(), text::kReadSettingsLine);
            exchange.awaits = Awaits::Report;
            return exchange;
        }
        if (last->verdict != Verdict::Answered) {
            context.Log(text::kSettingsTimeout);
            outcome_ = OutcomeOf(last->verdict);
            return std::nullopt;
        }
        // Parsed into a cleared record, so a report that stops early leaves
        // empty fields, never another terminal's values.
        auto fresh = std::make_unique<AlarmSettings>();
        const bool complete = ParseSettingsReport(last->reply, *fresh);
        context.AdoptReport(std::move(*fresh), deviceId_, complete);
        if (!complete) context.Log(WithText(text::kSettingsIncomplete, DeviceIdText(deviceId_)));
        // The pages are refilled even when the parse stopped early: they show
        // what was read.
        context.Events().SettingsArrived();
        outcome_ = GroupOutcome::Succeeded;
        return std::nullopt;
    }

  private:
    std::uint32_t deviceId_;
};

// One number-list line, answered "OK" or "ERROR".
class NumberListConversation final : public Conversation {
  public:
    NumberListConversation(CommandKind kind, std::uint32_t deviceId, std::string line)
        : kind_(kind), deviceId_(deviceId), line_(std::move(line)) {}

    std::optional<Exchange> Next(ConversationContext& context, const ExchangeEnd* last) override {
        const ListTexts* texts = ListTextsFor(kind_);
        if (last == nullptr) {
            // The pages' lists are the read-back of one terminal; a change for
            // any other would make them lie about it.
            if (texts == nullptr || !context.CheckPagesHold(deviceId_)) {
                outcome_ = GroupOutcome::Cancelled;
                return std::nullopt;
            }
            return TextExchange(context.Timing(), line_);
        }
        const bool isAdd = kind_ == CommandKind::AddAdminNumbers ||
                           kind_ == CommandKind::AddAuthorizeNumbers ||
                           kind_ == CommandKind::AddBackupNumbers;
        const bool isReset = kind_ == CommandKind::ResetAdminNumbers ||
                             kind_ == CommandKind::ResetAuthorizeNumbers ||
                             kind_ == CommandKind::ResetBackupNumbers;
        if (last->verdict != Verdict::Answered) {
            context.Log(line_);
            context.Log(texts->failure);
            outcome_ = OutcomeOf(last->verdict);
            return std::nullopt;
        }
        outcome_ = GroupOutcome::Succeeded;
        ListChangeNotice notice;
        notice.listKind = ListKindOf(kind_);
        notice.deviceId = deviceId_;
        if (!isReset) notice.commandText = line_;
        if (isAdd) {
            context.Events().NumbersAdded(std::move(notice));
        } else if (isReset) {
            context.Events().NumberListReset(std::move(notice));
            context.Log(texts->success);
        } else {
            context.Events().NumbersDeleted(std::move(notice));
            context.Log(line_);
            context.Log(texts->success);
        }
        return std::nullopt;
    }

  private:
    CommandKind kind_;
    std::uint32_t deviceId_;
    std::string line_;
};

// A control frame and its answer; play content in pieces, one exchange each.
class ControlConversation final : public Conversation {
  public:
    ControlConversation(std::uint32_t deviceId, std::shared_ptr<const ControlPlan> plan)
        : deviceId_(deviceId), plan_(std::move(plan)) {}

    std::uint16_t PiecesDone() const override { return piecesDone_; }

    std::optional<Exchange> Next(ConversationContext& context, const ExchangeEnd* last) override {
        if (last == nullptr) return Piece(context);
        const JobTexts& texts = *TextsFor(plan_->kind);
        const bool single = !plan_->group;
        const bool inPieces = plan_->kind == CommandKind::SendPlayContent &&
                              plan_->content.size() >= kPlayContentPiece;
        switch (last->verdict) {
            case Verdict::Answered:
                ++piecesDone_;
                if (plan_->kind == CommandKind::ReadVersion) ShowVersions(context, last->answer);
                break;
            case Verdict::Refused:
            case Verdict::TimedOut:
                if (failed_ != GroupOutcome::Refused) failed_ = OutcomeOf(last->verdict);
                // A single terminal is sent every piece, each failure logged. A
                // group member gets no further piece: more pieces cannot make a
                // failed terminal a success.
                if (single && inPieces) {
                    context.Log(texts.refused);
                    break;
                }
                if (single)
                    context.Log(last->verdict == Verdict::Refused ? texts.refused : texts.timedOut);
                outcome_ = failed_;
                return std::nullopt;
            default:
                if (single) context.Log(texts.timedOut);
                outcome_ = OutcomeOf(last->verdict);
                return std::nullopt;
        }
        if (++piece_ < plan_->pieces) return Piece(context);
        // Done only when the terminal took every piece: a false success is the
        // worst outcome an early-warning broadcast can have.
        outcome_ = failed_ == GroupOutcome::Waiting ? GroupOutcome::Succeeded : failed_;
        if (single) {
            if (outcome_ == GroupOutcome::Succeeded) {
                context.Log(texts.success);
            } else {
                context.Log(texts.refused);
            }
        }
        return std::nullopt;
    }

  private:
    Exchange Piece(ConversationContext& context) const {
        Exchange exchange;
        exchange.awaits = Awaits::Frame;
        exchange.request = plan_->request;
        exchange.stamp = plan_->stamp;
        exchange.interval = context.Timing().framePollInterval;
        exchange.polls = context.Timing().framePolls;
        const bool longForm = plan_->kind == CommandKind::SendPlayContent && plan_->pieces > 1;
        exchange.frameCount = longForm ? static_cast<std::int32_t>(plan_->pieces) : 1;
        exchange.frameIndex = longForm ? static_cast<std::int32_t>(piece_ + 1) : 0;
        exchange.make = [plan = plan_, id = deviceId_, piece = piece_] {
            if (plan->kind == CommandKind::SendPlayContent)
                return PlayContentFrame(id, plan->content, piece, plan->stamp);
            return ControlFrame(id, *plan->request, plan->payload, plan->stamp);
        };
        return exchange;
    }

    void ShowVersions(ConversationContext& context, const CCmdDataObj& answer) {
        auto [software, boot] = VersionTexts(answer);
        if (plan_->group) {
            detail_ = FillLine(text::kGroupVersions, {software, boot});
            versions_.emplace(std::move(software), std::move(boot));
        } else if (context.VersionView() != nullptr) {
            context.VersionView()->ShowVersions(software, boot);
        }
    }

    std::uint32_t deviceId_;
    std::shared_ptr<const ControlPlan> plan_;
    std::size_t piece_ = 0;
    std::uint16_t piecesDone_ = 0;
    GroupOutcome failed_ = GroupOutcome::Waiting;
};

}  // namespace

GroupOutcome OutcomeOf(Verdict verdict) {
    switch (verdict) {
        case Verdict::Answered:
            return GroupOutcome::Succeeded;
        case Verdict::Refused:
            return GroupOutcome::Refused;
        case Verdict::TimedOut:
            return GroupOutcome::TimedOut;
        case Verdict::SendFailed:
            return GroupOutcome::SendFailed;
        case Verdict::ConnectionLost:
            return GroupOutcome::ConnectionLost;
        case Verdict::Unconfirmed:
            return GroupOutcome::Unconfirmed;
        case Verdict::Cancelled:
            return GroupOutcome::Cancelled;
        case Verdict::ServiceStopped:
            break;
    }
    return GroupOutcome::ServiceStopped;
}

bool Interrupts(Verdict verdict) {
    return verdict != Verdict::Answered && verdict != Verdict::Refused &&
           verdict != Verdict::TimedOut;
}

Exchange TextExchange(const EngineTiming& timing, std::string line) {
    Exchange exchange;
    exchange.awaits = Awaits::OkOrError;
    exchange.interval = timing.textPollInterval;
    exchange.polls = timing.textPolls;
    exchange.make = [bytes = LineBytes(line)] { return bytes; };
    return exchange;
}

std::shared_ptr<const ControlPlan> PlanControl(ConversationContext& context, CommandKind kind,
                                               const std::string& text, bool group) {
    auto plan = std::make_shared<ControlPlan>();
    plan->kind = kind;
    plan->request = RequestFor(kind);
    plan->group = group;
    const char* name = GroupKindName(kind);
    if (plan->request == nullptr) {
        if (group) context.Log(text::kGroupNotAGroupKind);
        return nullptr;
    }
    // Every frame of one job carries the same time: when the job started.
    plan->stamp = context.Timing().localTime();
    if (kind == CommandKind::SendPlayContent) {
        plan->content = text;
        plan->pieces = PlayContentPieces(text.size());
        if (plan->pieces > kMaxPlayContentPieces) {
            if (group) {
                context.Log(
                    FillLine(text::kGroupContentRefused,
                             {name, std::to_string(kMaxPlayContentPieces * kPlayContentPiece)}));
            } else {
                context.Log(PlayContentTooLongLine());
                context.Log(TextsFor(kind)->refused);
            }
            return nullptr;
        }
        return plan;
    }
    // The upgrade form is read once, for every terminal of the job alike.
    auto payload = ControlPayload(kind, text, context.UpgradeForm());
    if (!payload) {
        context.Log(group ? FillLine(text::kGroupUpgradeRefused, {name})
                          : std::string(TextsFor(kind)->notQueued));
        return nullptr;
    }
    plan->payload = std::move(*payload);
    return plan;
}

std::unique_ptr<Conversation> MakeConversation(CommandKind kind, std::uint32_t deviceId,
                                               const std::string& text,
                                               std::shared_ptr<const ControlPlan> plan) {
    if (plan) return std::make_unique<ControlConversation>(deviceId, std::move(plan));
    switch (kind) {
        case CommandKind::ReadSettings:
            return std::make_unique<ReadSettingsConversation>(deviceId);
        case CommandKind::SaveSettings:
            return MakeSaveConversation(deviceId);
        default:
            break;
    }
    if (ListTextsFor(kind) != nullptr)
        return std::make_unique<NumberListConversation>(kind, deviceId, text);
    return nullptr;
}

}  // namespace pelmora
