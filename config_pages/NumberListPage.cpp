#include "NumberListPage.h"

#include <QByteArray>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "AddPhoneDlg.h"
#include "CommandEngine.h"
#include "CommandTexts.h"
#include "EngineUi.h"
#include "GbkCodec.h"
#include "ReportCtrl.h"

namespace pelmora {

const NumberPageConfig kAdminNumberPage{
    1,
    CommandKind::AddAdminNumbers,
    CommandKind::ResetAdminNumbers,
    CommandKind::DeleteAdminNumbers,
    "AT+LRMADDADMINNO=",
    "AT+LRMSETADMINNO=\r",
    "AT+LRMDELADMINNO=",
    1002,
    1004,
    1005,
    "管理号码设置",
    "管理号码",
    "设置管理号码,清等待...",
    "添加管理号码失败",
    "你将删除管理号:",
    "删除管理号码,清等待...",
    "删除管理号码失败",
    "重置管理号码将使所有号码清除，是否继续？",
    "重置管理号码失败.",
    "管理号码重复",
    "管理号码添加成功",
};

const NumberPageConfig kAuthorizeNumberPage{
    2,
    CommandKind::AddAuthorizeNumbers,
    CommandKind::ResetAuthorizeNumbers,
    CommandKind::DeleteAuthorizeNumbers,
    "AT+LRMADDLRMNO=",
    "AT+LRMSETLRMNO=\r",
    "AT+LRMDELLRMNO=",
    1011,
    1012,
    1013,
    "授权号码设置",
    "授权号码",
    "添加授权号码,清等待...",
    "添加授权号码失败",
    "你将删除授权号:",
    "删除授权号码,清等待...",
    "删除授权号码失败",
    "重置授权号码将使所有号码清除，是否继续？",
    "重置授权号码失败.",
    "授权号码重复",
    "授权号码添加成功",
};

const NumberPageConfig kBackupNumberPage{
    3,
    CommandKind::AddBackupNumbers,
    CommandKind::ResetBackupNumbers,
    CommandKind::DeleteBackupNumbers,
    "AT+LRMADDBKNO=",
    "AT+LRMSETBKNO=\r",
    "AT+LRMDELBKNO=",
    1012,
    1013,
    1005,
    "备份号码设置",
    "备份号码",
    "添加备份号码,清等待...",
    "添加备份号码失败",
    "你将删除备份号:",
    "删除备份号码,清等待...",
    "删除备份号码失败",
    "重置备份号码将使所有号码清除，是否继续？",
    "重置备份号码失败.",
    "备份号码重复",
    "备份号码添加成功",
};

const NumberPageConfig* NumberPageConfigFor(int listKind) {
    switch (listKind) {
        case 1:
            return &kAdminNumberPage;
        case 2:
            return &kAuthorizeNumberPage;
        case 3:
            return &kBackupNumberPage;
        default:
            return nullptr;
    }
}

namespace {

const char* const kRepeatedNumber = "号码重复,添加失败";
const char* const kNothingChecked = "请选择要删除的号码";

// The reply handlers stop at a number this long, so the check refuses to
// send one: the page could never show it.
constexpr std::size_t kNumberLengthBound = 100;

std::string Gbk(const char* utf8) {
    return Utf8ToGbk(utf8).value_or(std::string());
}

// The numbers of a list command after its prefix: one per comma-separated
// piece, the last running to the end (empty pieces included).
std::vector<std::string_view> SplitNumbers(std::string_view numbers) {
    std::vector<std::string_view> pieces;
    for (;;) {
        const auto comma = numbers.find(',');
        pieces.push_back(numbers.substr(0, comma));
        if (comma == std::string_view::npos) return pieces;
        numbers.remove_prefix(comma + 1);
    }
}

// The part of `command` after `prefix` without one final "\r"; false when
// the prefix is missing.
bool NumbersOf(std::string_view command, std::string_view prefix, std::string_view& numbers) {
    const auto at = command.find(prefix);
    if (at == std::string_view::npos) return false;
    numbers = command.substr(at + prefix.size());
    if (!numbers.empty() && numbers.back() == '\r') numbers.remove_suffix(1);
    return true;
}

}  // namespace

CNumberListPage::CNumberListPage(const NumberPageConfig& config, CommandEngine& engine,
                                 const IDeviceList& devices, QWidget* parent)
    : QWidget(parent),
      config_(config),
      engine_(engine),
      devices_(devices),
      list_(new CReportCtrl(this)) {
    list_->setObjectName(QStringLiteral("list1003"));
    list_->SetGridLines(true);
    list_->SetCheckBoxes(true);
    list_->AddColumn(QString::fromUtf8(config_.columnTitle), 180);

    auto makeButton = [this](const char* title, int id) {
        auto* button = new QPushButton(QString::fromUtf8(title), this);
        button->setObjectName(QStringLiteral("button%1").arg(id));
        return button;
    };
    auto* add = makeButton("添加", config_.addButtonId);
    auto* remove = makeButton("删除", config_.deleteButtonId);
    auto* reset = makeButton("重置", config_.resetButtonId);
    connect(add, &QPushButton::clicked, this, &CNumberListPage::OnAddNumber);
    connect(remove, &QPushButton::clicked, this, &CNumberListPage::OnDeleteNumbers);
    connect(reset, &QPushButton::clicked, this, &CNumberListPage::OnResetNumbers);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addWidget(reset);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(buttons);
}

void CNumberListPage::SetConfirm(Confirm confirm) {
    confirm_ = std::move(confirm);
}

void CNumberListPage::SetMessageBox(MessageBox messageBox) {
    messageBox_ = std::move(messageBox);
}

void CNumberListPage::SetNumberEntry(NumberEntry entry) {
    numberEntry_ = std::move(entry);
}

std::string CNumberListPage::RowNumber(int row) const {
    // Rows filled by this page keep the terminal's bytes, which a lossy
    // display text could not give back.
    const QVariant data = list_->ItemData(row);
    if (data.typeId() == QMetaType::QByteArray) return data.toByteArray().toStdString();
    const QString text = list_->Text(row, 0);
    return Utf8ToGbk(text.toStdString()).value_or(std::string());
}

void CNumberListPage::OnAddNumber() {
    CAddPhoneDlg dialog(engine_, this);
    dialog.SetMessageBox(messageBox_);
    const bool accepted = numberEntry_ ? numberEntry_(dialog) : dialog.exec() == QDialog::Accepted;
    if (!accepted) return;

    // The dialog lets only digits and commas through.
    const std::string command =
        config_.addPrefix + dialog.Numbers().toLatin1().toStdString() + "\r";
    if (!CheckNumberList(command, config_.listKind)) {
        LogText(kRepeatedNumber);
        return;
    }
    Submit(config_.addKind, command, config_.addQueued, config_.addNotQueued);
}

void CNumberListPage::OnDeleteNumbers() {
    if (RefusedWhileBusy()) return;
    QString prompt = QString::fromUtf8(config_.deletePrompt);
    std::string command = config_.deletePrefix;
    bool anyChecked = false;
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (!list_->IsChecked(row)) continue;
        prompt += list_->Text(row, 0) + u',';
        command += RowNumber(row) + ',';
        anyChecked = true;
    }
    if (!anyChecked) {
        LogText(kNothingChecked);
        return;
    }
    prompt.chop(1);
    command.back() = '\r';
    if (!Confirmed(prompt)) return;
    Submit(config_.deleteKind, command, config_.deleteQueued, config_.deleteNotQueued);
}

