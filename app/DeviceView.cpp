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

CDeviceView::CDeviceView(QWidget* parent) : QWidget(parent) {
    title_ = MakeTitleBanner(QStringLiteral("终端设备列表"), this);
    title_->setGeometry(0, 0, kListWidth, kTitleBannerHeight);
    bar_ = MakeBar();
    bar_->setGeometry(0, kTitleHeight, kListWidth, kBarHeight);
    list_ = new CDeviceTable({{{QStringLiteral("设备ID"), 100},
                               {QStringLiteral("登陆时间"), 140},
                               {QStringLiteral("最后更新时间"), 140},
                               {QStringLiteral("SIM 号码"), 140},
                               {QStringLiteral("动态IP地址"), 160},
                               {QStringLiteral("是否在线"), 80},
                               {QStringLiteral("供电模式"), 80},
                               {QStringLiteral("名称"), 110},
                               {QStringLiteral("区划"), 90},
                               {QStringLiteral("标签"), 110}}},
                             this);
    rows_ = list_->Rows();
    // Byte-wise comparisons follow the system's GBK order; sorting by the
    // region column groups the rows by region.
    rows_->SetByteForm(GbkOrder);
    list_->SetGridLines(true);
    list_->setGeometry(0, kListTop, kListWidth, std::max(0, height() - kListTop));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (QMenu* menu = RowMenu(list_->RowAt(at)))
            menu->popup(list_->viewport()->mapToGlobal(at));
    });
    // A tick clicked by the operator, or set by anyone on one row, changes
    // the counts; the view's own batches show them once at their end.
    connect(rows_, &DeviceTableModel::CheckToggled, this, &CDeviceView::ShowCounts);
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

int CDeviceView::SourceRowOf(std::uint32_t deviceId) const {
    return index_.value(deviceId, -1);
}

int CDeviceView::FindRow(const QString& idText) const {
    // Every row's ID text is IdTextOf of its ID: any other text names no row.
    std::uint32_t id = 0;
    if (idText.size() != 8 || !ParseDeviceId(idText.toStdString(), id) || IdTextOf(id) != idText)
        return -1;
    return list_->ListRow(SourceRowOf(id));
}

int CDeviceView::FindRow(const std::string& idText) const {
    return FindRow(QString::fromStdString(GbkToUtf8Lossy(idText)));
}

bool CDeviceView::SetIfChanged(int at, int column, const QString& text) {
    return rows_->SetText(at, column, text);
}

void CDeviceView::MarkAllOffline() {
    {
        const DeviceTableChanges changes(*rows_);
        const std::int64_t now = registry_.keeper ? registry_.now() : 0;
        for (int at = 0; at < rows_->Rows(); ++at)
            SetIfChanged(at, kOnline, OfflineText(rows_->At(at).deviceId, now));
        online_ = 0;
    }
    ShowCounts();
}

CDeviceView::RowPtr CDeviceView::MakeRow(const ModemInfo& info) const {
    auto row = std::make_unique<Row>();
    row->deviceId = info.deviceId;
    row->texts = {IdTextOf(info.deviceId),
                  LocalTimeText(info.loginTime),
                  LocalTimeText(info.lastUpdateTime),
                  SimText(info),
                  AddressText(info),
                  OnlineWord(),
                  UnknownPowerWord()};
    // A terminal new to the registry gets its operator columns at the
    // registry's pass; one the registry knows has them at once.
    if (const store::Terminal* t = Entry(info.deviceId)) {
        row->texts[kName] = Utf8(t->name);
        row->texts[kRegion] = Utf8(RegionShown(*t));
        row->texts[kTags] = Utf8(t->tags);
    }
    row->shown = Matches(*row);
    return row;
}

void CDeviceView::AppendRows(std::vector<RowPtr> rows) {
    if (rows.empty()) return;
    index_.reserve(rows_->Rows() + static_cast<int>(rows.size()));
    for (std::size_t i = 0; i < rows.size(); ++i)
        index_.insert(rows[i]->deviceId, rows_->Rows() + static_cast<int>(i));
    rows_->Append(std::move(rows));
}

const store::Terminal* CDeviceView::Entry(std::uint32_t deviceId) const {
    if (!registry_.keeper) return nullptr;
    const auto& terminals = registry_.keeper->Terminals();
    const auto it = terminals.find(deviceId);
    return it == terminals.end() ? nullptr : &it->second;
}

