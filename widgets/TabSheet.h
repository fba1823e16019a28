// A row of tabs over a stack of pages. Pages change on a mouse click on a
// tab; moving the tab focus with the keyboard does not switch the page.
#pragma once

#include <QWidget>

#include <vector>

class QTabBar;

namespace pelmora {

class CTabSheet final : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMaxPages = 16;

    explicit CTabSheet(QWidget* parent = nullptr);

    // Ignored once 16 pages are there.
    void AddPage(const QString& title, QWidget* page, int dialogId);
    // Takes the pages in (once), makes one tab per page and shows the first.
    void ShowPages();
    // Places the pages below the tabs; the first becomes the current one.
    void LayoutPages();

    int PageCount() const { return static_cast<int>(pages_.size()); }
    int CurrentPage() const { return current_; }
    // Shows a page as a click on its tab would.
    void ShowPage(int index) { OnTabClicked(index); }
    QWidget* Page(int index) const;
    int DialogId(int index) const;
    QTabBar* TabBar() const { return bar_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Entry {
        QString title;
        QWidget* page;
        int dialogId;
    };
    QRect PageRect() const;
    void OnTabClicked(int index);

    QTabBar* bar_;
    std::vector<Entry> pages_;
    int current_ = 0;
    bool created_ = false;
};

}  // namespace pelmora