void CNumberListPage::OnResetNumbers() {
    if (RefusedWhileBusy()) return;
    if (!Confirmed(QString::fromUtf8(config_.resetPrompt))) return;
    // The list empties only when the terminal confirms the reset.
    Submit(config_.resetKind, config_.resetCommand, nullptr, config_.resetNotQueued);
}

bool CNumberListPage::RefusedWhileBusy() {
    if (!engine_.Busy()) return false;
    engine_.Log(text::kBusy);
    return true;
}

void CNumberListPage::Submit(CommandKind kind, const std::string& command, const char* queued,
                             const char* notQueued) {
    std::uint32_t deviceId = 0;
    if (!engine_.FindCheckedTerminal(devices_, deviceId)) return;
    if (!engine_.CheckPagesHold(deviceId)) return;
    auto job = std::make_unique<CommandJob>();
    job->kind = static_cast<std::int32_t>(kind);
    job->deviceId = deviceId;
    job->text = command;
    engine_.SubmitLogged(std::move(job), queued ? Gbk(queued) : std::string(), Gbk(notQueued));
}

bool CNumberListPage::CheckNumberList(std::string_view command, int listKind) {
    const NumberPageConfig* config = NumberPageConfigFor(listKind);
    if (config == nullptr) return false;
    std::string_view numbers;
    if (!NumbersOf(command, config->addPrefix, numbers)) return false;
    const std::vector<std::string_view> pieces = SplitNumbers(numbers);
    if (pieces.back().empty()) return false;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i].size() >= kNumberLengthBound) return false;
        if (std::find(pieces.begin(), pieces.begin() + static_cast<std::ptrdiff_t>(i), pieces[i]) !=
            pieces.begin() + static_cast<std::ptrdiff_t>(i)) {
            return false;
        }
    }
    return true;
}

