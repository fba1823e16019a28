#include "CountConfirmDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelmora {

CountConfirmDialog::CountConfirmDialog(const QString& text, const QString& caption,
                                       std::size_t count, QWidget* parent)
    : QDialog(parent),
      box_(new QLineEdit(this)),
      confirm_(new QPushButton(QStringLiteral("确认"), this)),
      cancel_(new QPushButton(QStringLiteral("取消"), this)) {
    setWindowTitle(caption);
    auto* question = new QLabel(text, this);
    question->setWordWrap(true);
    question->setTextInteractionFlags(Qt::TextSelectableByMouse);
    const QString number = QString::number(count);
    auto* ask =
        new QLabel(QStringLiteral("本次将发给 %1 台终端。请输入台数 %1 以确认:").arg(number), this);
    box_->setPlaceholderText(number);
    confirm_->setEnabled(false);
    confirm_->setAutoDefault(false);
    cancel_->setDefault(true);
    // Until the right number is typed, Enter cancels.
    connect(box_, &QLineEdit::textChanged, this, [this, number](const QString& typed) {
        const bool right = typed.trimmed() == number;
        confirm_->setEnabled(right);
        confirm_->setDefault(right);
        cancel_->setDefault(!right);
    });
    connect(confirm_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(confirm_);
    buttons->addWidget(cancel_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addWidget(ask);
    layout->addWidget(box_);
    layout->addLayout(buttons);
    setMinimumWidth(460);
}

bool CountConfirmDialog::Ask(QWidget* parent, const QString& text, const QString& caption,
                             std::size_t count) {
    CountConfirmDialog dialog(text, caption, count, parent);
    return dialog.exec() == QDialog::Accepted &&
           dialog.box_->text().trimmed() == QString::number(count);
}

}  // namespace pelmora
