#include "DeviceView.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>

#include <cstring>
#include <ctime>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "GbkCodec.h"
#include "platform/LocalTime.h"
#include "ReportCtrl.h"
#include "TitleBanner.h"

namespace pelmora {

namespace {

enum Column { kId, kLogin, kUpdate, kSim, kAddress, kOnline, kPower };

const QString& OnlineWord() {
    static const QString word = QStringLiteral("在线");
    return word;
}
const QString& BatteryWord() {
    static const QString word = QString::fromStdString(GbkToUtf8Lossy(text::kBatteryPower));
    return word;
}
const QString& OfflineWord() {
    static const QString word = QStringLiteral("离线");
    return word;
}

// "%08x", written by hand: a refresh formats the ID of every registered
// terminal to find its row, and a format parse for each was a good part of
// the refresh's time.
QString IdTextOf(std::uint32_t id) {
    static constexpr char kDigits[] = "0123456789abcdef";
    QString text(8, Qt::Uninitialized);
    QChar* out = text.data();
    for (int i = 7; i >= 0; --i, id >>= 4) out[i] = QLatin1Char(kDigits[id & 0xF]);
    return text;
}

QString AddressText(const ModemInfo& info) {
    return QString::asprintf("%u.%u.%u.%u", info.ipAddress[0], info.ipAddress[1], info.ipAddress[2],
                             info.ipAddress[3]);
}

QString SimText(const ModemInfo& info) {
    return QString::fromLatin1(info.simNumber,
                               static_cast<int>(strnlen(info.simNumber, sizeof info.simNumber)));
}

}  // namespace

QString LocalTimeText(std::uint32_t seconds) {
    const std::time_t t = seconds;
    std::tm local{};
    ToLocalTime(t, local);
    return QString::asprintf("%d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
}

CDeviceView::CDeviceView(QWidget* parent) : QWidget(parent) {
    title_ = MakeTitleBanner(QStringLiteral("终端设备列表"), this);
    title_->setGeometry(0, 0, kListWidth, kTitleBannerHeight);
    bar_ = MakeBar();
    bar_->setGeometry(0, kTitleHeight, kListWidth, kBarHeight);
    list_ = new CReportCtrl(this);
    const std::pair<QString, int> columns[] = {
        {QStringLiteral("设备ID"), 100},       {QStringLiteral("登陆时间"), 140},
        {QStringLiteral("最后更新时间"), 140}, {QStringLiteral("SIM 号码"), 140},
        {QStringLiteral("动态IP地址"), 160},   {QStringLiteral("是否在线"), 80},
        {QStringLiteral("供电模式"), 80}};
    for (const auto& [title, width] : columns) list_->AddColumn(title, width);
    // Byte-wise comparisons follow the system's GBK order.
    list_->SetByteForm([](const QString& text) {
        const auto gbk = Utf8ToGbk(text.toStdString());
        return gbk ? QByteArray::fromStdString(*gbk) : text.toUtf8();
    });
    list_->SetCheckBoxes(true);
    list_->SetGridLines(true);
    list_->setGeometry(0, kListTop, kListWidth, std::max(0, height() - kListTop));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = list_->indexAt(at);
        if (!index.isValid() || index.parent().isValid()) return;
        if (QMenu* menu = RowMenu(index.row()))
            menu->popup(list_->viewport()->mapToGlobal(at));
    });
    // A tick clicked by the operator, or set by anyone through the list,
    // changes the counts. The check box lives in column 0, whose text never
    // changes after the row is made, so other notices are passed by at once.
    connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (column != kId) return;
        if (item->checkState(kId) == Qt::Checked) {
            checked_.insert(item);
        } else {
            checked_.remove(item);
        }
        if (!changingRows_) ShowCounts();
    });
    ShowCounts();
}