void CNumberListPage::OnNumbersAdded(const ListChangeNotice& notice) {
    if (notice.listKind != config_.listKind) return;
    std::string_view numbers;
    if (!NumbersOf(notice.commandText, config_.addPrefix, numbers)) return;

    const auto lock = engine_.LockSettings();
    NumberList* entries = NumberListOf(engine_.MutableSettings(), config_.listKind);
    for (const std::string_view number : SplitNumbers(numbers)) {
        if (number.size() >= kNumberLengthBound) return;
        // An empty entry reads as a free one: there is nothing to keep.
        if (number.empty()) continue;
        const auto freeEntry = std::find_if(entries->begin(), entries->end(),
                                            [](const std::string& e) { return e.empty(); });
        if (freeEntry == entries->end()) continue;
        // Kept whole even beyond an entry's 32 characters: the record and
        // the list show what the terminal accepted.
        freeEntry->assign(number);
        const std::string text(number);
        engine_.Log(notice.commandText);
        if (FindNumberRow(text) >= 0) {
            engine_.Log(Gbk(config_.alreadyListed));
        } else {
            AppendNumberRow(text);
            engine_.Log(Gbk(config_.listedNow));
        }
    }
}

void CNumberListPage::OnNumbersDeleted(const ListChangeNotice& notice) {
    if (notice.listKind != config_.listKind) return;
    std::string_view numbers;
    if (!NumbersOf(notice.commandText, config_.deletePrefix, numbers)) return;

    const auto lock = engine_.LockSettings();
    NumberList* entries = NumberListOf(engine_.MutableSettings(), config_.listKind);
    for (const std::string_view number : SplitNumbers(numbers)) {
        if (number.size() >= kNumberLengthBound) return;
        if (number.empty()) continue;
        for (std::string& entry : *entries) {
            if (entry == number) entry.clear();
        }
        for (int row = list_->RowCount() - 1; row >= 0; --row) {
            if (RowNumber(row) == number) list_->DeleteRow(row);
        }
    }
}

void CNumberListPage::OnNumbersReset(const ListChangeNotice& notice) {
    if (notice.listKind == config_.listKind) list_->DeleteAllRows();
}

void CNumberListPage::FillNumberList(const NumberList& numbers) {
    list_->DeleteAllRows();
    for (const std::string& number : numbers) {
        if (!number.empty()) AppendNumberRow(number);
    }
}

void CNumberListPage::AppendNumberRow(const std::string& number) {
    const int row =
        list_->InsertRow(list_->RowCount(), {QString::fromStdString(GbkToUtf8Lossy(number))});
    list_->SetItemData(row, QByteArray::fromStdString(number));
}

int CNumberListPage::FindNumberRow(const std::string& number) const {
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (RowNumber(row) == number) return row;
    }
    return -1;
}

void CNumberListPage::LogText(const char* utf8) {
    engine_.Log(Gbk(utf8));
}

bool CNumberListPage::Confirmed(const QString& text) {
    const QString caption = QStringLiteral("YES");
    if (confirm_) return confirm_(text, caption);
    return QMessageBox::question(this, caption, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

CAdminNoDlg::CAdminNoDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent)
    : CNumberListPage(kAdminNumberPage, engine, devices, parent) {}

CLrmNoDlg::CLrmNoDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent)
    : CNumberListPage(kAuthorizeNumberPage, engine, devices, parent) {}

CBackNoDlg::CBackNoDlg(CommandEngine& engine, const IDeviceList& devices, QWidget* parent)
    : CNumberListPage(kBackupNumberPage, engine, devices, parent) {}

}  // namespace pelmora
