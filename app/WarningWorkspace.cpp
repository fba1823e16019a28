#include "WarningWorkspace.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <set>

#include "EngineUi.h"
#include "GprsDataDlg.h"
#include "GroupJob.h"
#include "GroupJobPanel.h"
#include "GroupLauncher.h"
#include "Mp3Control.h"
#include "RegionTreeModel.h"
#include "RegistryKeeper.h"
#include "ReviewBar.h"
#include "ServiceSettings.h"
#include "Store.h"

namespace pelmora {

namespace {

constexpr int kComposeWidth = 540;
constexpr int kRecountMs = 2000;
constexpr char kNoTemplate[] = "(不使用模板)";
constexpr char kNoGroup[] = "(不使用目标组)";

QString Joined(const std::vector<std::string>& items) {
    QStringList out;
    for (const std::string& item : items)
        out << (item.empty() ? QStringLiteral("未设区划") : QString::fromStdString(item));
    return out.join(QStringLiteral("、"));
}

QPushButton* Button(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

WarningWorkspace::WarningWorkspace(store::Store& store, const dispatch::RegistryKeeper& keeper,
                                   GroupLauncher& launcher, const IDeviceList& devices,
                                   const ServiceSettings& settings, Hooks hooks, QWidget* parent)
    : QWidget(parent),
      store_(store),
      keeper_(keeper),
      launcher_(launcher),
      devices_(devices),
      settings_(settings),
      hooks_(std::move(hooks)) {
    setObjectName(QStringLiteral("warningWorkspace"));
    if (!hooks_.askName) {
        hooks_.askName = [this](const QString& label, const QString& suggested) {
            return QInputDialog::getText(this, QStringLiteral("名称"), label, QLineEdit::Normal,
                                         suggested);
        };
    }
    split_ = new QSplitter(Qt::Horizontal, this);
    QSplitter* split = split_;
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(split);

    // The left side: the form, or the outcomes once it was sent.
    sides_ = new QStackedWidget;
    auto* scroller = new QScrollArea(split);
    scroller->setWidgetResizable(true);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidget(sides_);
    scroller->setMinimumWidth(360);
    split->addWidget(scroller);

    auto* form = new QWidget;
    auto* column = new QVBoxLayout(form);
    column->setContentsMargins(6, 4, 6, 4);

    review_ = new ReviewBar(form);
    column->addWidget(review_, 0);

    auto* contentBox = new QGroupBox(QStringLiteral("预警内容"), form);
    auto* contentLayout = new QGridLayout(contentBox);
    templates_ = new QComboBox(contentBox);
    templates_->setObjectName(QStringLiteral("templateBox"));
    templates_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* saveTemplate = Button(QStringLiteral("存为模板..."), contentBox);
    auto* deleteTemplate = Button(QStringLiteral("删除模板"), contentBox);
    content_ = new QPlainTextEdit(contentBox);
    content_->setObjectName(QStringLiteral("warningContent"));
    content_->setPlaceholderText(QStringLiteral("输入预警内容,或选择预警模板后修改"));
    // The boxes share what height there is: the send stays in view.
    content_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    content_->setMinimumHeight(50);
    measure_ = new QLabel(contentBox);
    measure_->setObjectName(QStringLiteral("warningMeasure"));
    contentLayout->addWidget(new QLabel(QStringLiteral("预警模板:"), contentBox), 0, 0);
    contentLayout->addWidget(templates_, 0, 1);
    contentLayout->addWidget(saveTemplate, 0, 2);
    contentLayout->addWidget(deleteTemplate, 0, 3);
    contentLayout->addWidget(content_, 1, 0, 1, 4);
    contentLayout->addWidget(measure_, 2, 0, 1, 4);
    contentLayout->setColumnStretch(1, 1);
    contentLayout->setRowStretch(1, 1);
    column->addWidget(contentBox, 3);

    auto* targetBox = new QGroupBox(QStringLiteral("发布目标"), form);
    auto* targetLayout = new QGridLayout(targetBox);
    regions_ = new QTreeView(targetBox);
    regions_->setObjectName(QStringLiteral("targetRegions"));
    regions_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    regions_->setMinimumHeight(64);
    regions_->setUniformRowHeights(true);
    tags_ = new QLineEdit(targetBox);
    tags_->setObjectName(QStringLiteral("targetTags"));
    tags_->setPlaceholderText(QStringLiteral("以;分隔,如 学校;河边"));
    groups_ = new QComboBox(targetBox);
    groups_->setObjectName(QStringLiteral("targetGroupBox"));
    auto* saveGroup = Button(QStringLiteral("存为目标组..."), targetBox);
    auto* deleteGroup = Button(QStringLiteral("删除目标组"), targetBox);
    ticked_ = new QCheckBox(QStringLiteral("加上设备列表中勾选的终端"), targetBox);
    ticked_->setObjectName(QStringLiteral("targetTicked"));
    count_ = new QLabel(targetBox);
    count_->setObjectName(QStringLiteral("targetCount"));
    count_->setWordWrap(true);
    targetLayout->addWidget(new QLabel(QStringLiteral("区划:"), targetBox), 0, 0, Qt::AlignTop);
    targetLayout->addWidget(regions_, 0, 1, 1, 3);
    targetLayout->addWidget(new QLabel(QStringLiteral("标签:"), targetBox), 1, 0);
    targetLayout->addWidget(tags_, 1, 1, 1, 3);
    targetLayout->addWidget(new QLabel(QStringLiteral("目标组:"), targetBox), 2, 0);
    targetLayout->addWidget(groups_, 2, 1);
    targetLayout->addWidget(saveGroup, 2, 2);
    targetLayout->addWidget(deleteGroup, 2, 3);
    targetLayout->addWidget(ticked_, 3, 1, 1, 3);
    targetLayout->addWidget(count_, 4, 0, 1, 4);
    targetLayout->setColumnStretch(1, 1);
    targetLayout->setRowStretch(0, 1);
    column->addWidget(targetBox, 4);

    auto* sendBox = new QGroupBox(QStringLiteral("发布方式"), form);
    auto* sendLayout = new QGridLayout(sendBox);
    play_ = new QRadioButton(QStringLiteral("播放内容"), sendBox);
    play_->setChecked(true);
    mp3_ = new QRadioButton(QStringLiteral("播放MP3标题"), sendBox);
    mp3_->setObjectName(QStringLiteral("warningMp3"));
    title_ = new QComboBox(sendBox);
    for (int i = 1; i <= 10; ++i) title_->addItem(QString::number(i));
    title_->setEnabled(false);
    validity_ = new QSpinBox(sendBox);
    validity_->setObjectName(QStringLiteral("warningValidity"));
    validity_->setRange(0, 7 * 24 * 60);
    validity_->setSuffix(QStringLiteral(" 分钟"));
    validity_->setSpecialValueText(QStringLiteral("不补发"));
    validity_->setValue(settings_.validityMinutes);
    publish_ = Button(QStringLiteral("发布预警"), sendBox);
    publish_->setObjectName(QStringLiteral("publishWarning"));
    publish_->setMinimumHeight(34);
    QFont bold = publish_->font();
    bold.setBold(true);
    publish_->setFont(bold);
    auto* validityLabel = new QLabel(QStringLiteral("有效期:"), sendBox);
    validityLabel->setToolTip(QStringLiteral("有效期内,错过的终端重新上线后补发"));
    validity_->setToolTip(validityLabel->toolTip());
    sendLayout->addWidget(play_, 0, 0);
    sendLayout->addWidget(mp3_, 0, 1);
    sendLayout->addWidget(title_, 0, 2);
    sendLayout->addWidget(validityLabel, 0, 3);
    sendLayout->addWidget(validity_, 0, 4);
    sendLayout->addWidget(publish_, 1, 0, 1, 5);
    column->addWidget(sendBox, 0);
    sides_->addWidget(form);

    // The outcomes, in place of the form while the job runs and after.
    auto* result = new QWidget;
    auto* resultLayout = new QVBoxLayout(result);
    resultLayout->setContentsMargins(6, 4, 6, 4);
    done_ = new QLabel(result);
    done_->setObjectName(QStringLiteral("publishState"));
    done_->setWordWrap(true);
    panel_ = new CGroupJobPanel(result);
    record_ = Button(QStringLiteral("查看预警记录"), result);
    record_->setObjectName(QStringLiteral("openRecord"));
    record_->setEnabled(false);
    auto* back = Button(QStringLiteral("返回编辑"), result);
    back->setObjectName(QStringLiteral("backToCompose"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(record_);
    buttons->addStretch(1);
    buttons->addWidget(back);
    resultLayout->addWidget(done_);
    resultLayout->addWidget(panel_, 1);
    resultLayout->addLayout(buttons);
    sides_->addWidget(result);

    // The right side: the device list.
    auto* holder = new QWidget(split);
    deviceSlot_ = new QVBoxLayout(holder);
    deviceSlot_->setContentsMargins(0, 0, 0, 0);
    split->addWidget(holder);
    split->setSizes({kComposeWidth, 800});
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);

    connect(content_, &QPlainTextEdit::textChanged, this,
            [this] { ShowContentMeasure(*content_, *measure_); });
    connect(mp3_, &QRadioButton::toggled, title_, &QWidget::setEnabled);
    connect(templates_, &QComboBox::activated, this, &WarningWorkspace::ApplyTemplate);
    connect(saveTemplate, &QPushButton::clicked, this, &WarningWorkspace::SaveTemplate);
    connect(deleteTemplate, &QPushButton::clicked, this, &WarningWorkspace::DeleteTemplate);
    connect(groups_, &QComboBox::activated, this, &WarningWorkspace::ApplyGroup);
    connect(saveGroup, &QPushButton::clicked, this, &WarningWorkspace::SaveGroup);
    connect(deleteGroup, &QPushButton::clicked, this, &WarningWorkspace::DeleteGroup);
    connect(tags_, &QLineEdit::textChanged, this, &WarningWorkspace::Recount);
    connect(ticked_, &QCheckBox::toggled, this, &WarningWorkspace::Recount);
    connect(publish_, &QPushButton::clicked, this, &WarningWorkspace::Publish);
    connect(review_, &ReviewBar::TakeRequested, this, &WarningWorkspace::TakeReview);
    connect(review_, &ReviewBar::RefuseRequested, this, &WarningWorkspace::RefuseReview);
    connect(review_, &ReviewBar::LeaveRequested, this, &WarningWorkspace::LeaveReview);
    connect(back, &QPushButton::clicked, this, &WarningWorkspace::BackToCompose);
    connect(record_, &QPushButton::clicked, this, [this] {
        if (hooks_.openRecord) hooks_.openRecord();
    });
    connect(panel_, &CGroupJobPanel::LogLine, this, [this](const QString& line) {
        if (hooks_.log) hooks_.log(line);
    });
    // Online states change as terminals come and go: the counts follow.
    auto* recount = new QTimer(this);
    connect(recount, &QTimer::timeout, this, [this] {
        if (isVisible()) Recount();
    });
    recount->start(kRecountMs);

    LoadTemplates();
    LoadGroups();
    ShowContentMeasure(*content_, *measure_);
    Recount();
}

WarningWorkspace::~WarningWorkspace() = default;

void WarningWorkspace::SetRegionModel(RegionTreeModel* model) {
    regions_->setModel(model);
    regionModel_ = model;
    const auto fitColumns = [this] {
        QHeaderView* header = regions_->header();
        header->setStretchLastSection(false);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        if (header->count() > 0) header->setSectionResizeMode(0, QHeaderView::Stretch);
    };
    fitColumns();
    connect(model, &QAbstractItemModel::modelReset, this, fitColumns);
    // Only the checks change the targets; the counts' redraws do not.
    connect(model, &RegionTreeModel::ChecksChanged, this, &WarningWorkspace::Recount);
    Recount();
}

dispatch::TargetChoice WarningWorkspace::Choice() const {
    dispatch::TargetChoice choice;
    if (regionModel_ != nullptr) choice.regions = regionModel_->CheckedCodes();
    choice.regions.insert(choice.regions.end(), groupRegions_.begin(), groupRegions_.end());
    choice.tags = store::SplitList(tags_->text().toStdString());
    choice.devices = groupDevices_;
    choice.devices.insert(choice.devices.end(), reviewTargets_.begin(), reviewTargets_.end());
    if (ticked_->isChecked()) {
        TickedTerminals ticked = CollectTicked(devices_);
        choice.devices.insert(choice.devices.end(), ticked.online.begin(), ticked.online.end());
        choice.devices.insert(choice.devices.end(), ticked.offline.begin(), ticked.offline.end());
    }
    return choice;
}

std::vector<std::uint32_t> WarningWorkspace::Targets() const {
    return dispatch::ResolveTargets(keeper_.Terminals(), Choice());
}

void WarningWorkspace::Recount() {
    const auto targets = Targets();
    const dispatch::TargetCounts counts = dispatch::CountTargets(
        targets, keeper_.Terminals(), [this](std::uint32_t id) { return keeper_.Online(id); });
    if (counts.Total() == 0) {
        count_->setText(QStringLiteral("目标: 尚未选择终端"));
        return;
    }
    count_->setText(QStringLiteral("目标: 共 %1 台 — 在线 %2 台,离线 %3 台,从未上线 %4 台")
                        .arg(counts.Total())
                        .arg(counts.online)
                        .arg(counts.offline)
                        .arg(counts.never));
}

QString WarningWorkspace::TargetsText() const {
    QStringList parts;
    if (regionModel_ != nullptr) {
        if (const auto regions = regionModel_->CheckedCodes(); !regions.empty())
            parts << QStringLiteral("区划 %1").arg(Joined(regions));
    }
    if (groups_->currentIndex() > 0)
        parts << QStringLiteral("目标组“%1”").arg(groups_->currentText());
    if (const auto tags = store::SplitList(tags_->text().toStdString()); !tags.empty())
        parts << QStringLiteral("标签 %1").arg(Joined(tags));
    if (ticked_->isChecked()) {
        const TickedTerminals ticked = CollectTicked(devices_, hooks_.rowShown);
        QString text =
            QStringLiteral("勾选的 %1 台").arg(ticked.online.size() + ticked.offline.size());
        if (ticked.hidden > 0)
            text += QStringLiteral("(其中 %1 台被设备列表的筛选隐藏)").arg(ticked.hidden);
        parts << text;
    }
    return parts.join(QStringLiteral("、")) + QStringLiteral("中的");
}

bool WarningWorkspace::Publish() {
    if (hooks_.serviceRunning && !hooks_.serviceRunning()) {
        Tell(QStringLiteral("服务未启动!"));
        return false;
    }
    const bool mp3 = mp3_->isChecked();
    std::string text;
    if (mp3) {
        text = FormatTitleNumber(title_->currentText());
    } else {
        if (content_->toPlainText().trimmed().isEmpty()) {
            Tell(QStringLiteral("请输入预警内容"));
            return false;
        }
        std::optional<std::string> bytes = PlayContentBytes(content_->toPlainText());
        if (!bytes) {
            Tell(QStringLiteral("播放内容含有无法发送的字符,请修改"));
            return false;
        }
        text = std::move(*bytes);
    }
    const auto targets = Targets();
    if (targets.empty()) {
        Tell(QStringLiteral("请选择发布目标: 区划、标签、目标组或设备列表中勾选的终端"));
        return false;
    }
    if (const auto review = review_->Taken()) return PublishReviewed(*review, text, targets);
    RecordNote note;
    note.validity = static_cast<std::int64_t>(validity_->value()) * 60;
    launching_ = true;
    const bool sent = launcher_.LaunchTo(mp3 ? CommandKind::PlayMp3 : CommandKind::SendPlayContent,
                                         std::move(text), targets, TargetsText(), note);
    launching_ = false;
    return sent;
}

bool WarningWorkspace::PublishReviewed(const dispatch::Review& review, const std::string& text,
                                       const std::vector<std::uint32_t>& targets) {
    if (mp3_->isChecked()) {
        Tell(QStringLiteral("审核中的预警播放其内容,不能改为MP3标题"));
        return false;
    }
    TickedTerminals split;
    for (const std::uint32_t id : targets)
        (keeper_.Online(id) ? split.online : split.offline).push_back(id);
    const QString whose = QStringLiteral("%1待审核记录%2的")
                              .arg(review.drill ? QStringLiteral("演练: ") : QString())
                              .arg(review.warningId);
    if (!launcher_.Ask(CommandKind::SendPlayContent, text, split, whose)) return false;
    const std::string refused =
        review_->Desk()->Approve(review.warningId, content_->toPlainText().toStdString(), targets);
    if (!refused.empty()) {
        Tell(QString::fromStdString(refused));
        return false;
    }
    if (hooks_.log)
        hooks_.log(QStringLiteral("审核通过, 发布记录%1给%2台终端")
                       .arg(review.warningId)
                       .arg(targets.size()));
    LeaveReview();
    review_->Refresh();
    const std::shared_ptr<GroupJob> job = hooks_.sendReviewed ? hooks_.sendReviewed() : nullptr;
    if (!job) {
        Tell(QStringLiteral("已确认发布, 当前操作结束后发出"));
        return true;
    }
    launching_ = true;
    Claim(job);
    launching_ = false;
    return true;
}

void WarningWorkspace::SetDesk(dispatch::WarningDesk* desk,
                               std::function<std::shared_ptr<GroupJob>()> send) {
    review_->SetDesk(desk);
    hooks_.sendReviewed = std::move(send);
    review_->Refresh();
}

bool WarningWorkspace::TakeReview(std::int64_t warningId) {
    if (review_->Desk() == nullptr) return false;
    for (const dispatch::Review& r : review_->Desk()->Reviews()) {
        if (r.warningId != warningId) continue;
        BackToCompose();
        review_->SetTaken(r);
        templates_->setCurrentIndex(0);
        content_->setPlainText(QString::fromStdString(r.content));
        play_->setChecked(true);
        // Its own terminals only: the other choices are cleared.
        if (regionModel_ != nullptr)
            for (const std::string& code : regionModel_->CheckedCodes())
                regionModel_->SetChecked(code, false);
        tags_->clear();
        groups_->setCurrentIndex(0);
        ApplyGroup(0);
        ticked_->setChecked(false);
        reviewTargets_ = r.targets;
        // Its validity is the alert's own.
        const std::int64_t left =
            r.expires > 0 ? (r.expires - QDateTime::currentSecsSinceEpoch()) : 0;
        validity_->setValue(
            static_cast<int>(std::clamp<std::int64_t>((left + 59) / 60, 0, validity_->maximum())));
        validity_->setEnabled(false);
        mp3_->setEnabled(false);
        MarkReviewRegions();
        Recount();
        if (hooks_.log) hooks_.log(QStringLiteral("开始审核记录%1").arg(warningId));
        return true;
    }
    return false;
}

void WarningWorkspace::MarkReviewRegions() {
    if (regionModel_ == nullptr || regions_->selectionModel() == nullptr) return;
    regions_->selectionModel()->clearSelection();
    std::set<std::string> codes;
    for (const std::uint32_t id : reviewTargets_)
        if (const auto it = keeper_.Terminals().find(id); it != keeper_.Terminals().end())
            codes.insert(it->second.regionCode);
    QModelIndex first;
    for (const std::string& code : codes) {
        const QModelIndex index = regionModel_->IndexOf(code);
        if (!index.isValid()) continue;
        if (!first.isValid()) first = index;
        regions_->selectionModel()->select(index,
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) regions_->expand(up);
    }
    if (first.isValid()) regions_->scrollTo(first);
}

void WarningWorkspace::LeaveReview() {
    if (!review_->Taken()) return;
    review_->SetTaken(std::nullopt);
    reviewTargets_.clear();
    validity_->setEnabled(true);
    validity_->setValue(settings_.validityMinutes);
    mp3_->setEnabled(true);
    if (regions_->selectionModel() != nullptr) regions_->selectionModel()->clearSelection();
    Recount();
}

bool WarningWorkspace::RefuseReview(std::int64_t warningId) {
    if (review_->Desk() == nullptr) return false;
    const bool asked = !hooks_.confirmRefuse || hooks_.confirmRefuse(warningId);
    if (!asked || !review_->Desk()->Refuse(warningId)) return false;
    if (hooks_.log) hooks_.log(QStringLiteral("已拒绝待审核记录%1, 未发送").arg(warningId));
    if (review_->Taken() && review_->Taken()->warningId == warningId) LeaveReview();
    review_->Refresh();
    return true;
}

bool WarningWorkspace::Claim(const std::shared_ptr<GroupJob>& job) {
    if (!launching_) return false;
    panel_->Show(job);
    done_->setText(QStringLiteral("预警已发布,各终端的结果如下;全部结束后可查看预警记录。"));
    record_->setEnabled(false);
    sides_->setCurrentIndex(1);
    // The record is complete once the job is.
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this, watch, weak = std::weak_ptr<GroupJob>(job)] {
        const auto running = weak.lock();
        if (running && !running->Finished()) return;
        watch->deleteLater();
        done_->setText(QStringLiteral("发布结束,每台终端的结果已记入预警记录。"));
        record_->setEnabled(true);
    });
    watch->start(300);
    return true;
}

void WarningWorkspace::BackToCompose() {
    sides_->setCurrentIndex(0);
    Recount();
}

bool WarningWorkspace::ShowingOutcomes() const {
    return sides_->currentIndex() == 1;
}

void WarningWorkspace::LoadTemplates() {
    const QString current = templates_->currentText();
    templates_->clear();
    templates_->addItem(QString::fromUtf8(kNoTemplate));
    for (const store::WarningTemplate& t : store_.Templates()) {
        const QString name = QString::fromStdString(t.name);
        const QString label = t.category.empty() ? name
                                                 : QStringLiteral("%1 / %2").arg(
                                                       QString::fromStdString(t.category), name);
        templates_->addItem(label, name);
        templates_->setItemData(templates_->count() - 1, QString::fromStdString(t.content),
                                Qt::ToolTipRole);
    }
    templates_->setCurrentIndex(std::max(0, templates_->findText(current)));
}

void WarningWorkspace::ApplyTemplate(int index) {
    if (index <= 0) return;
    content_->setPlainText(templates_->itemData(index, Qt::ToolTipRole).toString());
}

bool WarningWorkspace::SaveTemplate() {
    const QString content = content_->toPlainText();
    if (content.trimmed().isEmpty()) {
        Tell(QStringLiteral("请先输入要存为模板的内容"));
        return false;
    }
    const QString suggested =
        templates_->currentIndex() > 0 ? templates_->currentData().toString() : QString();
    const QString answer =
        hooks_.askName(QStringLiteral("模板名称(可写成“类别/名称”,如“气象/暴雨红色”):"), suggested)
            .trimmed();
    if (answer.isEmpty()) return false;
    store::WarningTemplate entry;
    const qsizetype slash = answer.indexOf(QLatin1Char('/'));
    entry.name = (slash < 0 ? answer : answer.mid(slash + 1)).trimmed().toStdString();
    entry.category = slash < 0 ? std::string() : answer.left(slash).trimmed().toStdString();
    entry.content = content.toStdString();
    if (entry.name.empty()) {
        Tell(QStringLiteral("模板名称不能为空"));
        return false;
    }
    store_.SaveTemplate(entry);
    store_.Flush();
    LoadTemplates();
    templates_->setCurrentIndex(
        std::max(0, templates_->findData(QString::fromStdString(entry.name))));
    if (hooks_.log) hooks_.log(QStringLiteral("已保存预警模板“%1”").arg(answer));
    return true;
}

void WarningWorkspace::DeleteTemplate() {
    if (templates_->currentIndex() <= 0) return;
    const QString name = templates_->currentData().toString();
    store_.DeleteTemplate(name.toStdString());
    store_.Flush();
    LoadTemplates();
    if (hooks_.log) hooks_.log(QStringLiteral("已删除预警模板“%1”").arg(name));
}

void WarningWorkspace::LoadGroups() {
    const QString current = groups_->currentText();
    groups_->clear();
    groups_->addItem(QString::fromUtf8(kNoGroup));
    for (const store::TargetGroup& g : store_.TargetGroups())
        groups_->addItem(QString::fromStdString(g.name));
    groups_->setCurrentIndex(std::max(0, groups_->findText(current)));
}

void WarningWorkspace::ApplyGroup(int index) {
    groupRegions_.clear();
    groupDevices_.clear();
    if (index > 0) {
        const std::string name = groups_->itemText(index).toStdString();
        for (const store::TargetGroup& g : store_.TargetGroups()) {
            if (g.name != name) continue;
            groupRegions_ = g.regions;
            groupDevices_ = g.devices;
            // Its tags join what is typed.
            auto tags = store::SplitList(tags_->text().toStdString());
            tags.insert(tags.end(), g.tags.begin(), g.tags.end());
            std::sort(tags.begin(), tags.end());
            tags.erase(std::unique(tags.begin(), tags.end()), tags.end());
            tags_->setText(QString::fromStdString(store::JoinList(tags)));
        }
    }
    Recount();
}

bool WarningWorkspace::SaveGroup() {
    dispatch::TargetChoice choice = Choice();
    if (choice.Empty()) {
        Tell(QStringLiteral("请先选择要存为目标组的区划、标签或终端"));
        return false;
    }
    const QString name =
        hooks_
            .askName(QStringLiteral("目标组名称:"),
                     groups_->currentIndex() > 0 ? groups_->currentText() : QString())
            .trimmed();
    if (name.isEmpty()) return false;
    std::sort(choice.devices.begin(), choice.devices.end());
    choice.devices.erase(std::unique(choice.devices.begin(), choice.devices.end()),
                         choice.devices.end());
    store_.SaveTargetGroup({name.toStdString(), choice.regions, choice.tags, choice.devices});
    store_.Flush();
    LoadGroups();
    groups_->setCurrentIndex(std::max(0, groups_->findText(name)));
    if (hooks_.log)
        hooks_.log(QStringLiteral("已保存目标组“%1”: %2 个区划, %3 个标签, %4 台终端")
                       .arg(name)
                       .arg(choice.regions.size())
                       .arg(choice.tags.size())
                       .arg(choice.devices.size()));
    return true;
}

void WarningWorkspace::DeleteGroup() {
    if (groups_->currentIndex() <= 0) return;
    const QString name = groups_->currentText();
    store_.DeleteTargetGroup(name.toStdString());
    store_.Flush();
    LoadGroups();
    ApplyGroup(0);
    if (hooks_.log) hooks_.log(QStringLiteral("已删除目标组“%1”").arg(name));
}

void WarningWorkspace::Tell(const QString& text) const {
    if (hooks_.inform) hooks_.inform(text, QStringLiteral("提示"));
}

}  // namespace pelmora
