#include "PagesWorkspace.h"

#include <QSplitter>
#include <QVBoxLayout>

#include "LeftView.h"
#include "MySplitterWnd.h"
#include "PelmoraView.h"

namespace pelmora {

namespace {

constexpr int kLeftPaneWidth = 200;
constexpr int kDevicePaneHeight = 200;

}  // namespace

PagesWorkspace::PagesWorkspace(CLeftView* left, CPelmoraView* pages, QWidget* parent)
    : QWidget(parent), outer_(new CMySplitterWnd(Qt::Horizontal, this)) {
    setObjectName(QStringLiteral("pagesWorkspace"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(outer_);
    inner_ = new QSplitter(Qt::Vertical, outer_);
    auto* holder = new QWidget(inner_);
    deviceSlot_ = new QVBoxLayout(holder);
    deviceSlot_->setContentsMargins(0, 0, 0, 0);
    inner_->addWidget(holder);
    inner_->addWidget(pages);
    outer_->addWidget(left);
    outer_->addWidget(inner_);
    outer_->setSizes({kLeftPaneWidth, 1240});
    outer_->setStretchFactor(0, 0);
    outer_->setStretchFactor(1, 1);
    inner_->setSizes({kDevicePaneHeight, 640});
    inner_->setStretchFactor(0, 0);
    inner_->setStretchFactor(1, 1);
    left->setFixedWidth(kLeftPaneWidth);
}

}  // namespace pelmora
