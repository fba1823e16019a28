#include "HistoryView.h"

#include <QBrush>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

#include "CommandTexts.h"
#include "GbkCodec.h"
#include "GroupJob.h"
#include "GroupLauncher.h"
#include "WarningRecorder.h"

namespace pelmora {

namespace {

// Of the content, the list shows this many characters; the tooltip all.
constexpr int kListedContent = 80;
constexpr int kShownRecords = 100;
constexpr int kMostRecords = 10000;
constexpr int kDefaultDays = 30;

const CommandKind kKinds[] = {
    CommandKind::SendPlayContent,
    CommandKind::PlayMp3,
    CommandKind::StopMp3,
    CommandKind::ReadVersion,
    CommandKind::SendUpgradeParams,
    CommandKind::RestartDevice,
    CommandKind::ReadSettings,
    CommandKind::SaveSettings,
    CommandKind::AddAdminNumbers,
    CommandKind::AddAuthorizeNumbers,
    CommandKind::AddBackupNumbers,
    CommandKind::DeleteAdminNumbers,
    CommandKind::DeleteAuthorizeNumbers,
    CommandKind::DeleteBackupNumbers,
    CommandKind::ResetAdminNumbers,
    CommandKind::ResetAuthorizeNumbers,
    CommandKind::ResetBackupNumbers,
};

// The words a terminal's outcome can have, in the order the counts list
// them; the engine's own.
const std::vector<QString>& Words() {
    static const std::vector<QString> words = [] {
        const GroupOutcome order[] = {
            GroupOutcome::Succeeded,   GroupOutcome::Refused,   GroupOutcome::TimedOut,
            GroupOutcome::SendFailed,  GroupOutcome::Offline,   GroupOutcome::ConnectionLost,
            GroupOutcome::Unconfirmed, GroupOutcome::Cancelled, GroupOutcome::ServiceStopped,
            GroupOutcome::Waiting,
        };
        std::vector<QString> all;
        for (const GroupOutcome outcome : order)
            all.push_back(QString::fromStdString(dispatch::OutcomeWord(outcome)));
        return all;
    }();
    return words;
}

QString FromGbk(const char* text) {
    return QString::fromStdString(GbkToUtf8Lossy(text));
}

bool KnownKind(int kind) {
    for (const CommandKind known : kKinds)
        if (static_cast<int>(known) == kind) return true;
    return false;
}

QString KindName(int number, bool group) {
    if (!KnownKind(number)) return QStringLiteral("未知(%1)").arg(number);
    const auto kind = static_cast<CommandKind>(number);
    if (group && IsGroupKind(kind)) return FromGbk(GroupKindName(kind));
    return FromGbk(JobKindName(kind, false));
}

QString TimeText(std::int64_t seconds) {
    if (seconds <= 0) return {};
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString StateText(const std::string& state) {
    if (state == "running") return QStringLiteral("进行中");
    if (state == "finished") return QStringLiteral("完成");
    if (state == "unfinished") return QStringLiteral("未完成");
    // Warnings from outside: waiting, refused, kept only, or for nobody.
    if (state == "review") return QStringLiteral("待审核");
    if (state == "refused") return QStringLiteral("已拒绝");
    if (state == "recorded") return QStringLiteral("只记录");
    if (state == "no_terminals") return QStringLiteral("无匹配终端");
    return QString::fromStdString(state);
}

// One line, at most kListedContent characters.
QString ListedContent(const std::string& content) {
    QString text = QString::fromStdString(content);
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (text.size() > kListedContent) text = text.left(kListedContent) + QStringLiteral("…");
    return text;
}

QString RegionText(const store::Terminal& t) {
    const QString code = QString::fromStdString(t.regionCode);
    const QString name = QString::fromStdString(t.regionName);
    if (code.isEmpty() || name.isEmpty()) return code + name;
    return code + QLatin1Char(' ') + name;
}

QTableView* MakeTable(QAbstractItemModel* model, QWidget* parent) {
    auto* table = new QTableView(parent);
    table->setModel(model);
    table->verticalHeader()->setDefaultSectionSize(20);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return table;
}

}  // namespace

// --- the list ---

void WarningListModel::SetWarnings(std::vector<store::Warning> warnings) {
    beginResetModel();
    warnings_ = std::move(warnings);
    endResetModel();
}

const store::Warning* WarningListModel::At(int row) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    return &warnings_[static_cast<std::size_t>(row)];
}

int WarningListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(warnings_.size());
}

int WarningListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString WarningListModel::Cell(int row, int column) const {
    const store::Warning* w = At(row);
    if (w == nullptr) return {};
    switch (column) {
        case kId:
            return QString::number(w->id);
        case kStarted:
            return TimeText(w->started != 0 ? w->started : w->queued);
        case kKind:
            return KindName(w->kind, w->group);
        case kScope:
            return w->group ? QStringLiteral("群发") : QStringLiteral("单机");
        case kContent:
            return ListedContent(w->content);
        case kOperator:
            return QString::fromStdString(w->operatorName);
        case kState:
            return StateText(w->state);
        case kExpires:
            return TimeText(w->expires);
        case kDrill:
            return w->drill ? QStringLiteral("演练") : QString();
        default:
            return {};
    }
}

QVariant WarningListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return Cell(index.row(), index.column());
    if (role == Qt::ToolTipRole && index.column() == kContent) {
        if (const store::Warning* w = At(index.row())) return QString::fromStdString(w->content);
    }
    return {};
}

QVariant WarningListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    static const char* const kHeaders[kColumns] = {
        "编号", "开始时间", "类型", "群发/单机", "内容", "操作员", "状态", "有效期至", "演练"};
    if (section < 0 || section >= kColumns) return {};
    return QString::fromUtf8(kHeaders[section]);
}

// --- one record's outcomes ---

void OutcomeModel::SetDetail(std::shared_ptr<const store::WarningDetail> detail) {
    beginResetModel();
    detail_ = std::move(detail);
    Select();
    endResetModel();
}

void OutcomeModel::SetLatestOnly(bool latestOnly) {
    if (latestOnly == latestOnly_) return;
    beginResetModel();
    latestOnly_ = latestOnly;
    Select();
    endResetModel();
}

void OutcomeModel::Select() {
    rows_.clear();
    if (!detail_) return;
    rows_.reserve(detail_->outcomes.size());
    for (std::size_t i = 0; i < detail_->outcomes.size(); ++i) {
        if (!latestOnly_ || detail_->latest[i]) rows_.push_back(i);
    }
}

int OutcomeModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int OutcomeModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString OutcomeModel::Cell(int row, int column) const {
    if (row < 0 || row >= rowCount()) return {};
    const store::Outcome& o = detail_->outcomes[rows_[static_cast<std::size_t>(row)]];
    const auto known = detail_->terminals.find(o.deviceId);
    const store::Terminal* t = known == detail_->terminals.end() ? nullptr : &known->second;
    switch (column) {
        case kDevice:
            return QString::fromStdString(DeviceIdText(o.deviceId));
        case kName:
            return t != nullptr ? QString::fromStdString(t->name) : QString();
        case kRegion:
            return t != nullptr ? RegionText(*t) : QString();
        case kAttempt:
            return QString::number(o.attempt);
        case kWord:
            return QString::fromStdString(o.word);
        case kTime:
            return TimeText(o.time);
        case kDetail:
            return QString::fromStdString(o.detail);
        default:
            return {};
    }
}

QVariant OutcomeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (role == Qt::DisplayRole) return Cell(index.row(), index.column());
    const std::size_t at = rows_[static_cast<std::size_t>(index.row())];
    // An earlier attempt, superseded by a later one of the same terminal.
    if (!detail_->latest[at]) {
        if (role == Qt::ForegroundRole) return QBrush(Qt::gray);
        if (role == Qt::ToolTipRole) return QStringLiteral("较早的一次发送");
    }
    return {};
}

QVariant OutcomeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
    static const char* const kHeaders[kColumns] = {"设备ID", "名称", "区划", "次数",
                                                   "结果",   "时间", "详情"};
    if (section < 0 || section >= kColumns) return {};
    return QString::fromUtf8(kHeaders[section]);
}

// --- the window ---

