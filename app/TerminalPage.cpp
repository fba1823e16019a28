#include "TerminalPage.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <optional>

#include "DeviceView.h"
#include "RegistryKeeper.h"
#include "Store.h"

namespace pelmora {

namespace {

const QString kCaption = QStringLiteral("终端详情");

QString Utf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString TimeOrDash(std::int64_t seconds) {
    return seconds == 0 ? QStringLiteral("-") : LocalTimeText(static_cast<std::uint32_t>(seconds));
}

QString PowerText(const store::Terminal& t) {
    if (t.power == store::kPowerUnknown) return QStringLiteral("未知");
    const QString power =
        t.power == store::kPowerBattery ? QStringLiteral("备电") : QStringLiteral("主电");
    return t.powerChanged == 0
               ? power
               : QStringLiteral("%1 (自 %2)").arg(power, TimeOrDash(t.powerChanged));
}

QString KindText(const std::string& kind) {
    if (kind == "online") return QStringLiteral("上线");
    if (kind == "offline") return QStringLiteral("离线");
    if (kind == "power") return QStringLiteral("电源");
    return Utf8(kind);
}

QString CoordinateText(const std::optional<double>& value) {
    return value ? QString::number(*value, 'f', 6) : QString();
}

// Empty text: no value. Sets `bad` when the text is not a number.
std::optional<double> ReadCoordinate(const QString& text, bool& bad) {
    const QString trimmed = text.trimmed();
    bad = false;
    if (trimmed.isEmpty()) return std::nullopt;
    bool ok = false;
    const double value = trimmed.toDouble(&ok);  // '.' whatever the locale
    bad = !ok;
    return ok ? std::optional<double>(value) : std::nullopt;
}

}  // namespace

CTerminalPage::CTerminalPage(dispatch::RegistryKeeper& keeper, std::uint32_t deviceId,
                             std::int64_t now, Inform inform, QWidget* parent)
    : QDialog(parent), keeper_(keeper), deviceId_(deviceId), inform_(std::move(inform)) {
    const QString idText = QString::asprintf("%08x", deviceId);
    setWindowTitle(QStringLiteral("%1 - %2").arg(kCaption, idText));
    const auto& terminals = keeper.Terminals();
    const auto found = terminals.find(deviceId);
    const store::Terminal known = found == terminals.end() ? store::Terminal{} : found->second;
    const bool registered = found != terminals.end();

    auto* link = new QGroupBox(QStringLiteral("登记信息"), this);
    auto* linkForm = new QFormLayout(link);
    const auto show = [&](const QString& label, const QString& value) {
        auto* text = new QLabel(value, link);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        linkForm->addRow(label, text);
    };
    QString state = QStringLiteral("未登记");
    if (registered) {
        state = keeper.Online(deviceId) ? QStringLiteral("在线")
                : known.lastSeen == 0   ? QStringLiteral("从未上线")
                                        : OfflineTimeText(now - known.lastSeen);
    }
    show(QStringLiteral("设备ID"), idText);
    show(QStringLiteral("状态"), state);
    show(QStringLiteral("SIM 号码"), Utf8(known.sim));
    show(QStringLiteral("地址"), Utf8(known.address));
    show(QStringLiteral("首次上线"), TimeOrDash(known.firstSeen));
    show(QStringLiteral("最后在线"), TimeOrDash(known.lastSeen));
    show(QStringLiteral("供电"), PowerText(known));
    show(QStringLiteral("固件版本"), Utf8(known.firmware));

    auto* operatorBox = new QGroupBox(QStringLiteral("运维信息"), this);
    auto* operatorForm = new QFormLayout(operatorBox);
    const auto edit = [&](const char* name, const QString& label, const QString& value,
                          const QString& hint = QString()) {
        auto* box = new QLineEdit(value, operatorBox);
        box->setObjectName(name);
        box->setPlaceholderText(hint);
        box->setMinimumWidth(220);
        box->setEnabled(registered);
        operatorForm->addRow(label, box);
    };
    edit("name", QStringLiteral("名称"), Utf8(known.name));
    edit("regionCode", QStringLiteral("区划代码"), Utf8(known.regionCode));
    edit("regionName", QStringLiteral("区划名称"), Utf8(known.regionName));
    edit("latitude", QStringLiteral("纬度"), CoordinateText(known.latitude),
         QStringLiteral("-90 到 90"));
    edit("longitude", QStringLiteral("经度"), CoordinateText(known.longitude),
         QStringLiteral("-180 到 180"));
    edit("tags", QStringLiteral("标签"), Utf8(known.tags), QStringLiteral("多个标签以 ; 分隔"));
    edit("note", QStringLiteral("备注"), Utf8(known.note));

    auto* historyBox =
        new QGroupBox(QStringLiteral("最近记录 (最多 %1 条, 最新在前)").arg(kHistoryCount), this);
    history_ = new QTableWidget(historyBox);
    history_->setObjectName("terminalHistory");
    history_->setColumnCount(3);
    history_->setHorizontalHeaderLabels(
        {QStringLiteral("时间"), QStringLiteral("事件"), QStringLiteral("内容")});
    history_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    history_->setSelectionBehavior(QAbstractItemView::SelectRows);
    history_->verticalHeader()->hide();
    history_->horizontalHeader()->setStretchLastSection(true);
    history_->setColumnWidth(0, 150);
    history_->setColumnWidth(1, 60);
    const std::vector<store::Event> events = keeper.History(deviceId, kHistoryCount);
    history_->setRowCount(static_cast<int>(events.size()));
    for (int row = 0; row < static_cast<int>(events.size()); ++row) {
        const store::Event& event = events[static_cast<std::size_t>(row)];
        history_->setItem(row, 0, new QTableWidgetItem(TimeOrDash(event.time)));
        history_->setItem(row, 1, new QTableWidgetItem(KindText(event.kind)));
        history_->setItem(row, 2, new QTableWidgetItem(Utf8(event.value)));
    }
    auto* historyLayout = new QVBoxLayout(historyBox);
    historyLayout->addWidget(history_);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = buttons->addButton(QStringLiteral("保存"), QDialogButtonBox::AcceptRole);
    save->setObjectName("saveTerminal");
    save->setEnabled(registered);
    buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (Save()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* fields = new QHBoxLayout;
    fields->addWidget(link, 1);
    fields->addWidget(operatorBox, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addWidget(historyBox, 1);
    layout->addWidget(buttons);
    resize(760, 620);
}

QLineEdit* CTerminalPage::Field(const char* name) const {
    return findChild<QLineEdit*>(name);
}

bool CTerminalPage::Save() {
    bool badLatitude = false;
    bool badLongitude = false;
    dispatch::OperatorFields fields;
    fields.latitude = ReadCoordinate(Field("latitude")->text(), badLatitude);
    fields.longitude = ReadCoordinate(Field("longitude")->text(), badLongitude);
    if (badLatitude || badLongitude) {
        inform_(badLatitude ? QStringLiteral("纬度不是数字: %1").arg(Field("latitude")->text())
                            : QStringLiteral("经度不是数字: %1").arg(Field("longitude")->text()),
                kCaption);
        return false;
    }
    const auto text = [this](const char* name) {
        return Field(name)->text().trimmed().toStdString();
    };
    fields.name = text("name");
    fields.regionCode = text("regionCode");
    fields.regionName = text("regionName");
    fields.tags = text("tags");
    fields.note = text("note");
    const std::string refused = keeper_.SetOperatorFields(deviceId_, std::move(fields));
    if (!refused.empty()) {
        inform_(QStringLiteral("未保存: %1").arg(Utf8(refused)), kCaption);
        return false;
    }
    emit Saved(deviceId_);
    return true;
}

}  // namespace pelmora
