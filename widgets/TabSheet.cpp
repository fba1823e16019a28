#include "TabSheet.h"

#include <QResizeEvent>
#include <QTabBar>

namespace pelmora {

CTabSheet::CTabSheet(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)) {
    bar_->setExpanding(false);
    bar_->setDrawBase(true);
    connect(bar_, &QTabBar::tabBarClicked, this, &CTabSheet::OnTabClicked);
}

void CTabSheet::AddPage(const QString& title, QWidget* page, int dialogId) {
    if (page == nullptr || PageCount() >= kMaxPages) return;
    pages_.push_back({title, page, dialogId});
}

QWidget* CTabSheet::Page(int index) const {
    return index >= 0 && index < PageCount() ? pages_[static_cast<std::size_t>(index)].page
                                             : nullptr;
}

int CTabSheet::DialogId(int index) const {
    return index >= 0 && index < PageCount() ? pages_[static_cast<std::size_t>(index)].dialogId : 0;
}

void CTabSheet::ShowPages() {
    if (!created_) {
        for (const Entry& entry : pages_) entry.page->setParent(this);
        created_ = true;
    }
    while (bar_->count() > 0) bar_->removeTab(0);
    for (const Entry& entry : pages_) bar_->addTab(entry.title);
    LayoutPages();
}

QRect CTabSheet::PageRect() const {
    const QRect tab0 =
        bar_->count() > 0 ? bar_->tabRect(0) : QRect(0, 0, 0, bar_->sizeHint().height());
    const int top = bar_->geometry().top() + tab0.bottom() + 1;
    return QRect(tab0.left(), top, std::max(0, width() - tab0.left() - 2),
                 std::max(0, height() - top - 2));
}

void CTabSheet::LayoutPages() {
    bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
    current_ = 0;
    bar_->setCurrentIndex(0);
    const QRect rect = PageRect();
    for (int i = 0; i < PageCount(); ++i) {
        QWidget* page = pages_[static_cast<std::size_t>(i)].page;
        page->setGeometry(rect);
        page->setVisible(i == 0);
        if (i == 0) page->raise();
    }
}

void CTabSheet::OnTabClicked(int index) {
    if (index < 0 || index >= PageCount() || index == current_) return;
    pages_[static_cast<std::size_t>(current_)].page->hide();
    current_ = index;
    QWidget* page = pages_[static_cast<std::size_t>(current_)].page;
    page->setGeometry(PageRect());
    page->show();
    page->raise();
}

void CTabSheet::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
    if (QWidget* page = Page(current_)) page->setGeometry(PageRect());
}

}  // namespace pelmora
