#include "DeviceView.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <string_view>

#include "CommandEngine.h"
#include "CommandTexts.h"
#include "DeviceViewParts.h"
#include "GbkCodec.h"
#include "RegistryKeeper.h"
#include "ReportCtrl.h"
#include "ServiceSettings.h"
#include "Store.h"
#include "TitleBanner.h"
#include "platform/LocalTime.h"

namespace pelmora {

using namespace device_list;

QString OfflineTimeText(std::int64_t seconds) {
    if (seconds < 60) return OfflineWord();
    if (seconds < 3600) return QStringLiteral("离线 %1 分钟").arg(seconds / 60);
    if (seconds < 86400) return QStringLiteral("离线 %1 小时").arg(seconds / 3600);
    return QStringLiteral("离线 %1 天").arg(seconds / 86400);
}

QString LongOfflineText(const CDeviceView::Counts& counts, int alertMinutes) {
    return QStringLiteral("离线超过%1分钟: %2").arg(alertMinutes).arg(counts.longOffline);
}

QString LocalTimeText(std::uint32_t seconds) {
    const std::time_t t = seconds;
    std::tm local{};
    ToLocalTime(t, local);
    const int year = local.tm_year + 1900;
    const int fields[] = {local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec};
    if (year < 1000 || year > 9999 ||
        std::any_of(std::begin(fields), std::end(fields), [](int f) { return f < 0 || f > 99; })) {
        return QString::asprintf("%d-%02d-%02d %02d:%02d:%02d", year, fields[0], fields[1],
                                 fields[2], fields[3], fields[4]);
    }
    // Written by hand: a registry of 100,000 terminals is listed with one
    // time each, and the format parse took most of the row's text.
    QString text(19, Qt::Uninitialized);
    QChar* out = text.data();
    const auto put = [&out](int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10) out[i] = QLatin1Char('0' + value % 10);
        out += digits;
    };
    const char separators[] = "-- ::";
    put(year, 4);
    for (int i = 0; i < 5; ++i) {
        *out++ = QLatin1Char(separators[i]);
        put(fields[i], 2);
    }
    return text;
}

CDeviceView::CDeviceView(QWidget* parent)
    : QWidget(parent), staged_(std::make_unique<CReportRowBatch>()) {
    title_ = MakeTitleBanner(QStringLiteral("终端设备列表"), this);
    title_->setGeometry(0, 0, kListWidth, kTitleBannerHeight);
    bar_ = MakeBar();
    bar_->setGeometry(0, kTitleHeight, kListWidth, kBarHeight);
    list_ = new CReportCtrl(this);
    const std::pair<QString, int> columns[] = {
        {QStringLiteral("设备ID"), 100},       {QStringLiteral("登陆时间"), 140},
        {QStringLiteral("最后更新时间"), 140}, {QStringLiteral("SIM 号码"), 140},
        {QStringLiteral("动态IP地址"), 160},   {QStringLiteral("是否在线"), 80},
        {QStringLiteral("供电模式"), 80},      {QStringLiteral("名称"), 110},
        {QStringLiteral("区划"), 90},          {QStringLiteral("标签"), 110}};
    for (const auto& [title, width] : columns) list_->AddColumn(title, width);
    // Byte-wise comparisons follow the system's GBK order; sorting by the
    // region column groups the rows by region.
    list_->SetByteForm(GbkOrder);
    list_->SetCheckBoxes(true);
    list_->SetGridLines(true);
    list_->setGeometry(0, kListTop, kListWidth, std::max(0, height() - kListTop));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        const QModelIndex index = list_->indexAt(at);
        if (!index.isValid() || index.parent().isValid()) return;
        if (QMenu* menu = RowMenu(index.row())) menu->popup(list_->viewport()->mapToGlobal(at));
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
    connect(&registryTimer_, &QTimer::timeout, this, &CDeviceView::ShowRegistry);
    ShowCounts();
}

CDeviceView::~CDeviceView() = default;

QWidget* CDeviceView::MakeBar() {
    auto* bar = new QWidget(this);
    auto* layout = new QHBoxLayout(bar);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(6);
    filter_ = new QLineEdit(bar);
    filter_->setObjectName("deviceFilter");
    filter_->setPlaceholderText(QStringLiteral("筛选: ID/SIM/地址/名称/区划/标签"));
    filter_->setToolTip(filter_->placeholderText());
    filter_->setClearButtonEnabled(true);
    filter_->setFixedWidth(200);
    connect(filter_, &QLineEdit::textChanged, this, &CDeviceView::SetFilterText);
    layout->addWidget(filter_);
    // The boxes list what the registry holds; their entries' data is the
    // region or tag itself, empty for every one.
    const auto addBox = [&](const char* name, const QString& every, const QString& tip,
                            void (CDeviceView::*choose)(const QString&)) {
        auto* box = new QComboBox(bar);
        box->setObjectName(name);
        box->setToolTip(tip);
        box->setFixedWidth(100);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        box->addItem(every, QString());
        connect(box, &QComboBox::currentIndexChanged, this,
                [this, box, choose] { (this->*choose)(box->currentData().toString()); });
        layout->addWidget(box);
        return box;
    };
    regionBox_ = addBox("regionFilter", QStringLiteral("全部区划"), QStringLiteral("按区划筛选"),
                        &CDeviceView::SetRegionFilter);
    tagBox_ = addBox("tagFilter", QStringLiteral("全部标签"), QStringLiteral("按标签筛选"),
                     &CDeviceView::SetTagFilter);
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
    countsLabel_->setMinimumWidth(0);
    return bar;
}