HistoryView::HistoryView(store::Store& store, Hooks hooks, QWidget* parent)
    : QDialog(parent), store_(store), hooks_(std::move(hooks)) {
    setWindowTitle(QStringLiteral("预警记录"));
    setObjectName(QStringLiteral("historyView"));
    setModal(false);
    if (!hooks_.inform) {
        hooks_.inform = [this](const QString& text, const QString& caption) {
            QMessageBox::information(this, caption, text);
        };
    }
    askSave_ = [this](const QString& suggested) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("导出预警记录"), suggested,
                                            QStringLiteral("CSV (*.csv)"));
    };

    // The filters.
    const QDate today = QDate::currentDate();
    fromCheck_ = new QCheckBox(QStringLiteral("从"), this);
    fromDate_ = new QDateEdit(today.addDays(-kDefaultDays), this);
    toCheck_ = new QCheckBox(QStringLiteral("到"), this);
    toDate_ = new QDateEdit(today, this);
    for (QDateEdit* date : {fromDate_, toDate_}) {
        date->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        date->setCalendarPopup(true);
        date->setEnabled(false);
    }
    connect(fromCheck_, &QCheckBox::toggled, fromDate_, &QWidget::setEnabled);
    connect(toCheck_, &QCheckBox::toggled, toDate_, &QWidget::setEnabled);
    kind_ = new QComboBox(this);
    kind_->addItem(QStringLiteral("全部"), -1);
    for (const CommandKind kind : kKinds)
        kind_->addItem(FromGbk(JobKindName(kind, false)), static_cast<int>(kind));
    word_ = new QComboBox(this);
    word_->addItem(QStringLiteral("全部"), QString());
    for (const QString& word : Words()) word_->addItem(word, word);
    region_ = new QLineEdit(this);
    region_->setMaxLength(32);
    region_->setPlaceholderText(QStringLiteral("区划代码开头"));
    text_ = new QLineEdit(this);
    text_->setMaxLength(200);
    text_->setPlaceholderText(QStringLiteral("内容包含的文字"));
    count_ = new QSpinBox(this);
    count_->setRange(1, kMostRecords);
    count_->setValue(kShownRecords);
    query_ = new QPushButton(QStringLiteral("查询"), this);
    query_->setDefault(true);
    connect(query_, &QPushButton::clicked, this, &HistoryView::Query);

    auto* filters = new QGridLayout;
    filters->addWidget(fromCheck_, 0, 0);
    filters->addWidget(fromDate_, 0, 1);
    filters->addWidget(toCheck_, 0, 2);
    filters->addWidget(toDate_, 0, 3);
    filters->addWidget(new QLabel(QStringLiteral("类型"), this), 0, 4);
    filters->addWidget(kind_, 0, 5);
    filters->addWidget(new QLabel(QStringLiteral("结果"), this), 0, 6);
    filters->addWidget(word_, 0, 7);
    filters->addWidget(new QLabel(QStringLiteral("区划"), this), 1, 0);
    filters->addWidget(region_, 1, 1);
    filters->addWidget(new QLabel(QStringLiteral("内容"), this), 1, 2);
    filters->addWidget(text_, 1, 3, 1, 3);
    filters->addWidget(new QLabel(QStringLiteral("最多"), this), 1, 6);
    filters->addWidget(count_, 1, 7);
    filters->addWidget(query_, 1, 8);
    filters->setColumnStretch(9, 1);

    // The records found.
    listTable_ = MakeTable(&list_, this);
    listTable_->setObjectName(QStringLiteral("historyList"));
    const int listWidths[] = {60, 140, 110, 70, 320, 80, 60, 140};
    for (int column = 0; column < static_cast<int>(std::size(listWidths)); ++column)
        listTable_->setColumnWidth(column, listWidths[column]);
    found_ = new QLabel(this);
    view_ = new QPushButton(QStringLiteral("查看"), this);
    view_->setAutoDefault(false);
    connect(view_, &QPushButton::clicked, this, &HistoryView::OpenSelected);
    connect(listTable_, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (const store::Warning* w = list_.At(index.row())) OpenRecord(w->id);
    });

    // The open record.
    title_ = new QLabel(QStringLiteral("双击一条记录查看各终端的结果"), this);
    title_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    latestOnly_ = new QCheckBox(QStringLiteral("只显示每台终端的最后一次"), this);
    connect(latestOnly_, &QCheckBox::toggled, this,
            [this](bool on) { outcomes_.SetLatestOnly(on); });
    export_ = new QPushButton(QStringLiteral("导出CSV..."), this);
    export_->setAutoDefault(false);
    export_->setEnabled(false);
    connect(export_, &QPushButton::clicked, this, &HistoryView::OnExport);
    resend_ = new QPushButton(QStringLiteral("重发失败终端"), this);
    resend_->setAutoDefault(false);
    resend_->setEnabled(false);
    connect(resend_, &QPushButton::clicked, this, &HistoryView::ResendFailed);
    outcomeTable_ = MakeTable(&outcomes_, this);
    outcomeTable_->setObjectName(QStringLiteral("historyOutcomes"));
    const int outcomeWidths[] = {80, 140, 180, 40, 100, 140};
    for (int column = 0; column < static_cast<int>(std::size(outcomeWidths)); ++column)
        outcomeTable_->setColumnWidth(column, outcomeWidths[column]);

    auto* top = new QWidget(this);
    auto* topLayout = new QVBoxLayout(top);
    topLayout->setContentsMargins(0, 0, 0, 0);
    topLayout->addLayout(filters);
    topLayout->addWidget(listTable_, 1);
    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(found_, 1);
    listButtons->addWidget(view_);
    topLayout->addLayout(listButtons);

    auto* bottom = new QWidget(this);
    auto* bottomLayout = new QVBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, 0, 0);
    bottomLayout->addWidget(title_);
    bottomLayout->addWidget(summary_);
    auto* detailButtons = new QHBoxLayout;
    detailButtons->addWidget(latestOnly_);
    detailButtons->addStretch(1);
    detailButtons->addWidget(export_);
    detailButtons->addWidget(resend_);
    bottomLayout->addLayout(detailButtons);
    bottomLayout->addWidget(outcomeTable_, 1);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(top);
    splitter->addWidget(bottom);
    splitter->setChildrenCollapsible(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(splitter);
    resize(1100, 760);
}