QWidget* CDeviceView::MakeBar() {
    auto* bar = new QWidget(this);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(6);
    filter_ = new QLineEdit(bar);
    filter_->setObjectName("deviceFilter");
    filter_->setPlaceholderText(QStringLiteral("筛选: 设备ID / SIM号码 / 地址"));
    filter_->setClearButtonEnabled(true);
    filter_->setFixedWidth(260);
    connect(filter_, &QLineEdit::textChanged, this, &CDeviceView::SetFilterText);
    layout->addWidget(filter_);
    const auto addButton = [&](const char* name, const QString& text, void (CDeviceView::*act)()) {
        auto* button = new QPushButton(text, bar);
        button->setObjectName(name);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, act);
        layout->addWidget(button);
    };
    addButton("checkShown", QStringLiteral("全选显示"), &CDeviceView::CheckAllShown);
    addButton("checkOnlineShown", QStringLiteral("全选在线"), &CDeviceView::CheckOnlineShown);
    addButton("uncheckAll", QStringLiteral("全部取消"), &CDeviceView::UncheckAll);
    countsLabel_ = new QLabel(bar);
    countsLabel_->setObjectName("deviceCounts");
    layout->addWidget(countsLabel_, 1);
    return bar;
}

void CDeviceView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The list keeps its width however wide the window grows.
    list_->setGeometry(0, kListTop, kListWidth, std::max(0, event->size().height() - kListTop));
}

int CDeviceView::FindRow(const QString& idText) const {
    const auto hit = index_.constFind(idText);
    if (hit != index_.constEnd() && hit.value() < list_->RowCount() &&
        list_->Text(hit.value(), kId) == idText) {
        return hit.value();
    }
    if (hit == index_.constEnd() && index_.size() == list_->RowCount()) return -1;
    // Rows moved (a sort) or the index is stale: rebuild it once. The first
    // row with the text wins, as a scan from the top would find it.
    index_.clear();
    for (int row = list_->RowCount() - 1; row >= 0; --row)
        index_.insert(list_->Text(row, kId), row);
    const auto again = index_.constFind(idText);
    return again == index_.constEnd() ? -1 : again.value();
}

int CDeviceView::FindRow(const std::string& idText) const {
    return FindRow(QString::fromStdString(GbkToUtf8Lossy(idText)));
}

bool CDeviceView::SetIfChanged(int row, int column, const QString& text) {
    if (list_->Text(row, column) == text) return false;
    list_->SetText(row, column, text);
    return true;
}

void CDeviceView::MarkAllOffline() {
    changingRows_ = true;
    for (int row = 0; row < list_->RowCount(); ++row) SetIfChanged(row, kOnline, OfflineWord());
    online_ = 0;
    changingRows_ = false;
    ShowCounts();
}

int CDeviceView::AppendRow(const ModemInfo& info) {
    const QString id = IdTextOf(info.deviceId);
    const int added =
        list_->InsertRow(list_->RowCount(),
                         {id, LocalTimeText(info.loginTime), LocalTimeText(info.lastUpdateTime),
                          SimText(info), AddressText(info), OnlineWord(), QStringLiteral("未知")});
    if (added >= 0) {
        index_.insert(id, added);
        written_.insert(info.deviceId, info);
        ++online_;
    }
    return added;
}

bool CDeviceView::UpdateRow(int row, const ModemInfo& info) {
    if (SetIfChanged(row, kOnline, OnlineWord())) ++online_;
    // Only what changed since the row was last written is formatted again:
    // at a refresh most rows change nothing, or only their update time.
    const auto last = written_.constFind(info.deviceId);
    const bool fresh = last == written_.constEnd();
    if (!fresh && std::memcmp(&*last, &info, sizeof info) == 0) return false;
    const ModemInfo& was = fresh ? info : *last;
    if (fresh || was.loginTime != info.loginTime)
        SetIfChanged(row, kLogin, LocalTimeText(info.loginTime));
    if (fresh || was.lastUpdateTime != info.lastUpdateTime)
        SetIfChanged(row, kUpdate, LocalTimeText(info.lastUpdateTime));
    const bool simChanged =
        (fresh || std::memcmp(was.simNumber, info.simNumber, sizeof info.simNumber) != 0) &&
        SetIfChanged(row, kSim, SimText(info));
    const bool addressChanged =
        (fresh || std::memcmp(was.ipAddress, info.ipAddress, sizeof info.ipAddress) != 0) &&
        SetIfChanged(row, kAddress, AddressText(info));
    written_.insert(info.deviceId, info);
    return simChanged || addressChanged;
}