const QString& CDeviceView::OfflineText(std::uint32_t deviceId, std::int64_t now) {
    const store::Terminal* t = Entry(deviceId);
    if (t == nullptr) return OfflineWord();
    if (t->lastSeen == 0) return NeverOnlineWord();
    // Under a minute (or a clock set back) it is just offline.
    const std::int64_t seconds = now - t->lastSeen;
    if (seconds < 60) return OfflineWord();
    // One text per minute, hour or day count, made once: rows share it.
    const std::int64_t key = seconds < 3600    ? seconds / 60
                             : seconds < 86400 ? 100 + seconds / 3600
                                               : 1000 + seconds / 86400;
    auto text = offlineTexts_.find(key);
    if (text == offlineTexts_.end()) text = offlineTexts_.insert(key, OfflineTimeText(seconds));
    return *text;
}

bool CDeviceView::UpdateRow(int at, const ModemInfo& info) {
    if (SetIfChanged(at, kOnline, OnlineWord())) ++online_;
    // Only what changed since the row was last written is formatted again:
    // at a refresh most rows change nothing, or only their update time.
    const auto last = written_.constFind(info.deviceId);
    const bool fresh = last == written_.constEnd();
    if (!fresh && std::memcmp(&*last, &info, sizeof info) == 0) return false;
    const ModemInfo& was = fresh ? info : *last;
    if (fresh || was.loginTime != info.loginTime)
        SetIfChanged(at, kLogin, LocalTimeText(info.loginTime));
    if (fresh || was.lastUpdateTime != info.lastUpdateTime)
        SetIfChanged(at, kUpdate, LocalTimeText(info.lastUpdateTime));
    const bool simChanged =
        (fresh || std::memcmp(was.simNumber, info.simNumber, sizeof info.simNumber) != 0) &&
        SetIfChanged(at, kSim, SimText(info));
    const bool addressChanged =
        (fresh || std::memcmp(was.ipAddress, info.ipAddress, sizeof info.ipAddress) != 0) &&
        SetIfChanged(at, kAddress, AddressText(info));
    written_.insert(info.deviceId, info);
    return simChanged || addressChanged;
}

void CDeviceView::UpdateFromModem(const ModemInfo& info) {
    {
        const DeviceTableChanges changes(*rows_);
        const int at = SourceRowOf(info.deviceId);
        if (at < 0) {
            std::vector<RowPtr> added;
            added.push_back(MakeRow(info));
            written_.insert(info.deviceId, info);
            removed_.remove(info.deviceId);
            ++online_;
            AppendRows(std::move(added));
        } else if (UpdateRow(at, info)) {
            ApplyFilter(at);
        }
    }
    ShowCounts();
}

void CDeviceView::Refresh(const std::vector<ModemInfo>& online) {
    {
        // Every change below reaches the list at the end, as one notice per
        // group of columns; the new rows join it in one insertion.
        const DeviceTableChanges changes(*rows_);
        // The same end state as marking every row offline and then updating
        // the registered ones, without writing each online row twice.
        std::vector<const ModemInfo*> seen(static_cast<std::size_t>(rows_->Rows()), nullptr);
        std::vector<const ModemInfo*> appended;
        for (const ModemInfo& info : online) {
            const int at = SourceRowOf(info.deviceId);
            if (at < 0) {
                appended.push_back(&info);
            } else {
                seen[static_cast<std::size_t>(at)] = &info;
            }
        }
        const std::int64_t now = registry_.keeper ? registry_.now() : 0;
        for (int at = 0; at < rows_->Rows(); ++at) {
            const ModemInfo* info = seen[static_cast<std::size_t>(at)];
            if (info == nullptr) {
                if (IsOnlineAt(at)) --online_;
                SetIfChanged(at, kOnline, OfflineText(rows_->At(at).deviceId, now));
            } else if (UpdateRow(at, *info)) {
                ApplyFilter(at);
            }
        }
        // A table that lists one ID twice still makes one row, from the
        // later entry.
        std::vector<RowPtr> added;
        QHash<std::uint32_t, std::size_t> addedAt;
        for (const ModemInfo* info : appended) {
            const auto it = addedAt.constFind(info->deviceId);
            if (it == addedAt.constEnd()) {
                addedAt.insert(info->deviceId, added.size());
                added.push_back(MakeRow(*info));
                ++online_;
            } else {
                added[it.value()] = MakeRow(*info);
            }
            written_.insert(info->deviceId, *info);
            removed_.remove(info->deviceId);
        }
        AppendRows(std::move(added));
        if (registry_.keeper) {
            SyncRegistry();
            CountRegistry(now);
        }
    }
    ShowCounts();
}