std::optional<store::WarningQuery> HistoryView::ReadFilters() {
    store::WarningQuery query;
    if (fromCheck_->isChecked() && toCheck_->isChecked() && fromDate_->date() > toDate_->date()) {
        Inform(QStringLiteral("起始日期(%1)晚于截止日期(%2),请重新选择。")
                   .arg(fromDate_->date().toString(QStringLiteral("yyyy-MM-dd")),
                        toDate_->date().toString(QStringLiteral("yyyy-MM-dd"))));
        return std::nullopt;
    }
    // Whole days in local time, the last one included.
    if (fromCheck_->isChecked()) query.from = fromDate_->date().startOfDay().toSecsSinceEpoch();
    if (toCheck_->isChecked())
        query.to = toDate_->date().addDays(1).startOfDay().toSecsSinceEpoch();
    query.kind = kind_->currentData().toInt();
    query.word = word_->currentData().toString().toStdString();
    query.regionCode = region_->text().trimmed().toStdString();
    query.text = text_->text().trimmed().toStdString();
    query.count = static_cast<std::size_t>(count_->value());
    return query;
}

bool HistoryView::Query() {
    const std::optional<store::WarningQuery> query = ReadFilters();
    if (!query) return false;
    list_.SetWarnings(store_.FindWarnings(*query));
    const int found = list_.rowCount();
    found_->setText(found == 0 ? QStringLiteral("没有符合条件的记录")
                    : static_cast<std::size_t>(found) >= query->count
                        ? QStringLiteral("最新的 %1 条记录(可能还有更早的)").arg(found)
                        : QStringLiteral("共 %1 条记录").arg(found));
    if (found > 0) listTable_->selectRow(0);
    return true;
}

void HistoryView::OpenSelected() {
    const QModelIndex current = listTable_->currentIndex();
    if (const store::Warning* w = list_.At(current.isValid() ? current.row() : -1)) {
        OpenRecord(w->id);
    } else {
        Inform(QStringLiteral("请先在列表中选择一条记录。"));
    }
}

bool HistoryView::OpenRecord(std::int64_t id) {
    std::optional<store::WarningDetail> loaded = store::LoadWarningDetail(store_, id);
    if (!loaded) {
        Inform(QStringLiteral("没有编号为 %1 的预警记录。").arg(id));
        return false;
    }
    detail_ = std::make_shared<const store::WarningDetail>(std::move(*loaded));
    outcomes_.SetDetail(detail_);
    ShowDetail();
    return true;
}

QString HistoryView::SummaryText() const {
    if (!detail_) return {};
    if (detail_->outcomes.empty()) return QStringLiteral("还没有终端的结果。");
    const std::map<std::string, int> counts = store::LatestCounts(*detail_);
    int terminals = 0;
    for (const auto& [word, count] : counts) terminals += count;
    QStringList parts;
    for (const QString& word : Words()) {
        const auto it = counts.find(word.toStdString());
        if (it != counts.end()) parts << QStringLiteral("%1 %2").arg(word).arg(it->second);
    }
    // Words of another version, after the known ones.
    for (const auto& [word, count] : counts) {
        const QString text = QString::fromStdString(word);
        if (std::find(Words().begin(), Words().end(), text) == Words().end())
            parts << QStringLiteral("%1 %2").arg(text).arg(count);
    }
    QString text = QStringLiteral("共 %1 台终端, 以每台最后一次为准: %2")
                       .arg(terminals)
                       .arg(parts.join(QStringLiteral(" | ")));
    const std::size_t sends = detail_->outcomes.size();
    if (sends > static_cast<std::size_t>(terminals))
        text += QStringLiteral("; 共发送 %1 次(含补发)").arg(sends);
    return text;
}