void CDeviceView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The list keeps its width however wide the window grows; in a narrower
    // pane it narrows with it and scrolls sideways.
    const int width = std::min(kListWidth, event->size().width());
    title_->setGeometry(0, 0, width, kTitleBannerHeight);
    const int top = PlaceBar(width);
    list_->setGeometry(0, top, width, std::max(0, event->size().height() - top));
}

int CDeviceView::PlaceBar(int width) {
    // Too narrow for the counts beside the boxes (the warning workspace's
    // side): they take a row of their own under them.
    auto* layout = static_cast<QHBoxLayout*>(bar_->layout());
    const bool beside = layout->indexOf(countsLabel_) >= 0;
    int controls = layout->contentsMargins().left() + layout->contentsMargins().right();
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* widget = layout->itemAt(i)->widget();
        if (widget != nullptr && widget != countsLabel_)
            controls +=
                std::max(widget->sizeHint().width(), widget->minimumWidth()) + layout->spacing();
    }
    const int needed = controls + countsLabel_->fontMetrics().horizontalAdvance(
                                      QStringLiteral("已选 0000 | 显示 0000 | 在线 0000 / 共 "
                                                     "0000 | 离线超过000分钟: 0000"));
    const bool wide = width >= needed;
    if (wide && !beside) {
        layout->addWidget(countsLabel_, 1);
    } else if (!wide && beside) {
        layout->removeWidget(countsLabel_);
        countsLabel_->setParent(this);
        countsLabel_->show();
    }
    bar_->setGeometry(0, kTitleHeight, width, kBarHeight);
    if (wide) return kListTop;
    countsLabel_->setGeometry(6, kListTop, width - 6, kCountsRowHeight);
    return kListTop + kCountsRowHeight;
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
    const std::int64_t now = registry_.keeper ? registry_.now() : 0;
    for (int row = 0; row < list_->RowCount(); ++row)
        SetIfChanged(row, kOnline, OfflineText(DeviceIdOf(row), now));
    online_ = 0;
    changingRows_ = false;
    ShowCounts();
}

int CDeviceView::AppendRow(const ModemInfo& info) {
    const QString id = IdTextOf(info.deviceId);
    QStringList texts = {id,
                         LocalTimeText(info.loginTime),
                         LocalTimeText(info.lastUpdateTime),
                         SimText(info),
                         AddressText(info),
                         OnlineWord(),
                         UnknownPowerWord()};
    // A terminal new to the registry gets its operator columns at the
    // registry's pass; one the registry knows has them at once.
    if (registry_.keeper) {
        const auto& terminals = registry_.keeper->Terminals();
        if (const auto it = terminals.find(info.deviceId); it != terminals.end())
            texts << Utf8(it->second.name) << Utf8(RegionShown(it->second))
                  << Utf8(it->second.tags);
    }
    const int added = list_->InsertRow(list_->RowCount(), texts);
    if (added >= 0) {
        list_->SetItemData(added, info.deviceId);
        index_.insert(id, added);
        written_.insert(info.deviceId, info);
        removed_.remove(info.deviceId);
        ++online_;
    }
    return added;
}

std::uint32_t CDeviceView::DeviceIdOf(int row) const {
    const QVariant data = list_->ItemData(row);
    if (data.isValid()) return data.toUInt();
    std::uint32_t id = 0;
    ParseDeviceId(list_->Text(row, kId).toStdString(), id);
    return id;
}

const store::Terminal* CDeviceView::Entry(int row) const {
    if (!registry_.keeper) return nullptr;
    const auto& terminals = registry_.keeper->Terminals();
    const auto it = terminals.find(DeviceIdOf(row));
    return it == terminals.end() ? nullptr : &it->second;
}

