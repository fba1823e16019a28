#include "GridLines.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace pelmora {

void DrawRowGridLines(QPainter& painter, const QStyleOptionViewItem& option,
                      const QHeaderView& header, const QWidget& view) {
    QStyleOptionViewItem gridOption = option;
    const auto colour = static_cast<QRgb>(
        view.style()->styleHint(QStyle::SH_Table_GridLineColor, &gridOption, &view));
    painter.save();
    painter.setPen(QColor::fromRgba(colour));
    const QRect& rect = option.rect;
    painter.drawLine(rect.left(), rect.bottom(), rect.right(), rect.bottom());
    for (int section = 0; section < header.count(); ++section) {
        if (header.isSectionHidden(section)) continue;
        const int x = header.sectionViewportPosition(section) + header.sectionSize(section) - 1;
        painter.drawLine(x, rect.top(), x, rect.bottom());
    }
    painter.restore();
}

}  // namespace pelmora