void CDeviceView::RemoveAllRows() {
    rows_->Clear();
    index_.clear();
    written_.clear();
    removed_.clear();
    pending_.clear();
    pendingAt_ = 0;
    staged_.clear();
    synced_ = false;
    online_ = 0;
    battery_ = 0;
    ShowCounts();
}

bool CDeviceView::RemoveOfflineRow(int row) {
    const int at = list_->SourceRow(row);
    if (at < 0 || IsOnlineAt(at)) return false;
    const std::uint32_t deviceId = rows_->At(at).deviceId;
    written_.remove(deviceId);
    if (Entry(deviceId) != nullptr) removed_.insert(deviceId);
    if (rows_->Text(at, kPower) == BatteryWord()) --battery_;
    rows_->Remove(at);
    // The rows after it move up one.
    index_.remove(deviceId);
    for (auto it = index_.begin(); it != index_.end(); ++it) {
        if (it.value() > at) --it.value();
    }
    ShowCounts();
    return true;
}

QMenu* CDeviceView::RowMenu(int row) {
    const int at = list_->SourceRow(row);
    if (at < 0) return nullptr;
    const QString id = rows_->Text(at, kId);
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
    const bool online = IsOnlineAt(at);
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

bool CDeviceView::Matches(const Row& row) const {
    if (filterText_.isEmpty() && regionFilter_.empty() && tagFilter_.empty()) return true;
    const store::Terminal* t = Entry(row.deviceId);
    if (!regionFilter_.empty() && (t == nullptr || RegionKey(*t) != regionFilter_)) return false;
    if (!tagFilter_.empty() && (t == nullptr || !HasTag(*t, tagFilter_))) return false;
    if (filterText_.isEmpty()) return true;
    for (const int column : {kId, kSim, kAddress, kName, kRegion, kTags}) {
        if (row.texts[static_cast<std::size_t>(column)].contains(filterText_, Qt::CaseInsensitive))
            return true;
    }
    // The region column shows the name when there is one; its code matches too.
    return t != nullptr && Utf8(t->regionCode).contains(filterText_, Qt::CaseInsensitive);
}

void CDeviceView::ApplyFilterToAll() {
    rows_->SetAllShown([this](const Row& row) { return Matches(row); });
}

void CDeviceView::ApplyFilter(int at) {
    rows_->SetShown(at, Matches(rows_->At(at)));
}

bool CDeviceView::IsShown(int row) const {
    return rows_->IsShown(list_->SourceRow(row));
}

bool CDeviceView::IsOnlineAt(int at) const {
    return rows_->Text(at, kOnline) == OnlineWord();
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
    {
        const DeviceTableChanges changes(*rows_);
        for (int at = 0; at < rows_->Rows(); ++at) {
            if (pick(at)) rows_->SetChecked(at, checked);
        }
    }
    ShowCounts();
}

void CDeviceView::CheckAllShown() {
    CheckRows(true, [this](int at) { return rows_->IsShown(at); });
}

void CDeviceView::CheckOnlineShown() {
    CheckRows(true, [this](int at) { return rows_->IsShown(at) && IsOnlineAt(at); });
}

void CDeviceView::UncheckAll() {
    CheckRows(false, [](int) { return true; });
}

CDeviceView::Counts CDeviceView::RowCounts() const {
    const int total = rows_->Rows();
    return {
        rows_->CheckedCount(), total - rows_->HiddenCount(), online_, total, battery_, longOffline_,
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
    if (rows_->CheckedCount() == 0) return terminals;
    for (int row = 0; row < list_->RowCount(); ++row) {
        const int at = list_->SourceRow(row);
        if (rows_->IsChecked(at)) terminals.emplace_back(IdText(row), IsOnlineAt(at));
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
    const int at = list_->SourceRow(row);
    if (at < 0) return;
    const QString& battery = BatteryWord();
    const QString now = QString::fromStdString(GbkToUtf8Lossy(text));
    const QString was = rows_->Text(at, kPower);
    if (!rows_->SetText(at, kPower, now)) return;
    battery_ += (now == battery ? 1 : 0) - (was == battery ? 1 : 0);
}

}  // namespace pelmora