void CDeviceView::UpdateFromModem(const ModemInfo& info) {
    changingRows_ = true;
    const int row = FindRow(IdTextOf(info.deviceId));
    if (row < 0) {
        ApplyFilter(AppendRow(info));
    } else if (UpdateRow(row, info)) {
        ApplyFilter(row);
    }
    changingRows_ = false;
    ShowCounts();
}

void CDeviceView::Refresh(const std::vector<ModemInfo>& online) {
    changingRows_ = true;
    // With rows hidden, each changed cell would cost the tree a search
    // through the shown rows; one layout at the next event pass replaces
    // all of those searches.
    if (hidden_ > 0) list_->DeferLayout();
    // The same end state as marking every row offline and then updating the
    // registered ones, without writing each online row twice.
    QHash<int, const ModemInfo*> seen;
    seen.reserve(static_cast<int>(online.size()));
    std::vector<const ModemInfo*> appended;
    for (const ModemInfo& info : online) {
        const int row = FindRow(IdTextOf(info.deviceId));
        if (row < 0) {
            appended.push_back(&info);
        } else {
            seen.insert(row, &info);
        }
    }
    for (int row = 0; row < list_->RowCount(); ++row) {
        const auto it = seen.constFind(row);
        if (it == seen.constEnd()) {
            if (SetIfChanged(row, kOnline, OfflineWord())) --online_;
        } else if (UpdateRow(row, *it.value())) {
            ApplyFilter(row);
        }
    }
    // New rows are hidden only once all are in: the tree keeps a tracked
    // index per hidden row, and every insertion walks those.
    const int firstNew = list_->RowCount();
    for (const ModemInfo* info : appended) {
        // A table that lists one ID twice still makes one row.
        const int row = FindRow(IdTextOf(info->deviceId));
        if (row < 0) {
            AppendRow(*info);
        } else {
            UpdateRow(row, *info);
        }
    }
    for (int row = firstNew; row < list_->RowCount(); ++row) ApplyFilter(row);
    changingRows_ = false;
    ShowCounts();
}

void CDeviceView::RemoveAllRows() {
    list_->DeleteAllRows();
    index_.clear();
    written_.clear();
    checked_.clear();
    hidden_ = 0;
    online_ = 0;
    battery_ = 0;
    ShowCounts();
}

bool CDeviceView::RemoveOfflineRow(int row) {
    if (row < 0 || row >= list_->RowCount() || IsOnline(row)) return false;
    const QString id = list_->Text(row, kId);
    std::uint32_t deviceId = 0;
    if (ParseDeviceId(id.toStdString(), deviceId)) written_.remove(deviceId);
    checked_.remove(list_->topLevelItem(row));
    if (!IsShown(row)) --hidden_;
    if (list_->Text(row, kPower) == BatteryWord()) --battery_;
    // Later rows move up: their index entries fail the check on use and the
    // index is rebuilt then.
    index_.remove(id);
    changingRows_ = true;
    list_->DeleteRow(row);
    changingRows_ = false;
    ShowCounts();
    return true;
}

QMenu* CDeviceView::RowMenu(int row) {
    if (row < 0 || row >= list_->RowCount()) return nullptr;
    const QString id = list_->Text(row, kId);
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto add = [menu](const char* name, const QString& text, auto act) {
        QAction* action = menu->addAction(text);
        action->setObjectName(name);
        connect(action, &QAction::triggered, menu, act);
        return action;
    };
    add("copyDeviceId", QStringLiteral("复制设备ID"),
        [id] { QApplication::clipboard()->setText(id); });
    menu->addSeparator();
    const bool online = IsOnline(row);
    add("readBackRow", QStringLiteral("参数回读"), [this, id] { emit ReadBackRequested(id); })
        ->setEnabled(online);
    add("queryVersionsRow", QStringLiteral("版本查询"), [this, id] { emit VersionsRequested(id); })
        ->setEnabled(online);
    add("disconnectRow", QStringLiteral("断开连接"), [this, id] { emit DisconnectRequested(id); })
        ->setEnabled(online);
    menu->addSeparator();
    // Found again by its ID: the list may have changed while the menu was open.
    add("removeOfflineRow", QStringLiteral("删除离线设备"), [this, id] {
        RemoveOfflineRow(FindRow(id));
    })->setEnabled(!online);
    return menu;
}