void HistoryView::ShowDetail() {
    const store::Warning& w = detail_->warning;
    QString title =
        QStringLiteral("记录 %1 | %2 | %3 | %4 | 操作员 %5")
            .arg(w.id)
            .arg(KindName(w.kind, w.group), TimeText(w.started != 0 ? w.started : w.queued),
                 StateText(w.state), QString::fromStdString(w.operatorName));
    if (w.expires != 0) title += QStringLiteral(" | 有效期至 %1").arg(TimeText(w.expires));
    if (w.drill) title += QStringLiteral(" | 演练");
    title_->setText(title);
    title_->setToolTip(QString::fromStdString(w.content));
    summary_->setText(SummaryText());
    export_->setEnabled(true);

    // Sent again only what can be sent again as it was.
    const auto kind = static_cast<CommandKind>(w.kind);
    const std::size_t failed = store::NotSucceeded(*detail_).size();
    QString why;
    if (hooks_.launcher == nullptr)
        why = QStringLiteral("此处不能发送");
    else if (!KnownKind(w.kind) || !IsGroupKind(kind))
        why = QStringLiteral("只有群发类的任务可以重发");
    else if (kind == CommandKind::SendUpgradeParams)
        why = QStringLiteral("升级参数请在远程控制页面重新设置并输入密码");
    else if (w.state == "running")
        why = QStringLiteral("任务还在进行中");
    else if (failed == 0)
        why = QStringLiteral("每台终端最后一次都已成功");
    resend_->setEnabled(why.isEmpty());
    resend_->setToolTip(
        why.isEmpty() ? QStringLiteral("向最后一次结果不是成功的 %1 台终端再发一次").arg(failed)
                      : why);
}

void HistoryView::OnExport() {
    if (!detail_) return;
    const QString path = askSave_(QStringLiteral("预警记录-%1.csv").arg(detail_->warning.id));
    if (path.isEmpty()) return;
    if (ExportCsv(path)) {
        Log(QStringLiteral("预警记录 %1 已导出到 %2").arg(detail_->warning.id).arg(path));
    } else {
        Log(QStringLiteral("注意!预警记录无法写入 %1").arg(path));
        Inform(QStringLiteral("无法写入 %1").arg(path));
    }
}

bool HistoryView::ExportCsv(const QString& path) const {
    if (!detail_) return false;
    const std::string text = store::WarningCsv(*detail_);
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.data(), qint64(text.size())) == qint64(text.size()) && file.flush();
}

void HistoryView::ResendFailed() {
    if (!detail_ || !resend_->isEnabled()) return;
    if (hooks_.serviceRunning && !hooks_.serviceRunning()) {
        Inform(QStringLiteral("服务未启动!"));
        return;
    }
    const store::Warning& w = detail_->warning;
    // The terminals are sent the bytes they were sent before.
    const std::optional<std::string> gbk = Utf8ToGbk(w.content);
    if (!gbk || (!w.gbkHash.empty() && dispatch::Sha256Hex(*gbk) != w.gbkHash)) {
        Inform(QStringLiteral("记录 %1 的内容无法还原成当时发送的内容,不能重发。").arg(w.id));
        return;
    }
    const std::vector<std::uint32_t> failed = store::NotSucceeded(*detail_);
    if (hooks_.launcher->LaunchTo(static_cast<CommandKind>(w.kind), *gbk, failed,
                                  QStringLiteral("记录 %1 中未成功的").arg(w.id))) {
        Log(QStringLiteral("重发预警记录 %1: %2 台终端").arg(w.id).arg(failed.size()));
    }
}

void HistoryView::Inform(const QString& text) const {
    if (hooks_.inform) hooks_.inform(text, QStringLiteral("预警记录"));
}

void HistoryView::Log(const QString& line) const {
    if (hooks_.log) hooks_.log(line);
}

}  // namespace pelmora