const QString& CDeviceView::OfflineText(std::uint32_t deviceId, std::int64_t now) {
    if (!registry_.keeper) return OfflineWord();
    const auto& terminals = registry_.keeper->Terminals();
    const auto it = terminals.find(deviceId);
    if (it == terminals.end()) return OfflineWord();
    if (it->second.lastSeen == 0) return NeverOnlineWord();
    // Under a minute (or a clock set back) it is just offline.
    const std::int64_t seconds = now - it->second.lastSeen;
    if (seconds < 60) return OfflineWord();
    // One text per minute, hour or day count, made once: rows share it.
    const std::int64_t key = seconds < 3600    ? seconds / 60
                             : seconds < 86400 ? 100 + seconds / 3600
                                               : 1000 + seconds / 86400;
    auto text = offlineTexts_.find(key);
    if (text == offlineTexts_.end()) text = offlineTexts_.insert(key, OfflineTimeText(seconds));
    return *text;
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
    const std::int64_t now = registry_.keeper ? registry_.now() : 0;
    for (int row = 0; row < list_->RowCount(); ++row) {
        const auto it = seen.constFind(row);
        if (it == seen.constEnd()) {
            if (IsOnline(row)) --online_;
            SetIfChanged(row, kOnline, OfflineText(DeviceIdOf(row), now));
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
    if (registry_.keeper) {
        SyncRegistry();
        CountRegistry(now);
    }
    changingRows_ = false;
    ShowCounts();
}

void CDeviceView::RemoveAllRows() {
    list_->DeleteAllRows();
    index_.clear();
    written_.clear();
    checked_.clear();
    removed_.clear();
    pending_.clear();
    pendingAt_ = 0;
    staged_->Clear();
    synced_ = false;
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
    if (const store::Terminal* t = Entry(row)) removed_.insert(t->deviceId);
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
    add("terminalPageRow", QStringLiteral("终端详情..."),
        [this, id] { emit TerminalPageRequested(id); });
    menu->addSeparator();
    const bool online = IsOnline(row);
    add("readBackRow", QStringLiteral("参数回读"), [this, id] {
        emit ReadBackRequested(id);
    })->setEnabled(online);
    add("queryVersionsRow", QStringLiteral("版本查询"), [this, id] {
        emit VersionsRequested(id);
    })->setEnabled(online);
    add("disconnectRow", QStringLiteral("断开连接"), [this, id] {
        emit DisconnectRequested(id);
    })->setEnabled(online);
    menu->addSeparator();
    // Found again by its ID: the list may have changed while the menu was open.
    add("removeOfflineRow", QStringLiteral("删除离线设备"), [this, id] {
        RemoveOfflineRow(FindRow(id));
    })->setEnabled(!online);
    return menu;
}

bool CDeviceView::Matches(int row) const {
    if (filterText_.isEmpty() && regionFilter_.empty() && tagFilter_.empty()) return true;
    const store::Terminal* t = Entry(row);
    if (!regionFilter_.empty() && (t == nullptr || RegionKey(*t) != regionFilter_)) return false;
    if (!tagFilter_.empty() && (t == nullptr || !HasTag(*t, tagFilter_))) return false;
    if (filterText_.isEmpty()) return true;
    for (const int column : {kId, kSim, kAddress, kName, kRegion, kTags}) {
        if (list_->Text(row, column).contains(filterText_, Qt::CaseInsensitive)) return true;
    }
    // The region column shows the name when there is one; its code matches too.
    return t != nullptr && Utf8(t->regionCode).contains(filterText_, Qt::CaseInsensitive);
}

void CDeviceView::ApplyFilterToAll() {
    for (int row = 0; row < list_->RowCount(); ++row) ApplyFilter(row);
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
    ApplyFilterToAll();
    ShowCounts();
}

void CDeviceView::SetRegionFilter(const QString& region) {
    if (const int at = regionBox_->findData(region); at >= 0 && at != regionBox_->currentIndex()) {
        const QSignalBlocker quiet(regionBox_);
        regionBox_->setCurrentIndex(at);
    }
    const std::string chosen = region.toStdString();
    if (chosen == regionFilter_) return;
    regionFilter_ = chosen;
    ApplyFilterToAll();
    ShowCounts();
}

void CDeviceView::SetTagFilter(const QString& tag) {
    if (const int at = tagBox_->findData(tag); at >= 0 && at != tagBox_->currentIndex()) {
        const QSignalBlocker quiet(tagBox_);
        tagBox_->setCurrentIndex(at);
    }
    const std::string chosen = tag.toStdString();
    if (chosen == tagFilter_) return;
    tagFilter_ = chosen;
    ApplyFilterToAll();
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
    return {static_cast<int>(checked_.size()),
            total - hidden_,
            online_,
            total,
            battery_,
            longOffline_,
            neverOnline_};
}

void CDeviceView::ShowCounts() {
    const Counts counts = RowCounts();
    QString text = QStringLiteral("已选 %1 | 显示 %2 | 在线 %3 / 共 %4")
                       .arg(counts.checked)
                       .arg(counts.shown)
                       .arg(counts.online)
                       .arg(counts.total);
    if (registry_.keeper) text += QStringLiteral(" | ") + LongOfflineText(counts, AlertMinutes());
    if (countsLabel_->text() != text) countsLabel_->setText(text);
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