bool CDeviceView::Matches(int row) const {
    if (filterText_.isEmpty()) return true;
    for (const int column : {kId, kSim, kAddress}) {
        if (list_->Text(row, column).contains(filterText_, Qt::CaseInsensitive)) return true;
    }
    return false;
}

void CDeviceView::ApplyFilter(int row) {
    const bool hide = !Matches(row);
    if (list_->isRowHidden(row, QModelIndex()) == hide) return;
    list_->setRowHidden(row, QModelIndex(), hide);
    hidden_ += hide ? 1 : -1;
}

bool CDeviceView::IsShown(int row) const {
    return row >= 0 && row < list_->RowCount() && !list_->isRowHidden(row, QModelIndex());
}

bool CDeviceView::IsOnline(int row) const {
    return list_->Text(row, kOnline) == OnlineWord();
}

void CDeviceView::SetFilterText(const QString& text) {
    // Also reached from the box's own change signal; the box follows a
    // caller's text without a second pass.
    if (filter_->text() != text) filter_->setText(text);
    const QString trimmed = text.trimmed();
    if (trimmed == filterText_) return;
    filterText_ = trimmed;
    for (int row = 0; row < list_->RowCount(); ++row) ApplyFilter(row);
    ShowCounts();
}

template <typename Pick>
void CDeviceView::CheckRows(bool checked, Pick pick) {
    changingRows_ = true;
    if (hidden_ > 0) list_->DeferLayout();  // as in Refresh
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (pick(row) && list_->IsChecked(row) != checked) list_->SetChecked(row, checked);
    }
    changingRows_ = false;
    ShowCounts();
}

void CDeviceView::CheckAllShown() {
    CheckRows(true, [this](int row) { return IsShown(row); });
}

void CDeviceView::CheckOnlineShown() {
    CheckRows(true, [this](int row) { return IsShown(row) && IsOnline(row); });
}

void CDeviceView::UncheckAll() {
    CheckRows(false, [](int) { return true; });
}

CDeviceView::Counts CDeviceView::RowCounts() const {
    const int total = list_->RowCount();
    return {static_cast<int>(checked_.size()), total - hidden_, online_, total, battery_};
}

void CDeviceView::ShowCounts() {
    const Counts counts = RowCounts();
    countsLabel_->setText(QStringLiteral("已选 %1 | 显示 %2 | 在线 %3 / 共 %4")
                              .arg(counts.checked)
                              .arg(counts.shown)
                              .arg(counts.online)
                              .arg(counts.total));
}

std::vector<std::pair<std::string, bool>> CDeviceView::CheckedTerminals() const {
    std::vector<std::pair<std::string, bool>> terminals;
    for (int row = 0; row < list_->RowCount(); ++row) {
        if (list_->IsChecked(row)) terminals.emplace_back(IdText(row), IsOnline(row));
    }
    return terminals;
}

int CDeviceView::RowCount() const {
    return list_->RowCount();
}

bool CDeviceView::IsChecked(int row) const {
    return list_->IsChecked(row);
}

QString CDeviceView::Cell(int row, int column) const {
    return list_->Text(row, column);
}

std::string CDeviceView::IdText(int row) const {
    return Utf8ToGbk(list_->Text(row, kId).toStdString()).value_or(std::string());
}

std::string CDeviceView::OnlineText(int row) const {
    return Utf8ToGbk(list_->Text(row, kOnline).toStdString()).value_or(std::string());
}

void CDeviceView::SetPowerText(int row, const std::string& text) {
    if (row < 0 || row >= list_->RowCount()) return;
    const QString& battery = BatteryWord();
    const QString now = QString::fromStdString(GbkToUtf8Lossy(text));
    const QString was = list_->Text(row, kPower);
    if (was == now) return;
    list_->SetText(row, kPower, now);
    battery_ += (now == battery ? 1 : 0) - (was == battery ? 1 : 0);
}

}  // namespace pelmora
