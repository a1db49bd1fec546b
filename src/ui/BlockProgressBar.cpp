#include "ui/BlockProgressBar.h"

#include <QPainter>

BlockProgressBar::BlockProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setTextVisible(false);
}

void BlockProgressBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& pal = palette();
    const QRect r = rect();
    painter.fillRect(r, pal.window());

    // A one-pixel static edge: dark above and left, light below and right.
    painter.setPen(pal.color(QPalette::Dark));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(pal.color(QPalette::Light));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());

    const int span = maximum() - minimum();
    if (span <= 0 || value() <= minimum()) return;
    const QRect inner = r.adjusted(2, 2, -2, -2);
    if (inner.isEmpty()) return;
    // Blocks two thirds as wide as they are high, two pixels apart; the
    // last one is cut off by the edge rather than squeezed.
    const int block = qMax(2, inner.height() * 2 / 3);
    const int gap = 2;
    const int filled = int(qint64(inner.width()) * (value() - minimum()) / span);
    for (int x = 0; x < filled; x += block + gap)
        painter.fillRect(QRect(inner.left() + x, inner.top(), qMin(block, inner.width() - x), inner.height()),
                         pal.highlight());
}
