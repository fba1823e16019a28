#include "ReviewBar.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelmora {

namespace {

QString Summary(const dispatch::Review& r) {
    QString from = r.alert ? QString::fromStdString(r.alert->sender) : QStringLiteral("接口");
    QString text = QString::fromStdString(r.content).simplified();
    if (text.size() > 40) text = text.left(40) + QStringLiteral("…");
    return QStringLiteral("记录%1 · %2%3 · %4 台 · %5")
        .arg(r.warningId)
        .arg(from)
        .arg(r.drill ? QStringLiteral(" · 演练") : QString())
        .arg(r.targets.size())
        .arg(text);
}

}  // namespace

ReviewBar::ReviewBar(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("reviewBar"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    title_ = new QLabel(this);
    title_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold;"));
    list_ = new QComboBox(this);
    list_->setObjectName(QStringLiteral("reviewList"));
    list_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    take_ = new QPushButton(QStringLiteral("审核"), this);
    take_->setObjectName(QStringLiteral("reviewTake"));
    refuse_ = new QPushButton(QStringLiteral("拒绝"), this);
    refuse_->setObjectName(QStringLiteral("reviewRefuse"));
    alert_ = new QPushButton(QStringLiteral("原文"), this);
    takenLabel_ = new QLabel(this);
    takenLabel_->setObjectName(QStringLiteral("reviewTaken"));
    takenLabel_->setWordWrap(true);
    leave_ = new QPushButton(QStringLiteral("退出审核"), this);
    layout->addWidget(title_, 0, 0);
    layout->addWidget(list_, 0, 1);
    layout->addWidget(take_, 0, 2);
    layout->addWidget(refuse_, 0, 3);
    layout->addWidget(alert_, 0, 4);
    layout->addWidget(takenLabel_, 1, 0, 1, 4);
    layout->addWidget(leave_, 1, 4);
    layout->setColumnStretch(1, 1);
    connect(take_, &QPushButton::clicked, this, [this] {
        if (Chosen() != 0) emit TakeRequested(Chosen());
    });
    connect(refuse_, &QPushButton::clicked, this, [this] {
        if (Chosen() != 0) emit RefuseRequested(Chosen());
    });
    connect(alert_, &QPushButton::clicked, this, [this] {
        if (taken_)
            ShowAlert(taken_->warningId);
        else if (Chosen() != 0)
            ShowAlert(Chosen());
    });
    connect(leave_, &QPushButton::clicked, this, &ReviewBar::LeaveRequested);
    SetTaken(std::nullopt);
    Refresh();
}

std::int64_t ReviewBar::Chosen() const {
    return list_->currentData().toLongLong();
}

void ReviewBar::Refresh() {
    reviews_ = desk_ != nullptr ? desk_->Reviews() : std::vector<dispatch::Review>{};
    const std::int64_t current = Chosen();
    list_->clear();
    for (const dispatch::Review& r : reviews_)
        list_->addItem(Summary(r), static_cast<qlonglong>(r.warningId));
    if (const int at = list_->findData(static_cast<qlonglong>(current)); at >= 0)
        list_->setCurrentIndex(at);
    title_->setText(QStringLiteral("待审核 %1 条").arg(reviews_.size()));
    // The one in the form may have been sent or refused elsewhere.
    if (taken_ && std::none_of(reviews_.begin(), reviews_.end(),
                               [this](const auto& r) { return r.warningId == taken_->warningId; }))
        emit LeaveRequested();
    setVisible(!reviews_.empty() || taken_.has_value());
}

void ReviewBar::SetTaken(std::optional<dispatch::Review> review) {
    taken_ = std::move(review);
    takenLabel_->setVisible(taken_.has_value());
    leave_->setVisible(taken_.has_value());
    if (taken_) {
        const auto& r = *taken_;
        takenLabel_->setText(
            QStringLiteral("正在审核记录%1%2: 内容和目标已载入下方,可修改后发布,或拒绝。%3")
                .arg(r.warningId)
                .arg(r.alert ? QStringLiteral("(%1 的预警 %2, 来自 %3)")
                                   .arg(QString::fromStdString(r.alert->sender),
                                        QString::fromStdString(r.alert->identifier),
                                        QString::fromStdString(r.alert->source))
                             : QString())
                .arg(r.alert && !r.alert->note.empty()
                         ? QStringLiteral("注意: ") + QString::fromStdString(r.alert->note)
                         : QString()));
    }
    setVisible(!reviews_.empty() || taken_.has_value());
}

void ReviewBar::ShowAlert(std::int64_t warningId) {
    QString text = QStringLiteral("记录%1 不是来自 CAP 预警").arg(warningId);
    for (const dispatch::Review& r : reviews_)
        if (r.warningId == warningId && r.alert && !r.alert->xml.empty())
            text = QString::fromStdString(r.alert->xml);
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("预警原文"));
    dialog.resize(640, 480);
    auto* layout = new QVBoxLayout(&dialog);
    auto* view = new QPlainTextEdit(text, &dialog);
    view->setReadOnly(true);
    layout->addWidget(view);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.exec();
}

}  // namespace pelmora
