// The grid lines of a list drawn as rows: a line under the row and one at
// the right edge of each shown column, in the style's grid colour.
#pragma once

class QHeaderView;
class QPainter;
class QStyleOptionViewItem;
class QWidget;

namespace pelmora {

void DrawRowGridLines(QPainter& painter, const QStyleOptionViewItem& option,
                      const QHeaderView& header, const QWidget& view);

}  // namespace pelmora
